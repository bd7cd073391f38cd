// Loopback peers for tests.
#include "peer.h"
#include "loopback.h"
#include "check.h"
#include "sendall.h"
#include <string.h>

static bool StartWinsock(void)
{
    static bool started;
    WSADATA data;
    if (!started)
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    return started;
}

u_short ServicePort(const char* service)
{
    StartWinsock();
    struct servent* entry = getservbyname(service, "tcp");
    return entry ? ntohs(entry->s_port) : 0;
}

static void Keep(Peer* peer, const char* data, int length)
{
    int room = PEER_BUFFER_SIZE - peer->receivedLength;
    if (length > room)
        length = room;
    memcpy(peer->received + peer->receivedLength, data, length);
    InterlockedExchangeAdd(&peer->receivedLength, length);
}

// Serves one accepted connection until the other side closes it or the peer stops.
static void Serve(Peer* peer, SOCKET s)
{
    char buffer[65536];
    bool replied = peer->mode != PEER_REPLY_ON_EVENT;
    bool reading = peer->mode != PEER_DRAIN_ON_EVENT;
    while (!peer->stop) {
        bool going = (!replied || !reading) && WaitForSingleObject(peer->go, 0) == WAIT_OBJECT_0;
        reading = reading || going;
        if (!replied && going) {
            Sleep(peer->replyDelayMs);
            // Stamped first: a host woken by the reply may look before this
            // thread runs again.
            peer->repliedAt = GetTickCount();
            SendAllBytes(s, peer->reply, peer->replyLength);
            replied = true;
            if (peer->afterReply == PEER_RESET || peer->afterReply == PEER_CLOSE) {
                struct linger abortive = {1, 0};
                if (peer->afterReply == PEER_RESET)
                    setsockopt(s, SOL_SOCKET, SO_LINGER, (const char*)&abortive, sizeof abortive);
                return;
            }
        }
        fd_set readable, urgent;
        FD_ZERO(&readable);
        FD_ZERO(&urgent);
        if (reading)
            FD_SET(s, &readable);
        FD_SET(s, &urgent);
        // Waiting for `go`, it looks every millisecond.
        struct timeval wait = {0, replied && reading ? 20000 : 1000};
        if (select(0, &readable, NULL, &urgent, &wait) == SOCKET_ERROR)
            break;
        if (FD_ISSET(s, &urgent)) {
            char byte;
            if (recv(s, &byte, 1, MSG_OOB) == 1 && peer->urgentCount < PEER_URGENT_SIZE)
                peer->urgent[InterlockedIncrement(&peer->urgentCount) - 1] = byte;
        }
        if (FD_ISSET(s, &readable)) {
            int got = recv(s, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            Keep(peer, buffer, got);
            if (peer->mode == PEER_ECHO)
                SendAllBytes(s, buffer, got);
        }
    }
}

static DWORD WINAPI PeerThread(LPVOID arg)
{
    Peer* peer = (Peer*)arg;
    while (!peer->stop) {
        fd_set pending;
        FD_ZERO(&pending);
        FD_SET(peer->listener, &pending);
        struct timeval wait = {0, 20000};
        if (select(0, &pending, NULL, NULL, &wait) <= 0)
            continue;
        SOCKET s = accept(peer->listener, NULL, NULL);
        if (s == INVALID_SOCKET)
            continue;
        InterlockedIncrement(&peer->acceptCount);
        if (peer->mode == PEER_RESET) {
            struct linger abortive = {1, 0};
            setsockopt(s, SOL_SOCKET, SO_LINGER, (const char*)&abortive, sizeof abortive);
        } else if (peer->mode != PEER_CLOSE) {
            Serve(peer, s);
        }
        closesocket(s);
        SetEvent(peer->connectionEnded);
    }
    return 0;
}

bool StartPeer(Peer* peer, const char* service, PeerMode mode)
{
    memset(peer, 0, sizeof *peer);
    peer->mode = mode;
    peer->port = ServicePort(service);
    if (!CHECK(peer->port != 0, "service %s has no port in the services file", service))
        return false;
    peer->listener = socket(AF_INET, SOCK_STREAM, 0);
    BOOL reuse = TRUE;
    setsockopt(peer->listener, SOL_SOCKET, SO_REUSEADDR, (const char*)&reuse, sizeof reuse);
    struct sockaddr_in address = LoopbackAddress(peer->port);
    if (!CHECK(bind(peer->listener, (struct sockaddr*)&address, sizeof address) == 0 &&
                   listen(peer->listener, 16) == 0,
               "peer cannot listen on port %u: WSA error %d", peer->port, WSAGetLastError())) {
        closesocket(peer->listener);
        return false;
    }
    peer->received = (char*)VirtualAlloc(NULL, PEER_BUFFER_SIZE, MEM_COMMIT, PAGE_READWRITE);
    peer->go = CreateEventA(NULL, TRUE, FALSE, NULL);
    peer->connectionEnded = CreateEventA(NULL, FALSE, FALSE, NULL);
    peer->thread = CreateThread(NULL, 0, PeerThread, peer, 0, NULL);
    return true;
}

bool WaitConnectionEnded(Peer* peer, DWORD ms)
{
    return WaitForSingleObject(peer->connectionEnded, ms) == WAIT_OBJECT_0;
}

void StopPeer(Peer* peer)
{
    if (!peer->thread)
        return;
    peer->stop = 1;
    CHECK(WaitForSingleObject(peer->thread, 10000) == WAIT_OBJECT_0, "peer thread did not stop within 10 s");
    CloseHandle(peer->thread);
    CloseHandle(peer->go);
    CloseHandle(peer->connectionEnded);
    closesocket(peer->listener);
    VirtualFree(peer->received, 0, MEM_RELEASE);
    peer->thread = NULL;
}

// Both counts only grow while a case runs; a short poll of them is enough.
static bool WaitCount(volatile LONG* value, LONG count, DWORD ms)
{
    DWORD start = GetTickCount();
    while (*value < count && GetTickCount() - start < ms)
        Sleep(10);
    return *value >= count;
}

bool WaitPeerReceived(Peer* peer, LONG count, DWORD ms)
{
    return WaitCount(&peer->receivedLength, count, ms);
}

bool WaitPeerUrgent(Peer* peer, LONG count, DWORD ms)
{
    return WaitCount(&peer->urgentCount, count, ms);
}
