// Connection set-up: _netopen and the blocking hook it installs around the
// name look-ups.
#include "module.h"
#include "../wait/settings.h"

enum { WINSOCK_VERSION_1_1 = 0x0101, PEER_ADDRESS_SIZE = 16 };

// mcWSAHook (9): the socket library calls this while a blocking look-up is
// pending. It retrieves no message, so nothing runs nested; returns 1.
extern "C" int __stdcall mcWSAHook(void)
{
    return TRUE;
}

// Writes the failure code and returns -1, the failed-call result.
static LONG Fail(LONG* errorCode, LONG code)
{
    *errorCode = code;
    return -1;
}

// Closes the socket after its error was recorded, and fails.
static LONG FailAndClose(LONG* errorCode, LONG code, SOCKET s)
{
    closesocket(s);
    return Fail(errorCode, code);
}

// Puts the default blocking hook back when mcHook had replaced it.
static void RestoreBlockingHook(void)
{
    if (moduleState.useBlockingHook)
        WSAUnhookBlockingHook();
}

// _netopen (5): opens a non-blocking TCP socket connected to (or, in mode
// NET_OPEN_BIND, bound to) the host and service given. Returns the socket,
// or -1 with the stage's error code in *errorCode, which is written only on
// failure. The socket library stays started either way.
extern "C" long __stdcall _netopen(const char* hostName, const char* serviceName, long mode,
                                   long, long* errorCode, long, void* hostRecord)
{
    ConnBlock* conn = (ConnBlock*)hostRecord;
    WSADATA wsaData;
    int started = WSAStartup(WINSOCK_VERSION_1_1, &wsaData);
    if (started != 0)
        return Fail(errorCode, started + NET_ERR_STARTUP);

    if (!moduleState.settingsLoaded)
        LoadBlockSettings();

    if (moduleState.useBlockingHook)
        WSASetBlockingHook(GetProcAddress(moduleState.moduleHandle, "mcWSAHook"));

    struct servent* service = getservbyname(serviceName, "tcp");
    if (!service) {
        LONG code = WSAGetLastError() + NET_ERR_SERVICE;
        RestoreBlockingHook();
        return Fail(errorCode, code);
    }
    u_short port = service->s_port;  // already in network byte order

    struct hostent* host = gethostbyname(hostName);
    if (!host) {
        LONG code = WSAGetLastError() + NET_ERR_HOST;
        RestoreBlockingHook();
        return Fail(errorCode, code);
    }

    struct sockaddr_in peer;
    peer.sin_family = host->h_addrtype;
    peer.sin_port = port;
    peer.sin_addr.s_addr = *(const u_long*)host->h_addr_list[0];
    // A hand loop, as the module has no C runtime and so no memset; the
    // flag -fno-tree-loop-distribute-patterns in CMakeLists.txt keeps GCC
    // from turning it back into a memset call.
    for (int i = 0; i < 8; i++)
        peer.sin_zero[i] = 0;

    RestoreBlockingHook();

    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return Fail(errorCode, WSAGetLastError() + NET_ERR_SOCKET);

    // The socket is still blocking here, so connect completes or fails now.
    int linked = mode == NET_OPEN_BIND ? bind(s, (struct sockaddr*)&peer, PEER_ADDRESS_SIZE)
                                       : connect(s, (struct sockaddr*)&peer, PEER_ADDRESS_SIZE);
    if (linked == SOCKET_ERROR)
        return FailAndClose(errorCode, WSAGetLastError(), s);

    int debugOn = 1;
    if (setsockopt(s, SOL_SOCKET, SO_DEBUG, (const char*)&debugOn, sizeof debugOn) == SOCKET_ERROR) {
        int error = WSAGetLastError();
        if (error != WSAENOPROTOOPT)
            return FailAndClose(errorCode, error + NET_ERR_SOCKOPT, s);
        conn->sockOptRefused = 1;
    }

    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) == SOCKET_ERROR)
        return FailAndClose(errorCode, WSAGetLastError() + NET_ERR_NONBLOCK, s);

    return (LONG)s;
}
