// Where _netopen went. The drop-in imports nothing from WinSock: the real
// module has loaded WSOCK32 by the time _netopen returns, so its routines are
// found there at run time. No host name is ever looked up here: that can
// block for seconds; a service name only reads the services file.
#include "trace.h"

typedef int(__stdcall* SocketNameFn)(SOCKET s, struct sockaddr* name, int* length);
typedef struct servent*(__stdcall* ServiceByNameFn)(const char* name, const char* protocol);
typedef unsigned long(__stdcall* InetAddrFn)(const char* text);

struct WinsockRoutines {
    SocketNameFn getpeername;
    SocketNameFn getsockname;
    ServiceByNameFn getservbyname;
    InetAddrFn inet_addr;
};

// The routines, or NULL when WSOCK32 is not loaded or lacks one.
static const WinsockRoutines* Winsock(void)
{
    static WinsockRoutines found;
    if (found.inet_addr)
        return &found;
    HMODULE wsock = GetModuleHandleA("WSOCK32.dll");
    if (!wsock)
        return NULL;
    found.getpeername = (SocketNameFn)(void*)GetProcAddress(wsock, "getpeername");
    found.getsockname = (SocketNameFn)(void*)GetProcAddress(wsock, "getsockname");
    found.getservbyname = (ServiceByNameFn)(void*)GetProcAddress(wsock, "getservbyname");
    InetAddrFn inetAddr = (InetAddrFn)(void*)GetProcAddress(wsock, "inet_addr");
    if (!found.getpeername || !found.getsockname || !found.getservbyname)
        return NULL;
    found.inet_addr = inetAddr;
    return inetAddr ? &found : NULL;
}

// Network byte order to the host's, without WinSock's ntohs.
static unsigned PortOf(u_short networkPort)
{
    return (unsigned)((networkPort >> 8) | ((networkPort & 0xff) << 8));
}

void AppendWhere(TraceLine* line, LONG socket, const char* hostName, const char* serviceName, long mode, bool stable)
{
    const WinsockRoutines* ws = Winsock();
    if (!ws)
        return;
    struct sockaddr_in address;
    int length = sizeof address;
    if (socket != -1) {
        bool bound = mode == NET_OPEN_BIND;
        SocketNameFn name = bound ? ws->getsockname : ws->getpeername;
        if (name((SOCKET)socket, (struct sockaddr*)&address, &length) != 0 || address.sin_family != AF_INET)
            return;
        if (bound) {
            AppendText(line, TRACE_NEXT TRACE_BOUND);
            AppendAddress(line, (const BYTE*)&address.sin_addr, PortOf(address.sin_port), stable);
            return;
        }
        // The host's own end too, so that a stream rebuilt from the trace
        // carries the host's real port.
        struct sockaddr_in local;
        int localLength = sizeof local;
        bool known = ws->getsockname((SOCKET)socket, (struct sockaddr*)&local, &localLength) == 0 &&
                     local.sin_family == AF_INET && local.sin_port != 0;
        AppendConnected(line, (const BYTE*)&address.sin_addr, PortOf(address.sin_port),
                        known ? (const BYTE*)&local.sin_addr : NULL, known ? PortOf(local.sin_port) : 0, stable);
        return;
    }
    // A failed open: the port of the service, and the address when the host
    // name is one already (dotted), as the host asked for them.
    struct servent* service = serviceName ? ws->getservbyname(serviceName, "tcp") : NULL;
    unsigned port = service ? PortOf(service->s_port) : 0;
    unsigned long dotted = hostName ? ws->inet_addr(hostName) : INADDR_NONE;
    if (dotted != INADDR_NONE) {
        AppendText(line, TRACE_NEXT TRACE_TO);
        AppendAddress(line, (const BYTE*)&dotted, port, stable);
    } else if (port) {
        AppendText(line, TRACE_NEXT TRACE_TO_PORT);
        AppendNumber(line, (LONG)port, TRACE_STABLE_PORT, stable);
    }
}
