// Moving data and closing: _netsend, _netread and _netclose. Each data call
// waits for readiness first and then makes exactly one socket call.
#include "module.h"
#include "../wait/readiness.h"

// _netsend (7): sends once. Returns the bytes the socket took, 0 when it
// could take nothing just now (error code 0), or -1 with the wait's code or
// the bare socket error. *errorCode is always written.
extern "C" long __stdcall _netsend(long socketValue, const char* buffer, long length, long* errorCode,
                                   void* hostRecord)
{
    SOCKET s = (SOCKET)socketValue;
    ConnBlock* conn = (ConnBlock*)hostRecord;
    *errorCode = 0;
    LONG waited = WaitForSocket(s, NET_WAIT_WRITE, conn);
    if (waited > WAIT_RESULT_ERROR_ABOVE) {
        *errorCode = waited;
        return -1;
    }
    int sent = send(s, buffer, length, 0);
    if (sent != SOCKET_ERROR)
        return sent;
    int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK || error == WSAENOBUFS)
        return 0;  // a full buffer is a send of nothing, not a failure
    *errorCode = error;
    return -1;
}

// _netread (6): receives once. Returns the bytes received, 0 when the peer
// closed the connection, or -1 with the wait's code or the bare socket
// error. *errorCode is always written.
extern "C" long __stdcall _netread(long socketValue, char* buffer, long size, long* errorCode,
                                   void* hostRecord)
{
    SOCKET s = (SOCKET)socketValue;
    ConnBlock* conn = (ConnBlock*)hostRecord;
    *errorCode = 0;
    LONG waited = WaitForSocket(s, NET_WAIT_READ, conn);
    if (waited > WAIT_RESULT_ERROR_ABOVE) {
        *errorCode = waited;
        return -1;
    }
    int received = recv(s, buffer, size, 0);
    if (received == SOCKET_ERROR) {
        *errorCode = WSAGetLastError();
        return -1;
    }
    return received;
}

// _netclose (4): closes the socket and releases the socket library started
// by _netopen. Returns 0, the socket library's error when the socket cannot
// be closed (the library stays started), or -1 when the release failed.
extern "C" long __stdcall _netclose(long socketValue, long)
{
    if (closesocket((SOCKET)socketValue) == SOCKET_ERROR)
        return WSAGetLastError();
    return WSACleanup();  // 0, or SOCKET_ERROR (-1) when the release failed
}
