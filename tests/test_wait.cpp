// The readiness wait through _netsend and _netread: polls, the host's
// callback and its phases, the input hooks around the module's own idle
// turns, the urgent interrupt, poll failures, and what each block mode does
// on an idle turn.
#include "check.h"
#include "intercept.h"
#include "session.h"
#include <string.h>

static const char SERVICE[] = "ravotest2";
static const char USER_IDLE_PROFILE[] = "mcBlockMode=3\r\nmcUserDll=ravotestidle.dll\r\nmcUserFunc=TestIdle";
enum { MAX_TURNS = 256, WATCHDOG_MS = 10000, TEST_MESSAGE = WM_USER + 1 };

// What the scripted callback does on its turns (1-based), and what it saw.
static Session* active;
static LONG endValue;
static DWORD zeroOnTurns;   // bit n: return 0 (module runs its idle turn) on turn n
static int goOnTurn;        // set the peer's go event
static int interruptOnTurn; // ask for the urgent byte
static int clearOnTurn;     // clear waitCallback
static LONG phasesSeen[MAX_TURNS];  // the first calls' phases
static int logAtCall[MAX_TURNS];    // the call log's length at each of them
static int callbackCalls;
static int phaseCount[3];           // calls by phase (0, 1, 2)
static LONG lastPhase;
static int logAtLastCall;
static int callbackCallsWithHooks;

// What the select observer does: not-ready answers, a go event, a watchdog.
static int notReadyPolls;
static int goAfterSelects;
static int selectsSeen;
static int hookInstallsSeen;  // counted here too: a long wait can fill the call log
static int retrievalsSeen;
static DWORD waitStarted;

// True when the last hook call the module made installed a hook.
static LONG HooksInstalledNow(void)
{
    for (int i = CallLogSize() - 1; i >= 0; i--) {
        if (strcmp(CallAt(i)->name, "SetWindowsHookExA") == 0)
            return 1;
        if (strcmp(CallAt(i)->name, "UnhookWindowsHookEx") == 0)
            return 0;
    }
    return 0;
}

static LONG __stdcall ScriptedCallback(LONG phase)
{
    int call = callbackCalls++;
    if (call < MAX_TURNS) {
        phasesSeen[call] = phase;
        logAtCall[call] = CallLogSize();
    }
    if (phase >= 0 && phase <= 2)
        phaseCount[phase]++;
    lastPhase = phase;
    logAtLastCall = CallLogSize();
    if (HooksInstalledNow())
        callbackCallsWithHooks++;
    if (phase == 0)
        return endValue;
    int turn = call + 1;
    if (turn == goOnTurn)
        SetEvent(active->peer.go);
    if (turn == interruptOnTurn)
        SetConnField(&active->conn, CONN_INTERRUPT_REQUEST, 1);
    if (turn == clearOnTurn)
        SetConnCallback(&active->conn, NULL);
    return turn < 32 && (zeroOnTurns & (1u << turn)) ? 0 : 1;
}

// Answers "not ready" for the first notReadyPolls polls, then asks WinSock.
static int WINAPI SelectNotReadyAtFirst(int n, fd_set* r, fd_set* w, fd_set* e, const struct timeval* t)
{
    typedef int(WINAPI * SelectFn)(int, fd_set*, fd_set*, fd_set*, const struct timeval*);
    if (notReadyPolls > 0) {
        notReadyPolls--;
        if (r)
            r->fd_count = 0;
        if (w)
            w->fd_count = 0;
        if (e)
            e->fd_count = 0;
        return 0;
    }
    return ((SelectFn)RealFunction("select"))(n, r, w, e, t);
}

// Sets the peer's go event after some polls; a wait has no time limit of its
// own, so one that runs too long is ended by failing its next poll.
static void ObserveCall(const char* name, const LONG*)
{
    if (strcmp(name, "SetWindowsHookExA") == 0)
        hookInstallsSeen++;
    if (strcmp(name, "PeekMessageA") == 0)
        retrievalsSeen++;
    if (strcmp(name, "select") != 0)
        return;
    if (++selectsSeen == goAfterSelects)
        SetEvent(active->peer.go);
    if (waitStarted && GetTickCount() - waitStarted > WATCHDOG_MS) {
        waitStarted = 0;
        CHECK(false, "the wait did not end within %d ms", WATCHDOG_MS);
        InjectFailure("select", 1, SOCKET_ERROR, WSAETIMEDOUT);
    }
}

