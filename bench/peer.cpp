// The loopback peer: echoes (at once, or about a millisecond later, as a
// server that works a moment on each request), discards (checking) what
// each connection sends, streams the pattern on request, or keeps silent
// for as long as it is asked. It runs as a second
// process, not as a thread of the client.
//
// Why a process: on 2 cores the polling contenders keep one core busy and
// the Wine server most of the other, so the peer competes for the CPU
// whatever it is. Linux schedules threads alike in either case, but a peer
// thread inside the client would also share the client's process-wide Wine
// state (its heap, its socket and handle tables and their locks), and so
// would slow or be slowed by the very loop being measured. A separate process is what a real server is, and it
// treats the contenders alike: each waits for the same peer code.
#include "bench.h"
#include "fine_timer.h"
#include "loopback.h"
#include "sendall.h"
#include <stdio.h>
#include <string.h>

// The lifetime only backs up the watch on the parent: a run on a busy machine
// can last half an hour.
enum { PEER_BUFFER = 128 * 1024, PEER_LIFETIME_MS = 3 * 60 * 60 * 1000 };

static bool ReceiveAll(SOCKET s, char* buffer, int size)
{
    while (size > 0) {
        int got = recv(s, buffer, size, 0);
        if (got <= 0)
            return false;
        buffer += got;
        size -= got;
    }
    return true;
}

// The late echo's pause: a high-resolution waitable timer where there is
// one (a plain 1 ms sleep lasts a whole timer tick on older Windows), never
// a change of the machine-wide timer.
static void PauseLate(HANDLE timer)
{
    if (StartFineTimer(timer, PEER_LATE_US))
        WaitForSingleObject(timer, 1000);
    else
        Sleep((PEER_LATE_US + 999) / 1000);
}

static HANDLE LateTimer(void)
{
    HANDLE timer = OpenFineTimer();
    return timer ? timer : CreateWaitableTimerA(NULL, FALSE, NULL);
}

static void Echo(SOCKET s, char* buffer, bool late)
{
    HANDLE timer = late ? LateTimer() : NULL;
    for (;;) {
        int got = recv(s, buffer, PEER_BUFFER, 0);
        if (got <= 0)
            break;
        if (late)
            PauseLate(timer);
        if (!SendAllBytes(s, buffer, got))
            break;
    }
    if (timer)
        CloseHandle(timer);
}

static unsigned long ReadSize(SOCKET s)
{
    unsigned char size[4];
    if (!ReceiveAll(s, (char*)size, 4))
        return 0;
    return size[0] | size[1] << 8 | size[2] << 16 | (unsigned long)size[3] << 24;
}

// A piece of the pattern, in writes of BULK_WRITE, for each byte asked.
static void Stream(SOCKET s)
{
    unsigned long pieceBytes = ReadSize(s);
    unsigned long long offset = 0;
    char ask;
    while (pieceBytes && ReceiveAll(s, &ask, 1)) {
        for (unsigned long sent = 0; sent < pieceBytes;) {
            int piece = pieceBytes - sent < BULK_WRITE ? (int)(pieceBytes - sent) : BULK_WRITE;
            if (!SendAllBytes(s, PatternAt(offset), piece))
                return;
            sent += piece;
            offset += piece;
        }
    }
}

// Compares what arrived with the pattern, a write's length at a time.
static unsigned long Mismatches(const char* data, int length, unsigned long long offset)
{
    unsigned long bad = 0;
    while (length > 0) {
        int piece = length < BULK_WRITE ? length : BULK_WRITE;
        if (memcmp(data, PatternAt(offset), piece) != 0)
            bad++;
        data += piece;
        length -= piece;
        offset += piece;
    }
    return bad;
}

static void Discard(SOCKET s, char* buffer)
{
    unsigned long pieceBytes = ReadSize(s);
    unsigned long long offset = 0;
    while (pieceBytes) {
        BulkAck ack = {0, 0};
        while (ack.received < pieceBytes) {
            unsigned long left = pieceBytes - ack.received;
            int got = recv(s, buffer, left < PEER_BUFFER ? (int)left : PEER_BUFFER, 0);
            if (got <= 0)
                return;
            ack.mismatches += Mismatches(buffer, got, offset);
            ack.received += got;
            offset += got;
        }
        if (!SendAllBytes(s, (const char*)&ack, sizeof ack))
            return;
    }
}

// Silent connections: each hold time read is waited out (the parent's long
// wait), then answered with the counter's reading as the answer leaves.
static void HoldSilent(SOCKET s)
{
    for (unsigned long ms; (ms = ReadSize(s)) != 0;) {
        Sleep(ms < SILENT_HOLD_MAX_MS ? ms : (unsigned long)SILENT_HOLD_MAX_MS);
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        unsigned char stamp[8];
        for (int i = 0; i < 8; i++)
            stamp[i] = (unsigned char)(now.QuadPart >> (8 * i));
        if (!SendAllBytes(s, (const char*)stamp, sizeof stamp))
            return;
    }
}

