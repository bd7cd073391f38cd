// ravoprobe open and send: drives ravowsok.dll exactly as a host does, with a
// host record of its own and a wait callback that records the phases, sets
// the interrupt request when asked and bounds every wait.
//
// Bounding: the module's wait has no time limit and its callback cannot end
// it. Once the time-out has passed, the callback closes the socket with
// WinSock's own closesocket and returns non-zero, so the module's next poll
// fails on the closed socket; the end of the wait is answered with
// PROBE_TIMEOUT_END (WSAETIMEDOUT), which the module reports as the call's error.
// The socket is gone then, so the probe calls WSACleanup once instead of
// _netclose. The watchdog is a last resort (and bounds _netopen's connect).
#include "probe.h"
#include <stdio.h>
#include <string.h>

enum { HOST_RECORD_SIZE = 256, TEXT_SIZE = 8192 };
static_assert(HOST_RECORD_SIZE >= CONN_BLOCK_MIN_SIZE, "the host record holds every field of the module");

// What the callback saw during the wait of one call.
struct WaitRecord {
    double start;
    double deadline;
    SOCKET socket;
    LONG firstCalls, againCalls, endCalls;
    LONG endResult;         // what the callback answered the end call
    double interruptSetAt;  // ms into the wait, or -1
    bool interruptSent;     // the module cleared the field on a later turn
    bool timedOut;          // the callback closed the socket
};

// Everything one run of open or send holds: the module, the host record,
// the current wait and the watchdog's state.
struct ProbeState {
    RavoExports x;
    HMODULE dll;
    BYTE conn[HOST_RECORD_SIZE];
    WaitRecord wait;
    LONG interruptAfterMs;
    bool interruptDone;  // one interrupt per run
    bool detail;         // a line per call (one attempt), or one per attempt
    bool socketGone;     // closed by the callback: WSACleanup instead of _netclose
    LONG explainedCode;  // a --count run explains each code once (0: none yet)
    int status;          // the exit status: the first failure's, or PROBE_OK
    ProbeWatch watch;
};

// The module calls the wait callback with the phase alone, so the callback
// finds the run's state here; set once per run, before the first call.
static ProbeState* callbackState;

static volatile LONG* ConnField(ProbeState* st, int offset)
{
    return (volatile LONG*)(st->conn + offset);
}

static LONG __stdcall ProbeWaitCallback(LONG phase)
{
    ProbeState* st = callbackState;
    WaitRecord* w = &st->wait;
    double now = NowMs();
    if (phase == WAIT_PHASE_END) {
        w->endCalls++;
        w->endResult = w->timedOut ? PROBE_TIMEOUT_END : 0;
        return w->endResult;
    }
    if (phase == WAIT_PHASE_FIRST)
        w->firstCalls++;
    else
        w->againCalls++;
    if (w->timedOut)
        return 1;  // straight to the next poll, which fails on the closed socket
    // The module sends the urgent byte at the start of the turn after the one
    // on which the field was set, and clears the field when it does.
    volatile LONG* interrupt = ConnField(st, CONN_INTERRUPT_REQUEST);
    if (w->interruptSetAt >= 0 && !w->interruptSent && *interrupt == 0)
        w->interruptSent = true;
    if (st->interruptAfterMs >= 0 && !st->interruptDone && now - w->start >= st->interruptAfterMs) {
        *interrupt = 1;
        w->interruptSetAt = now - w->start;
        st->interruptDone = true;
    }
    if (now >= w->deadline) {
        w->timedOut = true;
        closesocket(w->socket);
        return 1;
    }
    return 0;
}

static bool LoadModule(ProbeState* st, const ProbeOptions* o)
{
    memset(st, 0, sizeof *st);
    char path[MAX_PATH];
    st->dll = LoadProbeModule(o, &st->x, path, sizeof path);
    if (!st->dll)
        return false;
    printf("module: %s (_nettype %ld)\n", path, st->x._nettype());
    WarnOfPumpFallback();
    *(RavoWaitCallback volatile*)(st->conn + CONN_WAIT_CALLBACK) = ProbeWaitCallback;
    st->interruptAfterMs = o->interruptAfterMs;
    st->detail = o->count <= 1;
    callbackState = st;
    StartWatchdog(&st->watch, o->argv[0], o->argv[1]);
    return true;
}

// Keeps the first failure's exit status: with --count, it answers for the run.
static void NoteFailure(ProbeState* st, int status)
{
    if (st->status == PROBE_OK)
        st->status = status;
}

static void EndModule(ProbeState* st)
{
    LONG result = st->x.WEP(0);
    printf("%-46s -> %ld\n", "WEP(0)", result);
    FreeLibrary(st->dll);
}