static void ResetScript(void)
{
    endValue = 1;
    zeroOnTurns = 0;
    goOnTurn = interruptOnTurn = clearOnTurn = 0;
    callbackCalls = callbackCallsWithHooks = 0;
    phaseCount[0] = phaseCount[1] = phaseCount[2] = 0;
    lastPhase = -1;
    notReadyPolls = goAfterSelects = selectsSeen = 0;
    hookInstallsSeen = retrievalsSeen = 0;
    waitStarted = 0;
}

// Loads the module with the profile given (NULL: none) into a new session
// whose polls and calls the script watches.
static bool Begin(Session* t, const char* profile, PeerMode mode, const char* reply)
{
    ResetScript();
    WriteProfile(profile);
    if (!OpenSession(t, SERVICE, mode, reply))
        return false;
    t->wepBeforeUnload = true;
    active = t;
    SetCallObserver(ObserveCall);
    OverrideCall("select", (void*)SelectNotReadyAtFirst);
    return true;
}

static void End(Session* t)
{
    CloseSession(t);
    RemoveProfile();
    active = NULL;
}

struct CallOutcome {
    LONG result;
    LONG error;
};

static CallOutcome Send(Session* t, const char* text)
{
    CallOutcome o = {0, JUNK};
    waitStarted = GetTickCount();
    o.result = t->r.netsend(t->s, text, (LONG)strlen(text), &o.error, &t->conn);
    waitStarted = 0;
    return o;
}

static CallOutcome Read(Session* t, char* buffer, LONG size)
{
    CallOutcome o = {0, JUNK};
    memset(buffer, 0, size);
    waitStarted = GetTickCount();
    o.result = t->r.netread(t->s, buffer, size - 1, &o.error, &t->conn);
    waitStarted = 0;
    return o;
}

// Waits (bounded) until the test's own select sees the socket readable.
static bool ReadableSoon(LONG s)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET((SOCKET)s, &readable);
    struct timeval wait = {5, 0};
    return select(0, &readable, NULL, NULL, &wait) == 1;
}

// Waits (bounded) until the peer has received count urgent bytes.
static bool UrgentSoon(Peer* peer, LONG count)
{
    for (int i = 0; i < 500 && peer->urgentCount < count; i++)
        Sleep(10);
    return peer->urgentCount >= count;
}

static int SendsWithFlags(int flags)
{
    int n = 0;
    for (int i = 0; i < CallLogSize(); i++)
        if (strcmp(CallAt(i)->name, "send") == 0 && CallAt(i)->arg[2] == flags)
            n++;
    return n;
}

TEST_CASE(callback_returning_nonzero_sees_phases_1_2_then_0_and_no_hooks)
{
    Session t;
    if (!Begin(&t, NULL, PEER_REPLY_ON_EVENT, "answer"))
        return;
    SetConnCallback(&t.conn, ScriptedCallback);
    goOnTurn = 3;
    endValue = 7;
    char buffer[64];
    CallOutcome o = Read(&t, buffer, sizeof buffer);
    CHECK(o.result == 6 && strcmp(buffer, "answer") == 0, "read: expected 6 bytes \"answer\", seen %ld \"%s\" (error %ld)",
          o.result, buffer, o.error);
    CHECK_EQ(0, o.error, "error code");
    CHECK(callbackCalls >= 4, "callback calls: expected 4 or more, seen %d", callbackCalls);
    CHECK_EQ(1, phasesSeen[0], "phase of the first call");
    CHECK_EQ(1, phaseCount[1], "calls with phase 1");
    CHECK_EQ(callbackCalls - 2, phaseCount[2], "calls with phase 2 (all but the first and the last)");
    CHECK_EQ(1, phaseCount[0], "calls with phase 0");
    CHECK_EQ(0, lastPhase, "phase of the last call");
    // The end call comes after the last poll, which found the socket ready.
    CHECK(CallIndex("select", CallCount("select")) < logAtLastCall, "end call made before the last poll");
    CHECK_EQ(callbackCalls, selectsSeen, "polls (one per turn, plus the ready one)");
    CHECK_EQ(0, hookInstallsSeen, "hooks installed");
    CHECK_EQ(0, retrievalsSeen, "idle turns run by the module");
    CHECK_EQ(1, CallCount("recv"), "receives");
    End(&t);
}

