// Sending a whole buffer on a blocking socket, for peers and references.
#pragma once
#if !defined(_WINSOCKAPI_) && !defined(_WINSOCK2API_)
#include <winsock2.h>
#endif

// Sends every byte, looping over partial sends; false on the first error or
// closed connection (what went out before stays sent).
bool SendAllBytes(SOCKET s, const char* data, int length);
