// The measured work: echo round trips and bulk rounds, the same code for
// every contender, with the bytes checked as they come back.
#include "bench.h"
#include <stdio.h>
#include <string.h>

bool SendAllOnLink(Link* link, const char* data, int length)
{
    while (length > 0) {
        int error;
        int sent = SendSome(link, data, length, &error);
        if (sent < 0) {
            printf("%s: send of %d bytes failed: error %d\n", contenders[link->who].name, length, error);
            return false;
        }
        data += sent;
        length -= sent;
    }
    return true;
}

bool ReadExact(Link* link, char* buffer, int size)
{
    while (size > 0) {
        int error;
        int got = ReadSome(link, buffer, size, &error);
        if (got <= 0) {
            printf("%s: expected %d more bytes, the read gave %d (error %d)\n", contenders[link->who].name, size, got,
                   error);
            return false;
        }
        buffer += got;
        size -= got;
    }
    return true;
}

bool RunRoundTrips(Link* link, int size, int count)
{
    char echo[256];
    for (int i = 0; i < count; i++) {
        // Each message is a different piece of the pattern.
        const char* message = PatternAt((unsigned)i * 97u);
        if (!SendAllOnLink(link, message, size) || !ReadExact(link, echo, size))
            return false;
        if (memcmp(echo, message, size) != 0) {
            printf("%s: round trip %d of %d bytes came back changed\n", contenders[link->who].name, i, size);
            return false;
        }
    }
    return true;
}

bool StartBulk(Link* link, char mode, unsigned long pieceBytes)
{
    unsigned char header[5] = {(unsigned char)mode, (unsigned char)pieceBytes, (unsigned char)(pieceBytes >> 8),
                               (unsigned char)(pieceBytes >> 16), (unsigned char)(pieceBytes >> 24)};
    return SendAllOnLink(link, (const char*)header, sizeof header);
}

bool RunBulkPiece(Link* link, unsigned long bytes)
{
    for (unsigned long done = 0; done < bytes; done += BULK_WRITE) {
        if (!SendAllOnLink(link, PatternAt(link->streamed), BULK_WRITE))
            return false;
        link->streamed += BULK_WRITE;
    }
    // The piece ends when the peer has every byte, not when the last write
    // went into the socket's buffer.
    BulkAck ack;
    if (!ReadExact(link, (char*)&ack, sizeof ack))
        return false;
    if (ack.received != bytes || ack.mismatches != 0) {
        printf("%s: expected the peer to get %lu bytes intact, it got %lu with %lu writes' worth changed\n",
               contenders[link->who].name, bytes, ack.received, ack.mismatches);
        return false;
    }
    return true;
}

bool RunStreamPiece(Link* link, unsigned long bytes)
{
    static char buffer[BULK_READ];
    if (!SendAllOnLink(link, "G", 1))
        return false;
    for (unsigned long left = bytes; left > 0;) {
        int error;
        int got = ReadSome(link, buffer, left < BULK_READ ? (int)left : BULK_READ, &error);
        if (got <= 0) {
            printf("%s: expected %lu more bytes of the stream, the read gave %d (error %d)\n",
                   contenders[link->who].name, left, got, error);
            return false;
        }
        if (memcmp(buffer, PatternAt(link->streamed), got) != 0) {
            printf("%s: the stream's bytes at offset %llu came changed\n", contenders[link->who].name,
                   link->streamed);
            return false;
        }
        link->streamed += got;
        left -= got;
    }
    return true;
}

double Seconds(void)
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

// --- Watchdog --------------------------------------------------------------
// The module's wait has no time limit, so a peer that stops answering would
// hang the run; this thread ends it instead when nothing moves for a while.

static volatile LONG progressCount;
static const char* volatile progressWhat = "start";
static DWORD stuckLimit;

void Progress(const char* what)
{
    progressWhat = what;
    InterlockedIncrement(&progressCount);
}

static DWORD WINAPI Watch(LPVOID)
{
    LONG seen = progressCount;
    DWORD still = 0;
    for (;;) {
        Sleep(1000);
        if (progressCount != seen) {
            seen = progressCount;
            still = 0;
            continue;
        }
        still += 1000;
        if (still >= stuckLimit) {
            printf("FAILED: no progress for %lu s during %s; ending the run\n", still / 1000, progressWhat);
            fflush(stdout);
            StopPeerProcess();
            ExitProcess(3);
        }
    }
}

void StartWatchdog(DWORD stuckMs)
{
    stuckLimit = stuckMs;
    HANDLE thread = CreateThread(NULL, 0, Watch, NULL, 0, NULL);
    if (thread)
        CloseHandle(thread);
}