// Checks that the hook calls come in install and remove pairs with the
// right kinds, owner, thread and handles; returns the number of installs.
static int CheckHookPairs(HMODULE owner)
{
    int installs = 0;
    LONG keyboard = 0, mouse = 0;
    for (int i = 0; i < CallLogSize(); i++) {
        const CallRecord* c = CallAt(i);
        const CallRecord* next = CallAt(i + 1);
        if (strcmp(c->name, "SetWindowsHookExA") == 0) {
            if (!CHECK(next && strcmp(next->name, "SetWindowsHookExA") == 0, "keyboard hook not followed by the mouse hook"))
                return installs;
            CHECK(c->arg[0] == WH_KEYBOARD && next->arg[0] == WH_MOUSE, "hook kinds: expected 2 then 7, seen %ld then %ld",
                  c->arg[0], next->arg[0]);
            CHECK(c->arg[1] == (LONG)owner && next->arg[1] == (LONG)owner, "hook owner: expected the module %p, seen %lx",
                  (void*)owner, c->arg[1]);
            CHECK(c->arg[2] == (LONG)GetCurrentThreadId() && next->arg[2] == (LONG)GetCurrentThreadId(),
                  "hook thread: expected %lu, seen %ld", GetCurrentThreadId(), c->arg[2]);
            CHECK(c->result != 0 && next->result != 0, "a hook was not installed");
            keyboard = c->result;
            mouse = next->result;
            installs++;
            i++;
        } else if (strcmp(c->name, "UnhookWindowsHookEx") == 0) {
            if (!CHECK(next && strcmp(next->name, "UnhookWindowsHookEx") == 0, "keyboard unhook not followed by the mouse"))
                return installs;
            CHECK(c->arg[0] == keyboard && next->arg[0] == mouse,
                  "removed handles %lx, %lx: expected the installed %lx, %lx", c->arg[0], next->arg[0], keyboard, mouse);
            keyboard = mouse = 0;
            i++;
        }
    }
    CHECK(keyboard == 0, "hooks left installed after the wait: %s", CallLogText());
    return installs;
}

TEST_CASE(callback_returning_zero_gets_hooks_only_on_its_turns)
{
    Session t;
    if (!Begin(&t, NULL, PEER_COLLECT, NULL))
        return;
    SetConnCallback(&t.conn, ScriptedCallback);
    zeroOnTurns = (1u << 1) | (1u << 2) | (1u << 4);  // turns 3 and 5 are the host's
    notReadyPolls = 5;
    endValue = 0;
    CallOutcome o = Send(&t, "data");
    CHECK(o.result == 4 && o.error == 0, "send: expected 4 and error 0, seen %ld and %ld", o.result, o.error);
    CHECK_EQ(6, callbackCalls, "callback calls (5 turns and the end)");
    CHECK_EQ(0, callbackCallsWithHooks, "callback calls made with the hooks installed");
    CHECK_EQ(3, CheckHookPairs(t.r.dll), "hook installs (turns 1, 2 and 4)");
    CHECK_EQ(3, CallCount("PeekMessageA"), "idle turns run by the module");
    // Each install sits inside one of the turns whose callback returned 0.
    for (int n = 1; n <= CallCount("SetWindowsHookExA") / 2; n++) {
        int at = CallIndex("SetWindowsHookExA", 2 * n - 1);
        int turn = 0;
        while (turn < callbackCalls && logAtCall[turn] <= at)
            turn++;
        CHECK(turn >= 1 && (zeroOnTurns & (1u << turn)), "hooks installed after turn %d, which returned non-zero", turn);
    }
    int lastSet = CallIndex("SetWindowsHookExA", CallCount("SetWindowsHookExA") - 1);
    CHECK_EQ(CallAt(lastSet) ? CallAt(lastSet)->result : -1, ConnField(&t.conn, CONN_KEYBOARD_HOOK),
             "keyboardHook in the record");
    CHECK_EQ(CallAt(lastSet + 1) ? CallAt(lastSet + 1)->result : -1, ConnField(&t.conn, CONN_MOUSE_HOOK),
             "mouseHook in the record");
    End(&t);
}