static void PrintCall(const char* call, const char* result, double ms)
{
    printf("%-46s -> %-24s %9.2f ms\n", call, result, ms);
}

// One line for a code the module reported, then its readings. The probe
// is the host here: its callback's end value is known, so a send or read
// code is read as the callback's only when the callback returned it.
static void PrintFailure(ProbeState* st, LONG code, int from)
{
    const WaitRecord* w = &st->wait;
    if ((from & FROM_DATA_CALL) && !IsCallbackEndValue(code, w->endCalls != 0, w->endResult))
        from |= NOT_FROM_CALLBACK;
    if (code != 0 && code == st->explainedCode) {
        printf("    failed with code %ld (explained above)\n", code);
        return;
    }
    st->explainedCode = code;
    printf("    failed with code %ld; what it means:\n", code);
    ExplainCode(code, from, "    ");
}

static LONG Open(ProbeState* st, const char* host, const char* service, bool bind, DWORD timeoutMs, double* ms)
{
    char call[160], result[64];
    LONG code = 0;
    _snprintf(call, sizeof call, "_netopen(\"%s\", \"%s\", %s)", host, service, bind ? "bind" : "connect");
    call[sizeof call - 1] = 0;
    ArmWatch(&st->watch, "_netopen", timeoutMs);
    double start = NowMs();
    LONG s = st->x._netopen(host, service, bind ? NET_OPEN_BIND : 0, 0, &code, 0, st->conn);
    *ms = NowMs() - start;
    DisarmWatch(&st->watch);
    if (s == -1) {
        sprintf(result, "-1, error code %ld", code);
        PrintCall(call, result, *ms);
        bool explained = code == st->explainedCode;
        PrintFailure(st, code, FROM_OPEN);
        if (!explained && IsNameNotFound(code - NET_ERR_SERVICE))
            HintPortNumber(service, "    ");
        NoteFailure(st, OpenFailureStatus(code));
        return -1;
    }
    sprintf(result, "socket %ld", s);
    if (st->detail)
        PrintCall(call, result, *ms);
    if (st->detail && *ConnField(st, CONN_SOCKOPT_REFUSED))
        printf("    sockOptRefused is 1: the stack refused SO_DEBUG as unsupported (not a failure)\n");
    return s;
}

// Closes the socket (or, when the callback closed it, releases the socket
// library once); true when that succeeded.
static bool Close(ProbeState* st, LONG s)
{
    if (st->socketGone) {
        int released = WSACleanup();
        printf("%-46s -> %d\n", "WSACleanup() (the socket is already closed)", released);
        // The module's one WSAStartup is now matched when the library refuses
        // a new socket as not started; a count left over would still accept.
        SOCKET check = socket(AF_INET, SOCK_STREAM, 0);
        if (check == INVALID_SOCKET && WSAGetLastError() == WSANOTINITIALISED) {
            printf("    the socket library is released: every WSAStartup is matched by a WSACleanup\n");
        } else {
            printf("    the socket library is still started: a WSAStartup is left unmatched\n");
            if (check != INVALID_SOCKET)
                closesocket(check);
        }
        return false;
    }
    char call[64], result[32];
    sprintf(call, "_netclose(%ld)", s);
    double start = NowMs();
    LONG closed = st->x._netclose(s, 0);
    double ms = NowMs() - start;
    sprintf(result, "%ld", closed);
    if (st->detail || closed != 0)
        PrintCall(call, result, ms);
    if (closed != 0)
        NoteFailure(st, PROBE_FAILED);
    if (closed == -1)
        printf("    the socket is closed, but releasing the socket library (WSACleanup) failed\n");
    else if (closed != 0)
        ExplainCode(closed, FROM_CLOSE, "    ");
    return closed == 0;
}

static void StartWait(ProbeState* st, LONG s, double deadline)
{
    WaitRecord* w = &st->wait;
    memset(w, 0, sizeof *w);
    w->socket = (SOCKET)s;
    w->deadline = deadline;
    w->interruptSetAt = -1;
    w->start = NowMs();
}

