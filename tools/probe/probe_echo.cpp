// ravoprobe echo-server: a loopback peer that echoes what it receives and
// reports urgent bytes, so the module can be tried without a database
// server. Its lifetime is always bounded.
#include "probe.h"
#include "sendall.h"
#include <stdio.h>

enum { TICK_MS = 50, HOLD_SIZE = 65536 };

// Serves one client until it disconnects or the deadline passes. Answers are
// held back for delayMs, or until an urgent byte arrives.
static void Serve(SOCKET s, double deadline, DWORD delayMs)
{
    static char held[HOLD_SIZE];
    int heldLength = 0;
    double heldSince = 0;
    bool releaseNow = false;
    while (NowMs() < deadline) {
        if (heldLength > 0 && (releaseNow || NowMs() - heldSince >= delayMs)) {
            if (!SendAllBytes(s, held, heldLength)) {
                printf("echo-server: echo failed: WinSock error %d\n", WSAGetLastError());
                return;
            }
            printf("echo-server: echoed %d bytes\n", heldLength);
            heldLength = 0;
            releaseNow = false;
        }
        fd_set readable, urgent;
        FD_ZERO(&readable);
        FD_ZERO(&urgent);
        FD_SET(s, &readable);
        FD_SET(s, &urgent);
        struct timeval tick = {0, (heldLength > 0 ? 1 : TICK_MS) * 1000};
        if (select(0, &readable, NULL, &urgent, &tick) == SOCKET_ERROR) {
            printf("echo-server: select failed: WinSock error %d\n", WSAGetLastError());
            return;
        }
        if (FD_ISSET(s, &urgent)) {
            char byte;
            if (recv(s, &byte, 1, MSG_OOB) == 1) {
                printf("echo-server: urgent byte '%c' received\n", byte >= 32 && byte < 127 ? byte : '?');
                releaseNow = true;
            }
        }
        if (!FD_ISSET(s, &readable))
            continue;
        int room = HOLD_SIZE - heldLength;
        int got = recv(s, held + heldLength, room, 0);
        if (got == 0) {
            printf("echo-server: the client closed the connection\n");
            return;
        }
        if (got < 0) {
            int error = WSAGetLastError();
            const char* name = WinsockErrorName(error);
            printf("echo-server: receive failed: WinSock error %d (%s)\n", error, name ? name : "unknown");
            return;
        }
        printf("echo-server: received %d bytes: ", got);
        PrintQuoted(held + heldLength, got);
        printf("\n");
        if (heldLength == 0)
            heldSince = NowMs();
        heldLength += got;
    }
    printf("echo-server: time is up; dropping the client\n");
}

int CommandEchoServer(const ProbeOptions* o)
{
    const char* service = o->argv[0];
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
        printf("echo-server: the socket library does not start\n");
        return PROBE_FAILED;
    }
    struct servent* entry = getservbyname(service, "tcp");
    if (!entry) {
        int error = WSAGetLastError();
        printf("echo-server: service \"%s\" has no tcp entry in the services file (WinSock error %d)\n"
               "  (the module too reaches servers only by a service name the services file knows)\n",
               service, error);
        return PROBE_FAILED;
    }
    u_short port = ntohs(entry->s_port);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    // The port to itself: Windows' SO_REUSEADDR would let two peers share it.
    BOOL exclusive = TRUE;
    setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, (const char*)&exclusive, sizeof exclusive);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, (struct sockaddr*)&address, sizeof address) != 0 || listen(listener, 4) != 0) {
        int error = WSAGetLastError();
        const char* name = WinsockErrorName(error);
        printf("echo-server: cannot listen on 127.0.0.1:%u (service %s): WinSock error %d (%s)%s\n", port,
               service, error, name ? name : "unknown",
               error == WSAEADDRINUSE || error == WSAEACCES
                   ? "\n  the port is already in use by another program (Windows and Wine report a port\n"
                     "  held exclusively as WSAEACCES): stop it or choose another service"
                   : "");
        closesocket(listener);
        return PROBE_FAILED;
    }
    printf("echo-server: listening on 127.0.0.1:%u (service %s/tcp) for %lu s%s%s\n", port, service, o->seconds,
           o->once ? ", until the first client disconnects" : "", o->delayMs ? ", answers held back" : "");
    if (o->delayMs)
        printf("echo-server: each answer waits %lu ms, or until an urgent byte arrives\n", o->delayMs);

    double deadline = NowMs() + o->seconds * 1000.0;
    while (NowMs() < deadline) {
        fd_set pending;
        FD_ZERO(&pending);
        FD_SET(listener, &pending);
        struct timeval tick = {0, TICK_MS * 1000};
        if (select(0, &pending, NULL, NULL, &tick) <= 0)
            continue;
        struct sockaddr_in from;
        int fromLength = sizeof from;
        SOCKET client = accept(listener, (struct sockaddr*)&from, &fromLength);
        if (client == INVALID_SOCKET)
            continue;
        printf("echo-server: client connected from %s:%u\n", inet_ntoa(from.sin_addr), ntohs(from.sin_port));
        Serve(client, deadline, o->delayMs);
        closesocket(client);
        if (o->once)
            break;
    }
    closesocket(listener);
    printf("echo-server: stopped\n");
    WSACleanup();
    return PROBE_OK;
}