TEST_CASE(end_value_decides_whether_send_and_read_go_on)
{
    Session t;
    if (!Begin(&t, NULL, PEER_ECHO, NULL))
        return;
    CallOutcome o = Send(&t, "kept");
    CHECK(o.result == 4, "send without a callback: expected 4, seen %ld (error %ld)", o.result, o.error);
    CHECK(ReadableSoon(t.s), "the echo did not arrive within 5 s");
    SetConnCallback(&t.conn, ScriptedCallback);
    char buffer[64];

    // Above 20: the end value is the error, and the socket is not touched.
    ResetScript();
    notReadyPolls = 2;
    endValue = 25;
    ClearCallLog();
    o = Send(&t, "lost");
    CHECK(o.result == -1 && o.error == 25, "send, end value 25: expected -1 and 25, seen %ld and %ld", o.result, o.error);
    ResetScript();
    notReadyPolls = 2;
    endValue = 25;
    o = Read(&t, buffer, sizeof buffer);
    CHECK(o.result == -1 && o.error == 25, "read, end value 25: expected -1 and 25, seen %ld and %ld", o.result, o.error);
    CHECK(CallCount("send") == 0 && CallCount("recv") == 0, "socket touched after a failed wait: %s", CallLogText());

    // 20, 0 and -5 let the call go on.
    static const LONG goOn[] = {20, 0, -5};
    for (int i = 0; i < 3; i++) {
        ResetScript();
        notReadyPolls = 2;
        endValue = goOn[i];
        o = Read(&t, buffer, sizeof buffer);
        const char* expected = i == 0 ? "kept" : "more";
        CHECK(o.result == 4 && o.error == 0 && strcmp(buffer, expected) == 0,
              "read, end value %ld: expected 4 \"%s\" and error 0, seen %ld \"%s\" and %ld", goOn[i], expected, o.result,
              buffer, o.error);
        CHECK_EQ(3, callbackCalls, "callback calls (2 turns and the end)");
        ResetScript();
        notReadyPolls = 2;
        endValue = goOn[i];
        o = Send(&t, "more");
        CHECK(o.result == 4 && o.error == 0, "send, end value %ld: expected 4 and error 0, seen %ld and %ld", goOn[i],
              o.result, o.error);
        CHECK(ReadableSoon(t.s), "the echo did not arrive within 5 s");
    }
    CHECK(t.peer.receivedLength == 16 && memcmp(t.peer.received, "keptmoremoremore", 16) == 0,
          "peer received %ld bytes \"%.*s\", expected \"keptmoremoremore\"", t.peer.receivedLength,
          (int)t.peer.receivedLength, t.peer.received);
    End(&t);
}

TEST_CASE(callback_cleared_during_the_wait_gets_no_end_call_and_the_poll_result_stands)
{
    Session t;
    if (!Begin(&t, NULL, PEER_COLLECT, NULL))
        return;
    SetConnCallback(&t.conn, ScriptedCallback);
    clearOnTurn = 2;
    endValue = 0;
    notReadyPolls = 3;
    InjectFailure("select", 4, SOCKET_ERROR, WSAENETDOWN);
    CallOutcome o = Send(&t, "data");
    CHECK(o.result == -1 && o.error == WSAENETDOWN + 150, "send: expected -1 and %d (the poll's), seen %ld and %ld",
          WSAENETDOWN + 150, o.result, o.error);
    CHECK_EQ(2, callbackCalls, "callback calls (turns 1 and 2, no end call)");
    CHECK_EQ(0, CallCount("send"), "sends after a failed poll");
    // Once the host has left, the module runs its own idle turns.
    CHECK_EQ(1, CallCount("PeekMessageA"), "idle turns run by the module (turn 3)");
    CheckHookPairs(t.r.dll);
    End(&t);
}