// What the callback saw, under the call's line.
static void PrintWait(ProbeState* st, DWORD timeoutMs)
{
    const WaitRecord* w = &st->wait;
    if (w->timedOut) {
        printf("    no answer within %lu ms: the probe's callback closed the socket and ended the wait\n"
               "    with %d (%s, the server did not answer in time)\n",
               timeoutMs, PROBE_TIMEOUT_END, WinsockErrorName(PROBE_TIMEOUT_END));
        if (w->interruptSetAt >= 0)
            printf("    interruptRequest was set %.1f ms into the wait%s;\n    the server did not answer that either\n",
                   w->interruptSetAt, w->interruptSent ? " and the module sent the urgent byte \"B\"" : "");
        return;
    }
    if (!st->detail)
        return;
    if (w->firstCalls == 0) {
        printf("    ready at the first poll: no idle turn, the callback was not called\n");
        return;
    }
    char end[16] = "no end call";
    if (w->endCalls)
        sprintf(end, "%d", WAIT_PHASE_END);
    printf("    wait: callback phases %d, %d x %ld, %s (%ld idle turns)\n", WAIT_PHASE_FIRST, WAIT_PHASE_AGAIN,
           w->againCalls, end, w->firstCalls + w->againCalls);
    if (w->interruptSetAt >= 0) {
        volatile LONG* interrupt = ConnField(st, CONN_INTERRUPT_REQUEST);
        if (w->interruptSent || *interrupt == 0) {
            printf("    interruptRequest set %.1f ms into the wait; the module sent the urgent byte \"B\"\n",
                   w->interruptSetAt);
        } else {
            printf("    interruptRequest set %.1f ms into the wait, but the socket was ready before the next\n"
                   "    turn: no byte sent (the probe clears the field)\n",
                   w->interruptSetAt);
            *interrupt = 0;
        }
    }
}

// One _netsend or _netread with its wait watched and bounded by deadline;
// returns the call's result, ms gets its time. A wait the callback gave up
// on leaves the socket closed.
static LONG WaitingCall(ProbeState* st, bool sending, LONG s, char* bytes, LONG length, LONG* code, double deadline,
                        DWORD timeoutMs, double* ms)
{
    StartWait(st, s, deadline);
    ArmWatch(&st->watch, sending ? "_netsend" : "_netread", timeoutMs);
    LONG n = sending ? st->x._netsend(s, bytes, length, code, st->conn)
                     : st->x._netread(s, bytes, length, code, st->conn);
    *ms = NowMs() - st->wait.start;
    DisarmWatch(&st->watch);
    st->socketGone |= st->wait.timedOut;
    return n;
}

// Prints a _netsend or _netread (every call in detail, else only those that
// took nothing or failed) and its wait; a failure is explained unless the
// probe's own time-out ended it. Returns false when the call failed.
static bool ReportCall(ProbeState* st, const char* call, LONG n, LONG code, double ms, int from, DWORD timeoutMs)
{
    char result[64];
    sprintf(result, "%ld, error code %ld", n, code);
    if (st->detail || n <= 0)
        PrintCall(call, result, ms);
    PrintWait(st, timeoutMs);
    if (n >= 0)
        return true;
    if (!(st->wait.timedOut && code == PROBE_TIMEOUT_END))
        PrintFailure(st, code, from);
    NoteFailure(st, st->wait.timedOut ? PROBE_NO_ANSWER : PROBE_FAILED);
    return false;
}

// Sends all of text, as a host does: _netsend takes what the socket takes.
static bool SendAll(ProbeState* st, LONG s, const char* text, LONG length, DWORD timeoutMs)
{
    double deadline = NowMs() + timeoutMs;
    LONG sent = 0, zeroResults = 0;
    while (sent < length) {
        char call[96];
        LONG code = 0;
        double ms;
        sprintf(call, "_netsend(%ld, %ld bytes)", s, length - sent);
        LONG n = WaitingCall(st, true, s, (char*)text + sent, length - sent, &code, deadline, timeoutMs, &ms);
        if (n == 0 && code == 0 && NowMs() < deadline) {
            zeroResults++;  // the socket took nothing just now: try again
            continue;
        }
        if (!ReportCall(st, call, n, code, ms, FROM_SEND, timeoutMs))
            return false;
        if (n == 0) {
            printf("    the socket took nothing for %lu ms (_netsend returned 0 %ld times)\n", timeoutMs,
                   zeroResults + 1);
            NoteFailure(st, PROBE_NO_ANSWER);
            return false;
        }
        sent += n;
    }
    return true;
}

// Reads until length bytes came back, the server closed, or the time-out.
static LONG ReadBack(ProbeState* st, LONG s, char* buffer, LONG length, DWORD timeoutMs)
{
    double deadline = NowMs() + timeoutMs;
    LONG got = 0;
    while (got < length) {
        char call[96];
        LONG code = 0;
        double ms;
        sprintf(call, "_netread(%ld, up to %ld bytes)", s, length - got);
        LONG n = WaitingCall(st, false, s, buffer + got, length - got, &code, deadline, timeoutMs, &ms);
        if (!ReportCall(st, call, n, code, ms, FROM_READ, timeoutMs))
            break;
        if (n == 0) {
            printf("    the server closed the connection\n");
            NoteFailure(st, PROBE_FAILED);
            break;
        }
        if (st->detail) {
            printf("    read: ");
            PrintQuoted(buffer + got, n);
            printf("\n");
        }
        got += n;
    }
    return got;
}