static DWORD WINAPI ServeConnection(LPVOID arg)
{
    SOCKET s = (SOCKET)arg;
    // Our answers leave at once; the contenders' own sockets keep their defaults.
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char*)&noDelay, sizeof noDelay);
    char* buffer = (char*)VirtualAlloc(NULL, PEER_BUFFER, MEM_COMMIT, PAGE_READWRITE);
    char mode = 0;
    if (buffer && ReceiveAll(s, &mode, 1)) {
        if (mode == PEER_MODE_ECHO || mode == PEER_MODE_ECHO_LATE)
            Echo(s, buffer, mode == PEER_MODE_ECHO_LATE);
        else if (mode == PEER_MODE_DISCARD)
            Discard(s, buffer);
        else if (mode == PEER_MODE_STREAM)
            Stream(s);
        else if (mode == PEER_MODE_SILENT)
            HoldSilent(s);
    }
    closesocket(s);
    VirtualFree(buffer, 0, MEM_RELEASE);
    return 0;
}

static DWORD WINAPI AcceptConnections(LPVOID arg)
{
    SOCKET listener = (SOCKET)arg;
    for (;;) {
        SOCKET s = accept(listener, NULL, NULL);
        if (s == INVALID_SOCKET)
            return 0;
        HANDLE thread = CreateThread(NULL, 0, ServeConnection, (LPVOID)s, 0, NULL);
        if (thread)
            CloseHandle(thread);
        else
            closesocket(s);
    }
}

static void EventName(char* name, const char* what, DWORD parentPid)
{
    wsprintfA(name, "ravobench-%s-%lu", what, parentPid);
}

int RunPeer(u_short port, DWORD parentPid)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return 2;
    FillPattern();
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    BOOL reuse = TRUE;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, (const char*)&reuse, sizeof reuse);
    struct sockaddr_in address = LoopbackAddress(port);
    if (bind(listener, (struct sockaddr*)&address, sizeof address) != 0 || listen(listener, 16) != 0) {
        printf("peer: cannot listen on 127.0.0.1:%u: WSA error %d\n", port, WSAGetLastError());
        return 2;
    }
    char name[64];
    EventName(name, "ready", parentPid);
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    EventName(name, "stop", parentPid);
    HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, name);
    HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, parentPid);
    if (!ready || !stop || !parent) {
        printf("peer: cannot open the parent's events or process (error %lu)\n", GetLastError());
        return 2;
    }
    HANDLE acceptor = CreateThread(NULL, 0, AcceptConnections, (LPVOID)listener, 0, NULL);
    SetEvent(ready);
    // Ends when asked, when the parent is gone, or after a bounded lifetime.
    HANDLE ends[2] = {stop, parent};
    WaitForMultipleObjects(2, ends, FALSE, PEER_LIFETIME_MS);
    closesocket(listener);
    (void)acceptor;
    ExitProcess(0);
}

// --- Starting and stopping the peer from the client ---------------------

static PROCESS_INFORMATION peerProcess;
static HANDLE stopEvent;

bool StartPeerProcess(u_short port)
{
    char name[64];
    EventName(name, "ready", GetCurrentProcessId());
    HANDLE ready = CreateEventA(NULL, TRUE, FALSE, name);
    EventName(name, "stop", GetCurrentProcessId());
    stopEvent = CreateEventA(NULL, TRUE, FALSE, name);
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    char commandLine[MAX_PATH + 64];
    wsprintfA(commandLine, "\"%s\" --peer %u %lu", self, port, GetCurrentProcessId());
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!ready || !stopEvent ||
        !CreateProcessA(self, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &peerProcess)) {
        printf("cannot start the peer process %s: error %lu\n", self, GetLastError());
        return false;
    }
    HANDLE either[2] = {ready, peerProcess.hProcess};
    DWORD woke = WaitForMultipleObjects(2, either, FALSE, 30000);
    CloseHandle(ready);
    if (woke != WAIT_OBJECT_0) {
        printf("the peer did not listen on port %u within 30 s (wait result %lu)\n", port, woke);
        StopPeerProcess();
        return false;
    }
    return true;
}

void StopPeerProcess(void)
{
    if (!peerProcess.hProcess)
        return;
    SetEvent(stopEvent);
    if (WaitForSingleObject(peerProcess.hProcess, 10000) != WAIT_OBJECT_0) {
        printf("the peer did not end within 10 s; ending it\n");
        TerminateProcess(peerProcess.hProcess, 3);
        WaitForSingleObject(peerProcess.hProcess, 5000);
    }
    CloseHandle(peerProcess.hProcess);
    CloseHandle(peerProcess.hThread);
    CloseHandle(stopEvent);
    peerProcess.hProcess = NULL;
}