TEST_CASE(ready_socket_makes_one_poll_and_one_data_call_with_no_idle_turn)
{
    Session t;
    if (!Begin(&t, USER_IDLE_PROFILE, PEER_ECHO, NULL))
        return;
    typedef LONG (*CountFn)(void);
    CountFn idleCalls = (CountFn)(void*)GetProcAddress(GetModuleHandleA("ravotestidle.dll"), "TestIdleCalls");
    if (!CHECK(idleCalls != NULL, "ravotestidle.dll not loaded by the module"))
        return End(&t);
    SetConnCallback(&t.conn, ScriptedCallback);
    CallOutcome o = Send(&t, "ping");
    CHECK(o.result == 4 && o.error == 0, "send: expected 4 and 0, seen %ld and %ld", o.result, o.error);
    // The first wait also looks up the module's own hook procedures, once.
    CHECK(strcmp(CallLogText(), "GetProcAddress GetProcAddress select __WSAFDIsSet send") == 0, "send calls: %s",
          CallLogText());
    const CallRecord* kybd = CallAt(0);
    const CallRecord* mouse = CallAt(1);
    CHECK(kybd && mouse && kybd->arg[0] == (LONG)t.r.dll && mouse->arg[0] == (LONG)t.r.dll &&
              strcmp((const char*)kybd->arg[1], "KybdBlockProc") == 0 &&
              strcmp((const char*)mouse->arg[1], "MouseBlockProc") == 0,
          "hook procedures not looked up by name in the module itself");
    const CallRecord* poll = CallAt(CallIndex("select", 1));
    CHECK(poll && poll->arg[1] == 1 && poll->arg[2] == 10,
          "send poll: expected the write set and 10 us, seen set %ld and %ld us", poll ? poll->arg[1] : 0,
          poll ? poll->arg[2] : 0);

    CHECK(ReadableSoon(t.s), "the echo did not arrive within 5 s");
    ClearCallLog();
    char buffer[64];
    o = Read(&t, buffer, sizeof buffer);
    CHECK(o.result == 4 && o.error == 0 && strcmp(buffer, "ping") == 0, "read: expected 4 \"ping\", seen %ld \"%s\" (%ld)",
          o.result, buffer, o.error);
    CHECK(strcmp(CallLogText(), "select __WSAFDIsSet recv") == 0, "read calls: %s", CallLogText());
    poll = CallAt(CallIndex("select", 1));
    CHECK(poll && poll->arg[1] == 2 && poll->arg[2] == 10,
          "read poll: expected the read set and 10 us, seen set %ld and %ld us", poll ? poll->arg[1] : 0,
          poll ? poll->arg[2] : 0);
    CHECK_EQ(0, callbackCalls, "callback calls");
    CHECK_EQ(0, idleCalls(), "user idle routine calls");
    End(&t);
}

// True when the urgent send at index at is wrapped by FIONBIO 0 and 1.
static bool WrappedInBlockingMode(int at, LONG s)
{
    const CallRecord* before = CallAt(at - 1);
    const CallRecord* send = CallAt(at);
    int after = at + 1;
    while (CallAt(after) && strcmp(CallAt(after)->name, "WSAGetLastError") == 0)
        after++;
    const CallRecord* restore = CallAt(after);
    return before && restore && strcmp(before->name, "ioctlsocket") == 0 && before->arg[0] == s &&
           (DWORD)before->arg[1] == FIONBIO && before->arg[2] == 0 && send->arg[0] == s && send->arg[1] == 1 &&
           strcmp(restore->name, "ioctlsocket") == 0 && (DWORD)restore->arg[1] == FIONBIO && restore->arg[2] == 1;
}