static void Pause(DWORD ms)
{
    if (ms)
        Sleep(ms);
}

int CommandOpen(const ProbeOptions* o)
{
    static ProbeState st;
    if (!LoadModule(&st, o))
        return PROBE_NO_MODULE;
    static double times[MAX_COUNT];
    DWORD answered = 0;
    for (DWORD i = 0; i < o->count; i++) {
        if (i > 0)
            Pause(o->intervalMs);
        double ms;
        LONG s = Open(&st, o->argv[0], o->argv[1], o->bind, o->timeoutMs, &ms);
        bool ok = s != -1 && Close(&st, s);
        if (ok)
            times[answered++] = ms;
        if (!st.detail)
            printf("open %lu: %s, %.2f ms\n", i + 1, ok ? "answered" : "failed", ms);
    }
    if (!st.detail) {
        printf("%lu opens, %lu answered, %lu failed\n", o->count, answered, o->count - answered);
        PrintTimeSummary("_netopen", times, (int)answered);
    }
    EndModule(&st);
    return st.status;
}

// Joins the words of TEXT with spaces; false when they do not fit.
static bool JoinText(const ProbeOptions* o, char* text, LONG* length)
{
    *length = 0;
    for (int i = 2; i < o->argc; i++) {
        int word = lstrlenA(o->argv[i]);
        if (*length + word + 1 >= TEXT_SIZE) {
            fprintf(stderr, "ravoprobe send: TEXT is longer than %d bytes\n", TEXT_SIZE - 1);
            return false;
        }
        if (i > 2)
            text[(*length)++] = ' ';
        memcpy(text + *length, o->argv[i], word);
        *length += word;
    }
    return true;
}

// One round trip: sends the text and reads it back; true when all came back.
static bool RoundTrip(ProbeState* st, LONG s, const char* text, LONG length, DWORD timeoutMs)
{
    static char answer[TEXT_SIZE];
    if (!SendAll(st, s, text, length, timeoutMs))
        return false;
    LONG got = ReadBack(st, s, answer, length, timeoutMs);
    bool same = got == length && memcmp(answer, text, length) == 0;
    if (got == length && (st->detail || !same))
        printf("    answer: %ld bytes, %s\n", got, same ? "the same as sent" : "different from what was sent");
    else if (got != length)
        printf("    answer: %ld of %ld bytes\n", got, length);
    return got == length;
}

int CommandSend(const ProbeOptions* o)
{
    static char text[TEXT_SIZE];
    static ProbeState st;
    LONG length;
    if (!JoinText(o, text, &length))
        return PROBE_USAGE;
    if (!LoadModule(&st, o))
        return PROBE_NO_MODULE;
    double openMs;
    LONG s = Open(&st, o->argv[0], o->argv[1], false, o->timeoutMs, &openMs);
    if (s == -1) {
        EndModule(&st);
        return st.status;
    }
    static double times[MAX_COUNT];
    DWORD attempted = 0, answered = 0;
    // A failed round trip leaves the connection unusable (closed by the
    // server or, after a time-out, by the probe's callback): stop there.
    for (bool ok = true; attempted < o->count && ok; attempted++) {
        if (attempted > 0)
            Pause(o->intervalMs);
        double start = NowMs();
        ok = RoundTrip(&st, s, text, length, o->timeoutMs);
        double ms = NowMs() - start;
        if (ok)
            times[answered++] = ms;
        if (!st.detail)
            printf("round trip %lu: %s, %.2f ms\n", attempted + 1, ok ? "answered" : "failed", ms);
    }
    if (!st.detail) {
        printf("%lu round trip%s of %ld bytes on one connection, %lu answered\n", attempted,
               attempted == 1 ? "" : "s", length, answered);
        if (attempted < o->count)
            printf("stopped after round trip %lu of %lu: %s\n", attempted, o->count,
                   st.socketGone                     ? "the time-out closed the connection"
                   : st.status == PROBE_NO_ANSWER    ? "the socket took nothing within the time-out"
                                                     : "the server ended the exchange or a call failed");
        PrintTimeSummary("round trip", times, (int)answered);
    }
    if (o->interruptAfterMs >= 0 && !st.interruptDone)
        printf("    no wait lasted %ld ms: interruptRequest was never set\n", o->interruptAfterMs);
    Close(&st, s);
    EndModule(&st);
    return st.status;
}
