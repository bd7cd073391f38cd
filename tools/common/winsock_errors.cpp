// The WinSock error table (see winsock_errors.h).
#include "winsock_errors.h"

// An error's number and name, both from the system's own definition
// (winerror.h, through windows.h), so the two cannot drift apart.
#define NAMED(name) name, #name

static const WinsockError WINSOCK_ERRORS[] = {
    {NAMED(WSAEINTR), "a blocking call was cancelled (WSACancelBlockingCall)",
     AT_SELECT | AT_LOOKUP | AT_CONNECT | AT_DATA | AT_CLOSE},
    {NAMED(WSAEBADF), "the file handle is not valid", 0},
    {NAMED(WSAEACCES),
     "permission denied (an address or port the process may not use, or a socket option it may not set)",
     AT_CONNECT | AT_BIND | AT_SOCKOPT},
    {NAMED(WSAEFAULT), "an address argument points outside the process's memory", AT_ANY_CALL | AT_STARTUP},
    {NAMED(WSAEINVAL), "an argument is not valid for this call or the socket's state",
     AT_SELECT | AT_SOCKET | AT_NONBLOCK | AT_SOCKOPT | AT_CONNECT | AT_BIND | AT_DATA},
    {NAMED(WSAEMFILE), "no more sockets can be opened (too many open)", AT_SOCKET},
    {NAMED(WSAEWOULDBLOCK), "the non-blocking socket has nothing to give or take just now", AT_RECV | AT_CLOSE},
    {NAMED(WSAEINPROGRESS), "a blocking WinSock call is already running on this thread",
     AT_ANY_CALL | AT_STARTUP},
    {NAMED(WSAEALREADY), "an operation is already in progress on this non-blocking socket", AT_CONNECT},
    {NAMED(WSAENOTSOCK), "the value is not a socket (closed already, or never opened)",
     AT_SELECT | AT_NONBLOCK | AT_SOCKOPT | AT_DATA | AT_CLOSE},
    {NAMED(WSAEDESTADDRREQ), "a destination address is required", 0},
    {NAMED(WSAEMSGSIZE), "the message is too long for the socket", 0},
    {NAMED(WSAEPROTOTYPE), "the protocol is the wrong type for this socket", AT_SOCKET},
    {NAMED(WSAENOPROTOOPT), "the socket option is not supported", 0},
    {NAMED(WSAEPROTONOSUPPORT), "the protocol is not supported", AT_SOCKET},
    {NAMED(WSAESOCKTNOSUPPORT), "the socket type is not supported", AT_SOCKET},
    {NAMED(WSAEOPNOTSUPP), "the operation is not supported on this socket", AT_DATA},
    {NAMED(WSAEPFNOSUPPORT), "the protocol family is not supported", AT_SOCKET},
    {NAMED(WSAEAFNOSUPPORT), "the address family is not supported (no IPv4 stack?)", AT_SOCKET | AT_CONNECT | AT_BIND},
    {NAMED(WSAEADDRINUSE), "the local address and port are already in use", AT_CONNECT | AT_BIND},
    {NAMED(WSAEADDRNOTAVAIL), "the address is not valid here (for bind: not an address of this machine)",
     AT_CONNECT | AT_BIND},
    {NAMED(WSAENETDOWN), "the network subsystem has failed", AT_ANY_CALL},
    {NAMED(WSAENETUNREACH), "the network cannot be reached from this machine", AT_CONNECT | AT_SEND},
    {NAMED(WSAENETRESET), "the connection broke while the network was reset (keep-alive failed)",
     AT_SOCKOPT | AT_DATA},
    {NAMED(WSAECONNABORTED), "the connection was aborted on this machine (time-out or protocol error)", AT_DATA},
    {NAMED(WSAECONNRESET), "the server reset the connection (it closed abruptly or restarted)", AT_DATA},
    {NAMED(WSAENOBUFS), "no buffer space is available (too many connections or a full system)",
     AT_SOCKET | AT_CONNECT | AT_BIND},
    {NAMED(WSAEISCONN), "the socket is already connected", AT_CONNECT},
    {NAMED(WSAENOTCONN), "the socket is not connected", AT_SOCKOPT | AT_DATA},
    {NAMED(WSAESHUTDOWN), "the socket was shut down in this direction", AT_DATA},
    {NAMED(WSAETOOMANYREFS), "too many references to a kernel object", 0},
    {NAMED(WSAETIMEDOUT), "the server did not answer in time", AT_CONNECT | AT_DATA},
    {NAMED(WSAECONNREFUSED), "the connection was refused: nothing listens on that port of the server",
     AT_CONNECT},
    {NAMED(WSAELOOP), "too many levels of symbolic links", 0},
    {NAMED(WSAENAMETOOLONG), "a name is too long", 0},
    {NAMED(WSAEHOSTDOWN), "the server's host is down", AT_CONNECT | AT_SEND},
    {NAMED(WSAEHOSTUNREACH), "there is no route to the server's host", AT_CONNECT | AT_SEND},
    {NAMED(WSAENOTEMPTY), "the directory is not empty", 0},
    {NAMED(WSAEPROCLIM), "too many processes use the socket library", AT_STARTUP},
    {NAMED(WSAEUSERS), "too many users", 0},
    {NAMED(WSAEDQUOT), "the disk quota is exceeded", 0},
    {NAMED(WSAESTALE), "a file handle is stale", 0},
    {NAMED(WSAEREMOTE), "too many levels of remote in a path", 0},
    {NAMED(WSASYSNOTREADY), "the network subsystem is not ready", AT_STARTUP},
    {NAMED(WSAVERNOTSUPPORTED), "the socket library does not offer WinSock version 1.1", AT_STARTUP},
    {NAMED(WSANOTINITIALISED), "the socket library was not started (or was released too often)",
     AT_ANY_CALL},
    {NAMED(WSAEDISCON), "the server is closing the connection gracefully", AT_DATA},
    {NAMED(WSAHOST_NOT_FOUND), "no such host or service is known (authoritative answer)", AT_LOOKUP},
    {NAMED(WSATRY_AGAIN), "the name server did not answer; try again later", AT_LOOKUP},
    {NAMED(WSANO_RECOVERY), "the name look-up failed for good (name server or services file error)", AT_LOOKUP},
    {NAMED(WSANO_DATA), "the name is valid but has no entry of the type asked for", AT_LOOKUP},
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