TEST_CASE(interrupt_is_sent_once_while_waiting_and_never_on_a_ready_socket)
{
    Session t;
    if (!Begin(&t, NULL, PEER_REPLY_ON_EVENT, "late"))
        return;
    // Set before a read that has to wait: sent on the first idle turn.
    SetConnField(&t.conn, CONN_INTERRUPT_REQUEST, 1);
    goAfterSelects = 3;
    char buffer[64];
    CallOutcome o = Read(&t, buffer, sizeof buffer);
    CHECK(o.result == 4 && strcmp(buffer, "late") == 0, "read: expected 4 \"late\", seen %ld \"%s\" (error %ld)",
          o.result, buffer, o.error);
    CHECK_EQ(0, ConnField(&t.conn, CONN_INTERRUPT_REQUEST), "interruptRequest after the wait");
    CHECK_EQ(1, SendsWithFlags(MSG_OOB), "urgent sends");
    int urgent = CallIndex("send", 1);
    CHECK(urgent > CallIndex("select", 1) && urgent < CallIndex("select", 2),
          "urgent send not on the first idle turn: %s", CallLogText());
    CHECK(WrappedInBlockingMode(urgent, t.s), "urgent send not wrapped by FIONBIO 0 and 1: %s", CallLogText());
    CHECK(UrgentSoon(&t.peer, 1) && t.peer.urgent[0] == 'B', "peer's urgent bytes: expected \"B\", seen %ld (first %c)",
          t.peer.urgentCount, t.peer.urgentCount ? t.peer.urgent[0] : '-');

    // Set by the callback on its first turn: sent on the next turn, before
    // the callback runs again.
    ResetScript();
    ClearCallLog();
    SetConnCallback(&t.conn, ScriptedCallback);
    interruptOnTurn = 1;
    notReadyPolls = 3;
    o = Send(&t, "x");
    CHECK(o.result == 1 && o.error == 0, "send: expected 1 and 0, seen %ld and %ld", o.result, o.error);
    CHECK_EQ(0, ConnField(&t.conn, CONN_INTERRUPT_REQUEST), "interruptRequest after the wait");
    CHECK_EQ(1, SendsWithFlags(MSG_OOB), "urgent sends");
    urgent = CallIndex("send", 1);
    CHECK(callbackCalls >= 2 && urgent > logAtCall[0] && urgent < logAtCall[1],
          "urgent send not between the first two callback turns: %s", CallLogText());
    CHECK(WrappedInBlockingMode(urgent, t.s), "urgent send not wrapped by FIONBIO 0 and 1: %s", CallLogText());
    CHECK(UrgentSoon(&t.peer, 2) && t.peer.urgent[1] == 'B', "peer's urgent bytes: expected 2, seen %ld",
          t.peer.urgentCount);

    // Set before a call on a ready socket: nothing is sent, the field stays.
    ClearCallLog();
    SetConnCallback(&t.conn, NULL);
    SetConnField(&t.conn, CONN_INTERRUPT_REQUEST, 1);
    o = Send(&t, "y");
    CHECK(o.result == 1, "send on a ready socket: expected 1, seen %ld (error %ld)", o.result, o.error);
    CHECK_EQ(0, SendsWithFlags(MSG_OOB), "urgent sends on a ready socket");
    CHECK_EQ(0, CallCount("ioctlsocket"), "mode switches on a ready socket");
    CHECK_EQ(1, ConnField(&t.conn, CONN_INTERRUPT_REQUEST), "interruptRequest after a ready call");
    SetConnField(&t.conn, CONN_INTERRUPT_REQUEST, 0);
    End(&t);
    CHECK_EQ(2, t.peer.urgentCount, "urgent bytes the peer received in all");
}

TEST_CASE(select_failure_reports_error_plus_150_unless_the_callback_took_part)
{
    Session t;
    if (!Begin(&t, NULL, PEER_COLLECT, NULL))
        return;
    // First poll fails: the code, no hooks, no data call; a callback set
    // then is never called.
    char buffer[16];
    InjectFailure("select", 1, SOCKET_ERROR, WSAENETDOWN);
    CallOutcome o = Read(&t, buffer, sizeof buffer);
    CHECK(o.result == -1 && o.error == WSAENETDOWN + 150, "read: expected -1 and %d, seen %ld and %ld",
          WSAENETDOWN + 150, o.result, o.error);
    SetConnCallback(&t.conn, ScriptedCallback);
    InjectFailure("select", 1, SOCKET_ERROR, WSAENETDOWN);
    o = Send(&t, "data");
    CHECK(o.result == -1 && o.error == WSAENETDOWN + 150, "send: expected -1 and %d, seen %ld and %ld",
          WSAENETDOWN + 150, o.result, o.error);
    CHECK_EQ(0, callbackCalls, "callback calls");
    CHECK_EQ(0, CallCount("SetWindowsHookExA"), "hooks installed");
    CHECK(CallCount("send") == 0 && CallCount("recv") == 0, "data calls after a failed poll: %s", CallLogText());

    // Failing after the callback ran: the end value decides.
    static const LONG ends[] = {20, 25};
    for (int i = 0; i < 2; i++) {
        ResetScript();
        ClearCallLog();
        notReadyPolls = 2;
        endValue = ends[i];
        InjectFailure("select", 3, SOCKET_ERROR, WSAENETDOWN);
        o = Send(&t, "data");
        LONG expected = ends[i] > 20 ? -1 : 4;
        CHECK(o.result == expected && o.error == (ends[i] > 20 ? ends[i] : 0),
              "send, end value %ld after a failed poll: expected %ld, seen %ld (error %ld)", ends[i], expected, o.result,
              o.error);
        CHECK_EQ(ends[i] > 20 ? 0 : 1, CallCount("send"), "data calls");
    }
    End(&t);
}

