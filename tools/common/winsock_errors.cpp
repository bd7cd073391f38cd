// The WinSock error table (see winsock_errors.h).
#include "winsock_errors.h"

// An error's number and name, both from the system's own definition
// (winerror.h, through windows.h), so the two cannot drift apart.
#define NAMED(name) name, #name

static const WinsockError WINSOCK_ERRORS[] = {
    {NAMED(WSAEINTR), AT_SELECT | AT_LOOKUP | AT_CONNECT | AT_DATA | AT_CLOSE,
     EXPLAINED("a blocking call was cancelled (WSACancelBlockingCall)")},
    {NAMED(WSAEBADF), 0, EXPLAINED("the file handle is not valid")},
    {NAMED(WSAEACCES), AT_CONNECT | AT_BIND | AT_SOCKOPT,
     EXPLAINED("permission denied (an address or port the process may not use, or a socket option it may not set)")},
    {NAMED(WSAEFAULT), AT_ANY_CALL | AT_STARTUP, EXPLAINED("an address argument points outside the process's memory")},
    {NAMED(WSAEINVAL), AT_SELECT | AT_SOCKET | AT_NONBLOCK | AT_SOCKOPT | AT_CONNECT | AT_BIND | AT_DATA,
     EXPLAINED("an argument is not valid for this call or the socket's state")},
    {NAMED(WSAEMFILE), AT_SOCKET, EXPLAINED("no more sockets can be opened (too many open)")},
    {NAMED(WSAEWOULDBLOCK), AT_RECV | AT_CLOSE,
     EXPLAINED("the non-blocking socket has nothing to give or take just now")},
    {NAMED(WSAEINPROGRESS), AT_ANY_CALL | AT_STARTUP,
     EXPLAINED("a blocking WinSock call is already running on this thread")},
    {NAMED(WSAEALREADY), AT_CONNECT, EXPLAINED("an operation is already in progress on this non-blocking socket")},
    {NAMED(WSAENOTSOCK), AT_SELECT | AT_NONBLOCK | AT_SOCKOPT | AT_DATA | AT_CLOSE,
     EXPLAINED("the value is not a socket (closed already, or never opened)")},
    {NAMED(WSAEDESTADDRREQ), 0, EXPLAINED("a destination address is required")},
    {NAMED(WSAEMSGSIZE), 0, EXPLAINED("the message is too long for the socket")},
    {NAMED(WSAEPROTOTYPE), AT_SOCKET, EXPLAINED("the protocol is the wrong type for this socket")},
    {NAMED(WSAENOPROTOOPT), 0, EXPLAINED("the socket option is not supported")},
    {NAMED(WSAEPROTONOSUPPORT), AT_SOCKET, EXPLAINED("the protocol is not supported")},
    {NAMED(WSAESOCKTNOSUPPORT), AT_SOCKET, EXPLAINED("the socket type is not supported")},
    {NAMED(WSAEOPNOTSUPP), AT_DATA, EXPLAINED("the operation is not supported on this socket")},
    {NAMED(WSAEPFNOSUPPORT), AT_SOCKET, EXPLAINED("the protocol family is not supported")},
    {NAMED(WSAEAFNOSUPPORT), AT_SOCKET | AT_CONNECT | AT_BIND,
     EXPLAINED("the address family is not supported (no IPv4 stack?)")},
    {NAMED(WSAEADDRINUSE), AT_CONNECT | AT_BIND, EXPLAINED("the local address and port are already in use")},
    {NAMED(WSAEADDRNOTAVAIL), AT_CONNECT | AT_BIND,
     EXPLAINED("the address is not valid here (for bind: not an address of this machine)")},
    {NAMED(WSAENETDOWN), AT_ANY_CALL, EXPLAINED("the network subsystem has failed")},
    {NAMED(WSAENETUNREACH), AT_CONNECT | AT_SEND, EXPLAINED("the network cannot be reached from this machine")},
    {NAMED(WSAENETRESET), AT_SOCKOPT | AT_DATA,
     EXPLAINED("the connection broke while the network was reset (keep-alive failed)")},
    {NAMED(WSAECONNABORTED), AT_DATA,
     EXPLAINED("the connection was aborted on this machine (time-out or protocol error)")},
    {NAMED(WSAECONNRESET), AT_DATA, EXPLAINED("the server reset the connection (it closed abruptly or restarted)")},
    {NAMED(WSAENOBUFS), AT_SOCKET | AT_CONNECT | AT_BIND,
     EXPLAINED("no buffer space is available (too many connections or a full system)")},
    {NAMED(WSAEISCONN), AT_CONNECT, EXPLAINED("the socket is already connected")},
    {NAMED(WSAENOTCONN), AT_SOCKOPT | AT_DATA, EXPLAINED("the socket is not connected")},
    {NAMED(WSAESHUTDOWN), AT_DATA, EXPLAINED("the socket was shut down in this direction")},
    {NAMED(WSAETOOMANYREFS), 0, EXPLAINED("too many references to a kernel object")},
    {NAMED(WSAETIMEDOUT), AT_CONNECT | AT_DATA, EXPLAINED("the server did not answer in time")},
    {NAMED(WSAECONNREFUSED), AT_CONNECT,
     EXPLAINED("the connection was refused: nothing listens on that port of the server")},
    {NAMED(WSAELOOP), 0, EXPLAINED("too many levels of symbolic links")},
    {NAMED(WSAENAMETOOLONG), 0, EXPLAINED("a name is too long")},
    {NAMED(WSAEHOSTDOWN), AT_CONNECT | AT_SEND, EXPLAINED("the server's host is down")},
    {NAMED(WSAEHOSTUNREACH), AT_CONNECT | AT_SEND, EXPLAINED("there is no route to the server's host")},
    {NAMED(WSAENOTEMPTY), 0, EXPLAINED("the directory is not empty")},
    {NAMED(WSAEPROCLIM), AT_STARTUP, EXPLAINED("too many processes use the socket library")},
    {NAMED(WSAEUSERS), 0, EXPLAINED("too many users")},
    {NAMED(WSAEDQUOT), 0, EXPLAINED("the disk quota is exceeded")},
    {NAMED(WSAESTALE), 0, EXPLAINED("a file handle is stale")},
    {NAMED(WSAEREMOTE), 0, EXPLAINED("too many levels of remote in a path")},
    {NAMED(WSASYSNOTREADY), AT_STARTUP, EXPLAINED("the network subsystem is not ready")},
    {NAMED(WSAVERNOTSUPPORTED), AT_STARTUP, EXPLAINED("the socket library does not offer WinSock version 1.1")},
    {NAMED(WSANOTINITIALISED), AT_ANY_CALL,
     EXPLAINED("the socket library was not started (or was released too often)")},
    {NAMED(WSAEDISCON), AT_DATA, EXPLAINED("the server is closing the connection gracefully")},
    {NAMED(WSAHOST_NOT_FOUND), AT_LOOKUP, EXPLAINED("no such host or service is known (authoritative answer)")},
    {NAMED(WSATRY_AGAIN), AT_LOOKUP, EXPLAINED("the name server did not answer; try again later")},
    {NAMED(WSANO_RECOVERY), AT_LOOKUP,
     EXPLAINED("the name look-up failed for good (name server or services file error)")},
    {NAMED(WSANO_DATA), AT_LOOKUP, EXPLAINED("the name is valid but has no entry of the type asked for")},
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

