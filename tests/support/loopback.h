// A plain blocking connection to a loopback port, for peers and references
// that talk to a port directly rather than through the module.
#pragma once
#if !defined(_WINSOCKAPI_) && !defined(_WINSOCK2API_)
#include <winsock2.h>
#endif

// The address 127.0.0.1:port (host byte order).
struct sockaddr_in LoopbackAddress(u_short port);

// Connects a blocking socket to 127.0.0.1:port (host byte order). WinSock
// must be started. Returns the socket, or INVALID_SOCKET with the WinSock
// error left for WSAGetLastError.
SOCKET ConnectLoopback(u_short port);