// A hidden window of the host that counts the test messages it is sent.
static int messagesDispatched;
static LRESULT CALLBACK CountingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == TEST_MESSAGE)
        messagesDispatched++;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

static HWND MakeHostWindow(void)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "RavoWaitTestHost";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL,
                                wc.hInstance, NULL);
    CHECK(hwnd != NULL, "cannot create the host window: %lu", GetLastError());
    messagesDispatched = 0;
    return hwnd;
}

// Empties the thread's queue; returns how many test messages were left.
static int DrainTestMessages(void)
{
    int left = 0;
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        if (msg.message == TEST_MESSAGE)
            left++;
    return left;
}

TEST_CASE(quiet_modes_take_no_message_off_the_queue)
{
    static const char* profiles[] = {"mcBlockMode=1", "mcBlockMode=2"};
    for (int i = 0; i < 2; i++) {
        Session t;
        if (!Begin(&t, profiles[i], PEER_COLLECT, NULL))
            return;
        HWND hwnd = MakeHostWindow();
        for (int m = 0; m < 3; m++)
            PostMessageA(hwnd, TEST_MESSAGE, m, 0);
        notReadyPolls = 4;
        CallOutcome o = Send(&t, "q");
        CHECK(o.result == 1, "%s: send expected 1, seen %ld (error %ld)", profiles[i], o.result, o.error);
        CHECK_EQ(0, CallCount("PeekMessageA"), profiles[i]);
        CHECK_EQ(0, messagesDispatched, "messages dispatched during a quiet wait");
        CHECK_EQ(1, CheckHookPairs(t.r.dll), "hook installs without a callback");
        CHECK_EQ(3, DrainTestMessages(), "messages still queued after the wait");
        DestroyWindow(hwnd);
        End(&t);
    }
}

TEST_CASE(pump_mode_dispatches_one_message_a_turn_with_the_hooks_installed)
{
    Session t;
    if (!Begin(&t, NULL, PEER_COLLECT, NULL))
        return;
    HWND hwnd = MakeHostWindow();
    for (int m = 0; m < 5; m++)
        PostMessageA(hwnd, TEST_MESSAGE, m, 0);
    notReadyPolls = 3;
    CallOutcome o = Send(&t, "p");
    CHECK(o.result == 1 && o.error == 0, "send: expected 1 and 0, seen %ld and %ld", o.result, o.error);
    CHECK_EQ(3, messagesDispatched, "messages dispatched to the host's window in 3 idle turns");
    CHECK_EQ(3, CallCount("PeekMessageA"), "message retrievals");
    CHECK_EQ(3, CallCount("DispatchMessageA"), "dispatches");
    for (int n = 1; n <= CallCount("PeekMessageA"); n++) {
        const CallRecord* peek = CallAt(CallIndex("PeekMessageA", n));
        CHECK(peek->arg[0] == 0 && peek->arg[1] == 0 && peek->arg[2] == PM_REMOVE,
              "PeekMessageA(hwnd %lx, range %lx, flags %ld): expected NULL, 0 to 0, PM_REMOVE", peek->arg[0],
              peek->arg[1], peek->arg[2]);
        const CallRecord* dispatch = CallAt(CallIndex("DispatchMessageA", n));
        CHECK(dispatch && dispatch->arg[1] == (LONG)hwnd, "dispatch %d not to the host's window", n);
        // One retrieval per turn: each lies between two polls.
        int at = CallIndex("PeekMessageA", n);
        CHECK(at > CallIndex("select", n) && at < CallIndex("select", n + 1), "retrieval %d not in turn %d: %s", n, n,
              CallLogText());
    }
    // Without a callback the hooks go on at the first turn and off at the end.
    CHECK_EQ(1, CheckHookPairs(t.r.dll), "hook installs");
    CHECK(CallIndex("SetWindowsHookExA", 2) < CallIndex("PeekMessageA", 1) &&
              CallIndex("UnhookWindowsHookEx", 1) > CallIndex("select", 4),
          "hooks not around the idle turns: %s", CallLogText());
    CHECK_EQ(2, DrainTestMessages(), "messages still queued after the wait");
    DestroyWindow(hwnd);
    End(&t);
}

