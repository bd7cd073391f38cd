// The WinSock error table (see winsock_errors.h).
#include "winsock_errors.h"

static const WinsockError WINSOCK_ERRORS[] = {
    {10004, "WSAEINTR", "a blocking call was cancelled (WSACancelBlockingCall)",
     AT_SELECT | AT_LOOKUP | AT_CONNECT | AT_DATA | AT_CLOSE},
    {10009, "WSAEBADF", "the file handle is not valid", 0},
    {10013, "WSAEACCES",
     "permission denied (an address or port the process may not use, or a socket option it may not set)",
     AT_CONNECT | AT_BIND | AT_SOCKOPT},
    {10014, "WSAEFAULT", "an address argument points outside the process's memory", AT_ANY_CALL | AT_STARTUP},
    {10022, "WSAEINVAL", "an argument is not valid for this call or the socket's state",
     AT_SELECT | AT_SOCKET | AT_NONBLOCK | AT_SOCKOPT | AT_CONNECT | AT_BIND | AT_DATA},
    {10024, "WSAEMFILE", "no more sockets can be opened (too many open)", AT_SOCKET},
    {10035, "WSAEWOULDBLOCK", "the non-blocking socket has nothing to give or take just now", AT_RECV | AT_CLOSE},
    {10036, "WSAEINPROGRESS", "a blocking WinSock call is already running on this thread",
     AT_ANY_CALL | AT_STARTUP},
    {10037, "WSAEALREADY", "an operation is already in progress on this non-blocking socket", AT_CONNECT},
    {10038, "WSAENOTSOCK", "the value is not a socket (closed already, or never opened)",
     AT_SELECT | AT_NONBLOCK | AT_SOCKOPT | AT_DATA | AT_CLOSE},
    {10039, "WSAEDESTADDRREQ", "a destination address is required", 0},
    {10040, "WSAEMSGSIZE", "the message is too long for the socket", 0},
    {10041, "WSAEPROTOTYPE", "the protocol is the wrong type for this socket", AT_SOCKET},
    {10042, "WSAENOPROTOOPT", "the socket option is not supported", 0},
    {10043, "WSAEPROTONOSUPPORT", "the protocol is not supported", AT_SOCKET},
    {10044, "WSAESOCKTNOSUPPORT", "the socket type is not supported", AT_SOCKET},
    {10045, "WSAEOPNOTSUPP", "the operation is not supported on this socket", AT_DATA},
    {10046, "WSAEPFNOSUPPORT", "the protocol family is not supported", AT_SOCKET},
    {10047, "WSAEAFNOSUPPORT", "the address family is not supported (no IPv4 stack?)", AT_SOCKET | AT_CONNECT | AT_BIND},
    {10048, "WSAEADDRINUSE", "the local address and port are already in use", AT_CONNECT | AT_BIND},
    {10049, "WSAEADDRNOTAVAIL", "the address is not valid here (for bind: not an address of this machine)",
     AT_CONNECT | AT_BIND},
    {10050, "WSAENETDOWN", "the network subsystem has failed", AT_ANY_CALL},
    {10051, "WSAENETUNREACH", "the network cannot be reached from this machine", AT_CONNECT | AT_SEND},
    {10052, "WSAENETRESET", "the connection broke while the network was reset (keep-alive failed)",
     AT_SOCKOPT | AT_DATA},
    {10053, "WSAECONNABORTED", "the connection was aborted on this machine (time-out or protocol error)", AT_DATA},
    {10054, "WSAECONNRESET", "the server reset the connection (it closed abruptly or restarted)", AT_DATA},
    {10055, "WSAENOBUFS", "no buffer space is available (too many connections or a full system)",
     AT_SOCKET | AT_CONNECT | AT_BIND},
    {10056, "WSAEISCONN", "the socket is already connected", AT_CONNECT},
    {10057, "WSAENOTCONN", "the socket is not connected", AT_SOCKOPT | AT_DATA},
    {10058, "WSAESHUTDOWN", "the socket was shut down in this direction", AT_DATA},
    {10059, "WSAETOOMANYREFS", "too many references to a kernel object", 0},
    {10060, "WSAETIMEDOUT", "the server did not answer in time", AT_CONNECT | AT_DATA},
    {10061, "WSAECONNREFUSED", "the connection was refused: nothing listens on that port of the server",
     AT_CONNECT},
    {10062, "WSAELOOP", "too many levels of symbolic links", 0},
    {10063, "WSAENAMETOOLONG", "a name is too long", 0},
    {10064, "WSAEHOSTDOWN", "the server's host is down", AT_CONNECT | AT_SEND},
    {10065, "WSAEHOSTUNREACH", "there is no route to the server's host", AT_CONNECT | AT_SEND},
    {10066, "WSAENOTEMPTY", "the directory is not empty", 0},
    {10067, "WSAEPROCLIM", "too many processes use the socket library", AT_STARTUP},
    {10068, "WSAEUSERS", "too many users", 0},
    {10069, "WSAEDQUOT", "the disk quota is exceeded", 0},
    {10070, "WSAESTALE", "a file handle is stale", 0},
    {10071, "WSAEREMOTE", "too many levels of remote in a path", 0},
    {10091, "WSASYSNOTREADY", "the network subsystem is not ready", AT_STARTUP},
    {10092, "WSAVERNOTSUPPORTED", "the socket library does not offer WinSock version 1.1", AT_STARTUP},
    {10093, "WSANOTINITIALISED", "the socket library was not started (or was released too often)",
     AT_ANY_CALL},
    {10101, "WSAEDISCON", "the server is closing the connection gracefully", AT_DATA},
    {11001, "WSAHOST_NOT_FOUND", "no such host or service is known (authoritative answer)", AT_LOOKUP},
    {11002, "WSATRY_AGAIN", "the name server did not answer; try again later", AT_LOOKUP},
    {11003, "WSANO_RECOVERY", "the name look-up failed for good (name server or services file error)", AT_LOOKUP},
    {11004, "WSANO_DATA", "the name is valid but has no entry of the type asked for", AT_LOOKUP},
};
enum { WINSOCK_ERROR_COUNT = sizeof WINSOCK_ERRORS / sizeof WINSOCK_ERRORS[0] };

const WinsockError* FindWinsockError(LONG code)
{
    for (int i = 0; i < WINSOCK_ERROR_COUNT; i++)
        if (WINSOCK_ERRORS[i].code == code)
            return &WINSOCK_ERRORS[i];
    return NULL;
}

const char* WinsockErrorName(LONG error)
{
    const WinsockError* e = FindWinsockError(error);
    return e ? e->name : NULL;
}

