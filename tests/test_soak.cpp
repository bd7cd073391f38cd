// Soak: many open, send, read and close cycles through one loaded module
// against a loopback echo peer. Nothing may pile up: no socket, no handle,
// no hook; and every byte must come back as it was sent.
#include "check.h"
#include "intercept.h"
#include "peer.h"
#include "ravo.h"
#include "waitlimit.h"
#include <stdio.h>
#include <string.h>

enum {
    CYCLES = 2000,
    WARM_UP_CYCLES = 20,
    MAX_MESSAGE = 4000,
    MAX_CALLS_PER_TRANSFER = 1000,
    PEER_END_MS = 5000,
};
// Handles Wine may still make lazily after the warm-up: the handle count
// moves by a few when the server or the socket library grows an internal
// object (a cached event, a timer queue) for reasons of its own. A socket
// or handle left behind per cycle would show as thousands.
enum { HANDLE_SLACK = 4 };

static Peer peer;
static volatile LONG hooksSet, hooksRemoved;
static WaitLimit limit;

// Counts hook installations and removals (the log is off) and bounds the
// waits of the data calls.
static void Observe(const char* name, const LONG*)
{
    if (name[0] == 'S' && strcmp(name, "SetWindowsHookExA") == 0)
        hooksSet++;
    else if (name[0] == 'U' && strcmp(name, "UnhookWindowsHookEx") == 0)
        hooksRemoved++;
    else if (name[0] == 's')
        EnforceWaitLimit(&limit, name);
}

typedef DWORD(WINAPI* GetProcessHandleCountFn)(HANDLE, PDWORD);

enum { HANDLE_SCAN_LIMIT = 0x10000 };

// The process's handle count. Wine 8 exports GetProcessHandleCount but its
// count is always 0; there the handles are counted one by one instead:
// every value that names a handle (multiples of 4) answers
// GetHandleInformation, sockets included, since Wine's sockets are handles.
static long HandleCount(const char** how)
{
    static GetProcessHandleCountFn count =
        (GetProcessHandleCountFn)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetProcessHandleCount");
    DWORD n = 0;
    if (count && count(GetCurrentProcess(), &n) && n > 0) {
        *how = "GetProcessHandleCount";
        return (long)n;
    }
    *how = "handle scan";
    long valid = 0;
    DWORD flags;
    for (ULONG_PTR h = 4; h < HANDLE_SCAN_LIMIT; h += 4)
        if (GetHandleInformation((HANDLE)h, &flags))
            valid++;
    return valid;
}

// A pattern of its own for each cycle, with a length that varies.
static int FillPattern(int cycle, char* data)
{
    int length = 1 + (cycle * 397) % MAX_MESSAGE;
    for (int i = 0; i < length; i++)
        data[i] = (char)(cycle * 31 + i * 7 + (i >> 8));
    return length;
}

// One cycle; returns false (after reporting) when anything went wrong.
static bool Cycle(Ravo* r, TestConn* conn, int cycle)
{
    static char sent[MAX_MESSAGE], echoed[MAX_MESSAGE];
    int length = FillPattern(cycle, sent);
    LONG error = 0;
    LONG s = r->_netopen("127.0.0.1", "ravotest1", 0, 0, &error, 0, conn);
    if (!CHECK(s != -1, "cycle %d: _netopen failed with %ld", cycle, error))
        return false;
    bool ok = true;

    int done = 0;
    for (int calls = 0; ok && done < length && calls < MAX_CALLS_PER_TRANSFER; calls++) {
        ArmWaitLimit(&limit);
        LONG n = r->_netsend(s, sent + done, length - done, &error, conn);
        ok = CHECK(n >= 0, "cycle %d: _netsend of %d bytes failed with %ld", cycle, length - done, error);
        done += n > 0 ? n : 0;
    }
    ok = ok && CHECK_EQ(length, done, "bytes sent");

    done = 0;
    for (int calls = 0; ok && done < length && calls < MAX_CALLS_PER_TRANSFER; calls++) {
        ArmWaitLimit(&limit);
        LONG n = r->_netread(s, echoed + done, length - done, &error, conn);
        ok = CHECK(n > 0, "cycle %d: _netread after %d of %d bytes gave %ld, error %ld", cycle, done, length, n, error);
        done += n > 0 ? n : 0;
    }
    ok = ok && CHECK_EQ(length, done, "bytes echoed");
    ok = ok && CHECK(memcmp(sent, echoed, length) == 0, "cycle %d: the echo of %d bytes differs from what was sent",
                     cycle, length);
    DisarmWaitLimit(&limit);

    LONG closed = r->_netclose(s, 0);
    ok = CHECK_EQ(0, closed, "_netclose") && ok;
    // One connection ends at the peer per cycle: nothing lingers there either.
    ok = CHECK(WaitConnectionEnded(&peer, PEER_END_MS), "cycle %d: the peer's connection did not end", cycle) && ok;
    return ok && CHECK(!limit.exceeded, "cycle %d: a wait lasted over %d ms", cycle, WAIT_LIMIT_MS);
}

TEST_CASE(two_thousand_cycles_leave_no_socket_handle_or_hook_and_every_byte_arrives)
{
    Ravo r;
    TestConn conn;
    if (!StartPeer(&peer, "ravotest1", PEER_ECHO))
        return;
    InitConn(&conn);
    if (!LoadRavo(&r)) {
        StopPeer(&peer);
        return;
    }
    SetCallLogging(false);
    SetCallObserver(Observe);

    // The first cycles make what the process keeps for good (the message
    // queue, the socket library's state); count from after them.
    bool ok = true;
    for (int i = 0; ok && i < WARM_UP_CYCLES; i++)
        ok = Cycle(&r, &conn, i);
    const char* how;
    long before = HandleCount(&how);
    CHECK(before > 0, "no handle count: %s found no handle", how);
    DWORD start = GetTickCount();
    int cycles = 0;
    for (; ok && cycles < CYCLES; cycles++)
        ok = Cycle(&r, &conn, WARM_UP_CYCLES + cycles);
    DWORD took = GetTickCount() - start;
    long after = HandleCount(&how);
    printf("  %d cycles in %lu ms; handles (%s) %ld before, %ld after; hooks %ld set, %ld removed\n", cycles, took,
           how, before, after, hooksSet, hooksRemoved);

    CHECK_EQ(CYCLES, cycles, "cycles completed");
    CHECK(after - before <= HANDLE_SLACK, "handle count: expected at most %ld (%ld + %d), seen %ld", before + HANDLE_SLACK,
          before, HANDLE_SLACK, after);
    CHECK_EQ(hooksSet, hooksRemoved, "UnhookWindowsHookEx calls against SetWindowsHookExA calls");
    // The last hooks the module recorded are gone.
    CHECK(!UnhookWindowsHookEx((HHOOK)ConnField(&conn, CONN_KEYBOARD_HOOK)), "the keyboard hook was still installed");
    CHECK(!UnhookWindowsHookEx((HHOOK)ConnField(&conn, CONN_MOUSE_HOOK)), "the mouse hook was still installed");
    CHECK(ConnPatternKept(&conn), "the host record changed outside the module's five fields");
    UnloadRavo(&r);
    StopPeer(&peer);
}

int main(int argc, char** argv)
{
    return RunAllTests(argc, argv);
}