TEST_CASE(quit_taken_during_a_pump_wait_is_posted_again_with_its_code)
{
    Session t;
    if (!Begin(&t, NULL, PEER_COLLECT, NULL))
        return;
    HWND hwnd = MakeHostWindow();
    PostMessageA(hwnd, TEST_MESSAGE, 0, 0);
    PostMessageA(hwnd, TEST_MESSAGE, 1, 0);
    PostQuitMessage(42);
    notReadyPolls = 4;
    CallOutcome o = Send(&t, "w");
    CHECK(o.result == 1 && o.error == 0, "send: expected 1 and 0, seen %ld and %ld", o.result, o.error);
    CHECK_EQ(2, messagesDispatched, "test messages dispatched before the quit");
    CHECK_EQ(2, CallCount("DispatchMessageA"), "dispatches (the quit is not dispatched)");
    int reposts = CallCount("PostQuitMessage");
    CHECK(reposts >= 1, "the quit taken off the queue was not posted again: %s", CallLogText());
    for (int n = 1; n <= reposts; n++)
        CHECK_EQ(42, CallAt(CallIndex("PostQuitMessage", n))->arg[0], "exit code posted again");

    // The host's own loop still sees the quit, once, with its code.
    MSG msg;
    BOOL got = PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE);
    CHECK(got && msg.message == WM_QUIT && msg.wParam == 42, "host's next message: expected WM_QUIT 42, seen %u %u",
          got ? msg.message : 0, got ? (unsigned)msg.wParam : 0);
    CHECK(!PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE), "a second WM_QUIT was queued");
    DestroyWindow(hwnd);
    End(&t);
}

typedef void (*IdleResetFn)(LONG (*probe)(void));
typedef LONG (*IdleCountFn)(void);

TEST_CASE(user_idle_routine_runs_once_per_own_turn_with_the_hooks_installed)
{
    Session t;
    if (!Begin(&t, USER_IDLE_PROFILE, PEER_COLLECT, NULL))
        return;
    HMODULE idle = GetModuleHandleA("ravotestidle.dll");
    IdleResetFn reset = (IdleResetFn)(void*)GetProcAddress(idle, "TestIdleReset");
    IdleCountFn calls = (IdleCountFn)(void*)GetProcAddress(idle, "TestIdleCalls");
    IdleCountFn withHooks = (IdleCountFn)(void*)GetProcAddress(idle, "TestIdleCallsWithHooks");
    if (!CHECK(reset && calls && withHooks, "ravotestidle.dll not loaded by the module or its exports missing"))
        return End(&t);

    // Without a callback: every turn is the module's own.
    reset(HooksInstalledNow);
    notReadyPolls = 4;
    CallOutcome o = Send(&t, "u");
    CHECK(o.result == 1, "send: expected 1, seen %ld (error %ld)", o.result, o.error);
    CHECK_EQ(4, calls(), "idle routine calls in 4 turns without a callback");
    CHECK_EQ(4, withHooks(), "idle routine calls with the hooks installed");

    // With a callback that returns 0 on turns 2 and 4 of 5.
    reset(HooksInstalledNow);
    ResetScript();
    ClearCallLog();
    SetConnCallback(&t.conn, ScriptedCallback);
    zeroOnTurns = (1u << 2) | (1u << 4);
    notReadyPolls = 5;
    o = Send(&t, "v");
    CHECK(o.result == 1, "send: expected 1, seen %ld (error %ld)", o.result, o.error);
    CHECK_EQ(2, calls(), "idle routine calls on the turns whose callback returned 0");
    CHECK_EQ(2, withHooks(), "idle routine calls with the hooks installed");
    CHECK_EQ(0, callbackCallsWithHooks, "callback calls made with the hooks installed");
    CHECK_EQ(2, CheckHookPairs(t.r.dll), "hook installs");
    reset(NULL);
    End(&t);
}

int main(int argc, char** argv)
{
    return RunAllTests(argc, argv);
}
