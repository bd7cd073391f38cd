// The loopback connection behind loopback.h.
#include "loopback.h"
#include <string.h>

struct sockaddr_in LoopbackAddress(u_short port)
{
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

SOCKET ConnectLoopback(u_short port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return s;
    struct sockaddr_in address = LoopbackAddress(port);
    if (connect(s, (struct sockaddr*)&address, sizeof address) != 0) {
        int error = WSAGetLastError();
        closesocket(s);
        WSASetLastError(error);
        return INVALID_SOCKET;
    }
    return s;
}
