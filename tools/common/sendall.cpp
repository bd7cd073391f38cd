#include "sendall.h"

bool SendAllBytes(SOCKET s, const char* data, int length)
{
    while (length > 0) {
        int sent = send(s, data, length, 0);
        if (sent <= 0)
            return false;
        data += sent;
        length -= sent;
    }
    return true;
}
