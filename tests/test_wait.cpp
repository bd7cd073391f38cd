// The readiness wait through _netsend and _netread: polls, the host's
// callback and its phases, the input hooks around the module's own idle
// turns, the urgent interrupt, poll failures, and what each block mode does
// on an idle turn. Each case is one wait scenario: a Scenario record says
// what the polls and the host's callback do, and collects what was seen.
#include "check.h"
#include "idle_routine.h"
#include "intercept.h"
#include "outcome.h"
#include <string.h>

static const char SERVICE[] = "ravotest2";
static const char USER_IDLE_PROFILE[] = "mcBlockMode=3\r\nmcUserDll=ravotestidle.dll\r\nmcUserFunc=TestIdle";
enum { MAX_TURNS = 256, MAX_LISTED_TURNS = 4, TEST_MESSAGE = WM_USER + 1, PEER_MS = 5000 };

// One wait: what the case asks of the module's polls and of the host's
// callback (ScriptedCallback, when the case puts it in the record), and what
// the wait was seen doing. Turns count from 1.
struct Scenario {
    // The polls.
    int notReadyPolls = 0;  // the first polls answer "not ready"; later ones ask WinSock
    int goAtPoll = 0;       // at this poll the peer is told to send its reply
    int postAtPoll = 0;     // at this poll postNow is set
    // The host's callback.
    LONG endValue = 0;                       // its answer at WAIT_PHASE_END
    int zeroOnTurns[MAX_LISTED_TURNS] = {};  // turns it leaves to the module by returning 0
    int goOnTurn = 0;                        // tells the peer to send its reply
    int interruptOnTurn = 0;                 // asks for the urgent byte
    int clearOnTurn = 0;                     // takes itself out of the record
    // Seen by the callback.
    int calls = 0;
    LONG phases[MAX_TURNS] = {};  // of the first calls
    int logAt[MAX_TURNS] = {};    // the call log's length at each of them
    int callsByPhase[3] = {};
    LONG lastPhase = -1;  // -1: no call yet
    int logAtLastCall = 0;
    int callsWithHooks = 0;
    // Seen by the call observer (hooks and retrievals are counted here too: a
    // long wait can fill the call log).
    int polls = 0;
    int hookInstalls = 0;
    int retrievals = 0;
};

// The wait now running and its session, for the callback, the observer and
// the poll; NULL between waits (a set-up wait then runs unscripted).
static Scenario* scenario;
static Session* session;
static HANDLE postNow;

static bool LeftToModule(const Scenario* sc, int turn)
{
    for (int i = 0; i < MAX_LISTED_TURNS && sc->zeroOnTurns[i]; i++)
        if (sc->zeroOnTurns[i] == turn)
            return true;
    return false;
}

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
    Scenario* sc = scenario;
    if (!sc)
        return 1;
    int call = sc->calls++;
    if (call < MAX_TURNS) {
        sc->phases[call] = phase;
        sc->logAt[call] = CallLogSize();
    }
    if (phase >= WAIT_PHASE_END && phase <= WAIT_PHASE_AGAIN)
        sc->callsByPhase[phase]++;
    sc->lastPhase = phase;
    sc->logAtLastCall = CallLogSize();
    if (HooksInstalledNow())
        sc->callsWithHooks++;
    if (phase == WAIT_PHASE_END)
        return sc->endValue;
    int turn = call + 1;
    if (turn == sc->goOnTurn)
        SetEvent(session->peer.go);
    if (turn == sc->interruptOnTurn)
        SetConnField(&session->conn, CONN_INTERRUPT_REQUEST, 1);
    if (turn == sc->clearOnTurn)
        SetConnCallback(&session->conn, NULL);
    return LeftToModule(sc, turn) ? 0 : 1;
}

// Answers "not ready" to the scenario's first polls, then asks WinSock.
static int WINAPI ScriptedSelect(int n, fd_set* r, fd_set* w, fd_set* e, const struct timeval* t)
{
    typedef int(WINAPI * SelectFn)(int, fd_set*, fd_set*, fd_set*, const struct timeval*);
    // The observer has counted this poll already.
    if (scenario && scenario->polls <= scenario->notReadyPolls) {
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

static void ObserveCall(const char* name, const LONG*)
{
    EnforceWaitLimit(&session->limit, name);
    if (!scenario)
        return;
    if (strcmp(name, "SetWindowsHookExA") == 0)
        scenario->hookInstalls++;
    else if (strcmp(name, "PeekMessageA") == 0)
        scenario->retrievals++;
    else if (strcmp(name, "select") == 0 && ++scenario->polls == scenario->goAtPoll)
        SetEvent(session->peer.go);
    else if (strcmp(name, "select") == 0 && scenario->polls == scenario->postAtPoll)
        SetEvent(postNow);
}

// Loads the module with the profile given (NULL: none) into a new session
// whose polls and calls the scenarios watch.
static bool Begin(Session* t, const char* profile, PeerMode mode, const char* reply)
{
    WriteProfile(profile);
    if (!OpenSession(t, SERVICE, mode, reply))
        return false;
    t->wepBeforeUnload = true;
    session = t;
    SetCallObserver(ObserveCall);
    OverrideCall("select", (void*)ScriptedSelect);
    return true;
}

static void End(Session* t)
{
    CloseSession(t);
    RemoveProfile();
    session = NULL;
}

// One _netsend of text, run as the scenario sc says (NULL: unscripted).
static CallOutcome Send(Session* t, Scenario* sc, const char* text)
{
    scenario = sc;
    CallOutcome o = SendOnSession(t, text, (LONG)strlen(text));
    scenario = NULL;
    return o;
}

// One _netread into buffer, cleared first and kept NUL-terminated.
static CallOutcome ReadText(Session* t, Scenario* sc, char* buffer, LONG size)
{
    memset(buffer, 0, size);
    scenario = sc;
    CallOutcome o = ReadOnSession(t, buffer, size - 1);
    scenario = NULL;
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

static int SendsWithFlags(int flags)
{
    int n = 0;
    for (int i = 0; i < CallLogSize(); i++)
        if (strcmp(CallAt(i)->name, "send") == 0 && CallAt(i)->arg[2] == flags)
            n++;
    return n;
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

// --- The host's callback -------------------------------------------------

TEST_CASE(callback_returning_nonzero_sees_phase_1_then_2_then_0_and_no_hooks)
{
    Session t;
    if (!Begin(&t, NULL, PEER_REPLY_ON_EVENT, "answer"))
        return;
    SetConnCallback(&t.conn, ScriptedCallback);
    Scenario sc = {.endValue = 7, .goOnTurn = 3};
    char buffer[64];
    CallOutcome o = ReadText(&t, &sc, buffer, sizeof buffer);
    CHECK(o.result == 6 && strcmp(buffer, "answer") == 0, "read: expected 6 bytes \"answer\", seen %ld \"%s\" (error %ld)",
          o.result, buffer, o.error);
    CHECK_EQ(0, o.error, "error code");
    CHECK(sc.calls >= 4, "callback calls: expected 4 or more, seen %d", sc.calls);
    CHECK_EQ(WAIT_PHASE_FIRST, sc.phases[0], "phase of the first call");
    CHECK_EQ(1, sc.callsByPhase[WAIT_PHASE_FIRST], "calls with phase 1");
    CHECK_EQ(sc.calls - 2, sc.callsByPhase[WAIT_PHASE_AGAIN], "calls with phase 2 (all but the first and the last)");
    CHECK_EQ(1, sc.callsByPhase[WAIT_PHASE_END], "calls with phase 0");
    CHECK_EQ(WAIT_PHASE_END, sc.lastPhase, "phase of the last call");
    // The end call comes after the last poll, which found the socket ready.
    CHECK(CallIndex("select", CallCount("select")) < sc.logAtLastCall, "end call made before the last poll");
    CHECK_EQ(sc.calls, sc.polls, "polls (one per turn, plus the ready one)");
    CHECK_EQ(0, sc.hookInstalls, "hooks installed");
    CHECK_EQ(0, sc.retrievals, "idle turns run by the module");
    CHECK_EQ(1, CallCount("recv"), "receives");
    End(&t);
}

TEST_CASE(callback_returning_zero_gets_the_hooks_only_on_the_turns_it_leaves_to_the_module)
{
    Session t;
    if (!Begin(&t, NULL, PEER_COLLECT, NULL))
        return;
    SetConnCallback(&t.conn, ScriptedCallback);
    Scenario sc = {.notReadyPolls = 5, .endValue = 0, .zeroOnTurns = {1, 2, 4}};
    CallOutcome o = Send(&t, &sc, "data");
    CHECK(o.result == 4 && o.error == 0, "send: expected 4 and error 0, seen %ld and %ld", o.result, o.error);
    CHECK_EQ(6, sc.calls, "callback calls (5 turns and the end)");
    CHECK_EQ(0, sc.callsWithHooks, "callback calls made with the hooks installed");
    CHECK_EQ(3, CheckHookPairs(t.r.module), "hook installs (turns 1, 2 and 4)");
    CHECK_EQ(3, CallCount("PeekMessageA"), "idle turns run by the module");
    // Each install sits inside one of the turns whose callback returned 0.
    for (int n = 1; n <= CallCount("SetWindowsHookExA") / 2; n++) {
        int at = CallIndex("SetWindowsHookExA", 2 * n - 1);
        int turn = 0;
        while (turn < sc.calls && sc.logAt[turn] <= at)
            turn++;
        CHECK(turn >= 1 && LeftToModule(&sc, turn), "hooks installed after turn %d, which returned non-zero", turn);
    }
    int lastSet = CallIndex("SetWindowsHookExA", CallCount("SetWindowsHookExA") - 1);
    CHECK_EQ(CallAt(lastSet) ? CallAt(lastSet)->result : -1, ConnField(&t.conn, CONN_KEYBOARD_HOOK),
             "keyboardHook in the record");
    CHECK_EQ(CallAt(lastSet + 1) ? CallAt(lastSet + 1)->result : -1, ConnField(&t.conn, CONN_MOUSE_HOOK),
             "mouseHook in the record");
    End(&t);
}

enum Direction { SENDING, READING };

// One send or read whose wait turns twice with the callback, which then
// answers endValue at the end: above WAIT_RESULT_ERROR_ABOVE the call fails
// with it and leaves the socket alone; otherwise it goes on.
static void CheckEndValue(Direction direction, LONG endValue)
{
    Session t;
    if (!Begin(&t, NULL, PEER_ECHO, NULL))
        return;
    const char* text = direction == READING ? "kept" : "sent";
    if (direction == READING) {
        // Something to read: an echo, asked for without the callback.
        CallOutcome o = Send(&t, NULL, text);
        CHECK(o.result == 4, "send without a callback: expected 4, seen %ld (error %ld)", o.result, o.error);
        CHECK(ReadableSoon(t.s), "the echo did not arrive within 5 s");
        ClearCallLog();
    }
    SetConnCallback(&t.conn, ScriptedCallback);
    Scenario sc = {.notReadyPolls = 2, .endValue = endValue};
    char buffer[64];
    CallOutcome o = direction == READING ? ReadText(&t, &sc, buffer, sizeof buffer) : Send(&t, &sc, text);
    const char* call = direction == READING ? "read" : "send";
    CHECK_EQ(3, sc.calls, "callback calls (2 turns and the end)");
    if (endValue > WAIT_RESULT_ERROR_ABOVE) {
        CHECK(o.result == -1 && o.error == endValue, "%s, end value %ld: expected -1 and %ld, seen %ld and %ld", call,
              endValue, endValue, o.result, o.error);
        CHECK(CallCount("send") == 0 && CallCount("recv") == 0, "socket touched after a failed wait: %s", CallLogText());
    } else {
        CHECK(o.result == 4 && o.error == 0, "%s, end value %ld: expected 4 and error 0, seen %ld and %ld", call, endValue,
              o.result, o.error);
        if (direction == READING)
            CHECK(strcmp(buffer, text) == 0, "read, end value %ld: expected \"%s\", seen \"%s\"", endValue, text, buffer);
        else
            CHECK(WaitPeerReceived(&t.peer, 4, PEER_MS), "the peer did not receive the send within 5 s");
    }
    // Only a send that went on reaches the peer.
    bool reached = direction == READING || endValue <= WAIT_RESULT_ERROR_ABOVE;
    CHECK(t.peer.receivedLength == (reached ? 4 : 0) && (!reached || memcmp(t.peer.received, text, 4) == 0),
          "peer received %ld bytes \"%.*s\", expected \"%s\"", t.peer.receivedLength, (int)t.peer.receivedLength,
          t.peer.received, reached ? text : "");
    End(&t);
}

TEST_CASE(end_value_above_20_fails_the_send_and_leaves_the_socket_alone)
{
    CheckEndValue(SENDING, WAIT_RESULT_ERROR_ABOVE + 5);
}

TEST_CASE(end_value_above_20_fails_the_read_and_leaves_the_socket_alone)
{
    CheckEndValue(READING, WAIT_RESULT_ERROR_ABOVE + 5);
}

TEST_CASE(end_value_of_20_lets_the_send_go_on)
{
    CheckEndValue(SENDING, WAIT_RESULT_ERROR_ABOVE);
}

TEST_CASE(end_value_of_20_lets_the_read_go_on)
{
    CheckEndValue(READING, WAIT_RESULT_ERROR_ABOVE);
}

TEST_CASE(end_value_of_0_lets_the_send_go_on)
{
    CheckEndValue(SENDING, 0);
}

TEST_CASE(end_value_of_0_lets_the_read_go_on)
{
    CheckEndValue(READING, 0);
}

TEST_CASE(negative_end_value_lets_the_send_go_on)
{
    CheckEndValue(SENDING, -5);
}

TEST_CASE(negative_end_value_lets_the_read_go_on)
{
    CheckEndValue(READING, -5);
}

TEST_CASE(callback_cleared_during_the_wait_gets_no_end_call_and_the_poll_result_stands)
{
    Session t;
    if (!Begin(&t, NULL, PEER_COLLECT, NULL))
        return;
    SetConnCallback(&t.conn, ScriptedCallback);
    Scenario sc = {.notReadyPolls = 3, .endValue = 0, .clearOnTurn = 2};
    InjectFailure("select", 4, SOCKET_ERROR, WSAENETDOWN);
    CallOutcome o = Send(&t, &sc, "data");
    CHECK(o.result == -1 && o.error == WSAENETDOWN + NET_ERR_SELECT,
          "send: expected -1 and %d (the poll's), seen %ld and %ld", WSAENETDOWN + NET_ERR_SELECT, o.result, o.error);
    CHECK_EQ(2, sc.calls, "callback calls (turns 1 and 2, no end call)");
    CHECK_EQ(0, CallCount("send"), "sends after a failed poll");
    // Once the host has left, the module runs its own idle turns.
    CHECK_EQ(1, CallCount("PeekMessageA"), "idle turns run by the module (turn 3)");
    CheckHookPairs(t.r.module);
    End(&t);
}

// --- A socket that is ready at once ----------------------------------------

// The user idle routine's call count, or NULL when the module has not
// loaded ravotestidle.dll.
typedef LONG (*IdleCountFn)(void);
static IdleCountFn UserIdleCalls(void)
{
    return (IdleCountFn)(void*)GetProcAddress(GetModuleHandleA("ravotestidle.dll"), "TestIdleCalls");
}

TEST_CASE(ready_socket_send_makes_one_poll_and_one_send_after_looking_up_the_hook_procedures)
{
    Session t;
    if (!Begin(&t, USER_IDLE_PROFILE, PEER_ECHO, NULL))
        return;
    IdleCountFn idleCalls = UserIdleCalls();
    if (!CHECK(idleCalls != NULL, "ravotestidle.dll not loaded by the module"))
        return End(&t);
    SetConnCallback(&t.conn, ScriptedCallback);
    Scenario sc = {};
    CallOutcome o = Send(&t, &sc, "ping");
    CHECK(o.result == 4 && o.error == 0, "send: expected 4 and 0, seen %ld and %ld", o.result, o.error);
    // The first wait also looks up the module's own hook procedures.
    CHECK(strcmp(CallLogText(), "GetProcAddress GetProcAddress select __WSAFDIsSet send") == 0, "send calls: %s",
          CallLogText());
    const CallRecord* kybd = CallAt(0);
    const CallRecord* mouse = CallAt(1);
    CHECK(kybd && mouse && kybd->arg[0] == (LONG)t.r.module && mouse->arg[0] == (LONG)t.r.module &&
              strcmp((const char*)kybd->arg[1], "KybdBlockProc") == 0 &&
              strcmp((const char*)mouse->arg[1], "MouseBlockProc") == 0,
          "hook procedures not looked up by name in the module itself");
    const CallRecord* poll = CallAt(CallIndex("select", 1));
    CHECK(poll && poll->arg[1] == NET_WAIT_WRITE && poll->arg[2] == 10,
          "send poll: expected the write set and 10 us, seen set %ld and %ld us", poll ? poll->arg[1] : 0,
          poll ? poll->arg[2] : 0);
    CHECK_EQ(0, sc.calls, "callback calls");
    CHECK_EQ(0, idleCalls(), "user idle routine calls");
    End(&t);
}

TEST_CASE(ready_socket_read_makes_one_poll_and_one_receive_and_no_second_look_up)
{
    Session t;
    if (!Begin(&t, USER_IDLE_PROFILE, PEER_ECHO, NULL))
        return;
    IdleCountFn idleCalls = UserIdleCalls();
    if (!CHECK(idleCalls != NULL, "ravotestidle.dll not loaded by the module"))
        return End(&t);
    SetConnCallback(&t.conn, ScriptedCallback);
    CallOutcome o = Send(&t, NULL, "ping");
    CHECK(o.result == 4, "send: expected 4, seen %ld (error %ld)", o.result, o.error);
    CHECK(ReadableSoon(t.s), "the echo did not arrive within 5 s");
    ClearCallLog();
    Scenario sc = {};
    char buffer[64];
    o = ReadText(&t, &sc, buffer, sizeof buffer);
    CHECK(o.result == 4 && o.error == 0 && strcmp(buffer, "ping") == 0, "read: expected 4 \"ping\", seen %ld \"%s\" (%ld)",
          o.result, buffer, o.error);
    CHECK(strcmp(CallLogText(), "select __WSAFDIsSet recv") == 0, "read calls: %s", CallLogText());
    const CallRecord* poll = CallAt(CallIndex("select", 1));
    CHECK(poll && poll->arg[1] == NET_WAIT_READ && poll->arg[2] == 10,
          "read poll: expected the read set and 10 us, seen set %ld and %ld us", poll ? poll->arg[1] : 0,
          poll ? poll->arg[2] : 0);
    CHECK_EQ(0, sc.calls, "callback calls");
    CHECK_EQ(0, idleCalls(), "user idle routine calls");
    End(&t);
}

// --- The urgent interrupt ----------------------------------------------------

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

TEST_CASE(interrupt_asked_for_before_a_wait_goes_out_once_on_the_first_idle_turn)
{
    Session t;
    if (!Begin(&t, NULL, PEER_REPLY_ON_EVENT, "late"))
        return;
    SetConnField(&t.conn, CONN_INTERRUPT_REQUEST, 1);
    Scenario sc = {.goAtPoll = 3};
    char buffer[64];
    CallOutcome o = ReadText(&t, &sc, buffer, sizeof buffer);
    CHECK(o.result == 4 && strcmp(buffer, "late") == 0, "read: expected 4 \"late\", seen %ld \"%s\" (error %ld)",
          o.result, buffer, o.error);
    CHECK_EQ(0, ConnField(&t.conn, CONN_INTERRUPT_REQUEST), "interruptRequest after the wait");
    CHECK_EQ(1, SendsWithFlags(MSG_OOB), "urgent sends");
    int urgent = CallIndex("send", 1);
    CHECK(urgent > CallIndex("select", 1) && urgent < CallIndex("select", 2),
          "urgent send not on the first idle turn: %s", CallLogText());
    CHECK(WrappedInBlockingMode(urgent, t.s), "urgent send not wrapped by FIONBIO 0 and 1: %s", CallLogText());
    CHECK(WaitPeerUrgent(&t.peer, 1, PEER_MS) && t.peer.urgent[0] == 'B',
          "peer's urgent bytes: expected \"B\", seen %ld (first %c)", t.peer.urgentCount,
          t.peer.urgentCount ? t.peer.urgent[0] : '-');
    End(&t);
    CHECK_EQ(1, t.peer.urgentCount, "urgent bytes the peer received in all");
}

TEST_CASE(interrupt_asked_for_by_the_callback_goes_out_on_the_next_turn_before_the_callback)
{
    Session t;
    if (!Begin(&t, NULL, PEER_COLLECT, NULL))
        return;
    SetConnCallback(&t.conn, ScriptedCallback);
    Scenario sc = {.notReadyPolls = 3, .interruptOnTurn = 1};
    CallOutcome o = Send(&t, &sc, "x");
    CHECK(o.result == 1 && o.error == 0, "send: expected 1 and 0, seen %ld and %ld", o.result, o.error);
    CHECK_EQ(0, ConnField(&t.conn, CONN_INTERRUPT_REQUEST), "interruptRequest after the wait");
    CHECK_EQ(1, SendsWithFlags(MSG_OOB), "urgent sends");
    int urgent = CallIndex("send", 1);
    CHECK(sc.calls >= 2 && urgent > sc.logAt[0] && urgent < sc.logAt[1],
          "urgent send not between the first two callback turns: %s", CallLogText());
    CHECK(WrappedInBlockingMode(urgent, t.s), "urgent send not wrapped by FIONBIO 0 and 1: %s", CallLogText());
    CHECK(WaitPeerUrgent(&t.peer, 1, PEER_MS) && t.peer.urgent[0] == 'B', "peer's urgent bytes: expected \"B\", seen %ld",
          t.peer.urgentCount);
    End(&t);
    CHECK_EQ(1, t.peer.urgentCount, "urgent bytes the peer received in all");
}

TEST_CASE(interrupt_asked_for_before_a_call_on_a_ready_socket_is_not_sent_and_stays_asked)
{
    Session t;
    if (!Begin(&t, NULL, PEER_COLLECT, NULL))
        return;
    SetConnField(&t.conn, CONN_INTERRUPT_REQUEST, 1);
    Scenario sc = {};
    CallOutcome o = Send(&t, &sc, "y");
    CHECK(o.result == 1, "send on a ready socket: expected 1, seen %ld (error %ld)", o.result, o.error);
    CHECK_EQ(0, SendsWithFlags(MSG_OOB), "urgent sends on a ready socket");
    CHECK_EQ(0, CallCount("ioctlsocket"), "mode switches on a ready socket");
    CHECK_EQ(1, ConnField(&t.conn, CONN_INTERRUPT_REQUEST), "interruptRequest after a ready call");
    SetConnField(&t.conn, CONN_INTERRUPT_REQUEST, 0);
    End(&t);
    CHECK_EQ(0, t.peer.urgentCount, "urgent bytes the peer received in all");
}

// --- Poll failures -------------------------------------------------------------

TEST_CASE(poll_failing_at_once_fails_the_read_with_its_code_and_touches_nothing)
{
    Session t;
    if (!Begin(&t, NULL, PEER_COLLECT, NULL))
        return;
    Scenario sc = {};
    InjectFailure("select", 1, SOCKET_ERROR, WSAENETDOWN);
    char buffer[16];
    CallOutcome o = ReadText(&t, &sc, buffer, sizeof buffer);
    CHECK(o.result == -1 && o.error == WSAENETDOWN + NET_ERR_SELECT, "read: expected -1 and %d, seen %ld and %ld",
          WSAENETDOWN + NET_ERR_SELECT, o.result, o.error);
    CHECK_EQ(0, CallCount("SetWindowsHookExA"), "hooks installed");
    CHECK_EQ(0, CallCount("recv"), "receives after a failed poll");
    End(&t);
}

TEST_CASE(poll_failing_at_once_fails_the_send_with_its_code_and_never_calls_the_callback)
{
    Session t;
    if (!Begin(&t, NULL, PEER_COLLECT, NULL))
        return;
    SetConnCallback(&t.conn, ScriptedCallback);
    Scenario sc = {.endValue = WAIT_RESULT_ERROR_ABOVE + 5};
    InjectFailure("select", 1, SOCKET_ERROR, WSAENETDOWN);
    CallOutcome o = Send(&t, &sc, "data");
    CHECK(o.result == -1 && o.error == WSAENETDOWN + NET_ERR_SELECT, "send: expected -1 and %d, seen %ld and %ld",
          WSAENETDOWN + NET_ERR_SELECT, o.result, o.error);
    CHECK_EQ(0, sc.calls, "callback calls");
    CHECK_EQ(0, CallCount("SetWindowsHookExA"), "hooks installed");
    CHECK_EQ(0, CallCount("send"), "sends after a failed poll");
    End(&t);
}

// A send whose third poll fails after two turns with the callback: the
// callback's end value, not the poll's error, decides the outcome.
static void CheckPollFailureAfterTurns(LONG endValue)
{
    Session t;
    if (!Begin(&t, NULL, PEER_COLLECT, NULL))
        return;
    SetConnCallback(&t.conn, ScriptedCallback);
    Scenario sc = {.notReadyPolls = 2, .endValue = endValue};
    InjectFailure("select", 3, SOCKET_ERROR, WSAENETDOWN);
    CallOutcome o = Send(&t, &sc, "data");
    bool fails = endValue > WAIT_RESULT_ERROR_ABOVE;
    CHECK(o.result == (fails ? -1 : 4) && o.error == (fails ? endValue : 0),
          "send, end value %ld after a failed poll: expected %d and error %ld, seen %ld and %ld", endValue, fails ? -1 : 4,
          fails ? endValue : 0, o.result, o.error);
    CHECK_EQ(fails ? 0 : 1, CallCount("send"), "data calls");
    End(&t);
}

TEST_CASE(poll_failing_after_the_callback_ran_gives_way_to_an_end_value_above_20)
{
    CheckPollFailureAfterTurns(WAIT_RESULT_ERROR_ABOVE + 5);
}

TEST_CASE(poll_failing_after_the_callback_ran_gives_way_to_an_end_value_of_20)
{
    CheckPollFailureAfterTurns(WAIT_RESULT_ERROR_ABOVE);
}

// --- Block modes: the module's own idle turn -----------------------------------

// A hidden window of the host that counts the test messages it is sent
// (and, when asked, closes the session's socket on each).
static int messagesDispatched;
static HANDLE testMessageSeen;  // set on each, once made
static bool closeOnMessage;
static LRESULT CALLBACK CountingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == TEST_MESSAGE) {
        if (closeOnMessage && session->s > 0 && closesocket((SOCKET)session->s) == 0)
            session->s = -1;
        messagesDispatched++;
        if (testMessageSeen)
            SetEvent(testMessageSeen);
    }
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

// A wait of four turns in a quiet block mode, with three messages queued.
static void CheckQuietMode(const char* profile)
{
    Session t;
    if (!Begin(&t, profile, PEER_COLLECT, NULL))
        return;
    HWND hwnd = MakeHostWindow();
    for (int m = 0; m < 3; m++)
        PostMessageA(hwnd, TEST_MESSAGE, m, 0);
    Scenario sc = {.notReadyPolls = 4};
    CallOutcome o = Send(&t, &sc, "q");
    CHECK(o.result == 1, "%s: send expected 1, seen %ld (error %ld)", profile, o.result, o.error);
    CHECK_EQ(0, CallCount("PeekMessageA"), profile);
    CHECK_EQ(0, messagesDispatched, "messages dispatched during a quiet wait");
    CHECK_EQ(1, CheckHookPairs(t.r.module), "hook installs without a callback");
    CHECK_EQ(3, DrainTestMessages(), "messages still queued after the wait");
    DestroyWindow(hwnd);
    End(&t);
}

TEST_CASE(quiet_mode_1_takes_no_message_off_the_queue)
{
    CheckQuietMode("mcBlockMode=1");
}

TEST_CASE(quiet_mode_2_takes_no_message_off_the_queue)
{
    CheckQuietMode("mcBlockMode=2");
}

TEST_CASE(pump_mode_dispatches_one_message_a_turn_with_the_hooks_installed)
{
    Session t;
    if (!Begin(&t, NULL, PEER_COLLECT, NULL))
        return;
    HWND hwnd = MakeHostWindow();
    for (int m = 0; m < 5; m++)
        PostMessageA(hwnd, TEST_MESSAGE, m, 0);
    Scenario sc = {.notReadyPolls = 3};
    CallOutcome o = Send(&t, &sc, "p");
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
    CHECK_EQ(1, CheckHookPairs(t.r.module), "hook installs");
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
    Scenario sc = {.notReadyPolls = 4};
    CallOutcome o = Send(&t, &sc, "w");
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

// The test idle library's controls: its counters and its view of the hooks.
struct UserIdle {
    void (*reset)(LONG (*probe)(void));
    IdleCountFn calls;
    IdleCountFn callsWithHooks;
};

// Finds the library the module loaded and starts its counts afresh.
static bool ResetUserIdle(UserIdle* idle)
{
    HMODULE library = GetModuleHandleA("ravotestidle.dll");
    idle->reset = (void (*)(LONG (*)(void)))(void*)GetProcAddress(library, "TestIdleReset");
    idle->calls = (IdleCountFn)(void*)GetProcAddress(library, "TestIdleCalls");
    idle->callsWithHooks = (IdleCountFn)(void*)GetProcAddress(library, "TestIdleCallsWithHooks");
    if (!CHECK(idle->reset && idle->calls && idle->callsWithHooks,
               "ravotestidle.dll not loaded by the module or its exports missing"))
        return false;
    idle->reset(HooksInstalledNow);
    return true;
}

TEST_CASE(user_idle_routine_runs_on_every_turn_with_the_hooks_installed_when_there_is_no_callback)
{
    Session t;
    UserIdle idle;
    if (!Begin(&t, USER_IDLE_PROFILE, PEER_COLLECT, NULL))
        return;
    if (!ResetUserIdle(&idle))
        return End(&t);
    Scenario sc = {.notReadyPolls = 4};
    CallOutcome o = Send(&t, &sc, "u");
    CHECK(o.result == 1, "send: expected 1, seen %ld (error %ld)", o.result, o.error);
    CHECK_EQ(4, idle.calls(), "idle routine calls in 4 turns without a callback");
    CHECK_EQ(4, idle.callsWithHooks(), "idle routine calls with the hooks installed");
    idle.reset(NULL);
    End(&t);
}

TEST_CASE(user_idle_routine_runs_only_on_the_turns_the_callback_leaves_to_the_module)
{
    Session t;
    UserIdle idle;
    if (!Begin(&t, USER_IDLE_PROFILE, PEER_COLLECT, NULL))
        return;
    if (!ResetUserIdle(&idle))
        return End(&t);
    SetConnCallback(&t.conn, ScriptedCallback);
    Scenario sc = {.notReadyPolls = 5, .endValue = 0, .zeroOnTurns = {2, 4}};
    CallOutcome o = Send(&t, &sc, "v");
    CHECK(o.result == 1, "send: expected 1, seen %ld (error %ld)", o.result, o.error);
    CHECK_EQ(2, idle.calls(), "idle routine calls on the turns whose callback returned 0");
    CHECK_EQ(2, idle.callsWithHooks(), "idle routine calls with the hooks installed");
    CHECK_EQ(0, sc.callsWithHooks, "callback calls made with the hooks installed");
    CHECK_EQ(2, CheckHookPairs(t.r.module), "hook installs");
    idle.reset(NULL);
    End(&t);
}

// --- ravoidle.dll, the idle routine shipped for block mode 3 -------------------

static const char RAVOIDLE_PROFILE[] = "mcBlockMode=3\r\nmcUserDll=" RAVO_IDLE_DLL "\r\nmcUserFunc=" RAVO_IDLE_FUNC;
// From this poll on the routine blocks on the socket, each time for up to
// IDLE_WAIT_BOUND_MS: a wait ended by the bound instead of by the socket
// would come half a bound or more late.
enum { IDLE_BLOCKS_AT = IDLE_POLLING_TURNS + 1, IDLE_LATE_MS = IDLE_WAIT_BOUND_MS / 2 };

static bool BeginRavoidle(Session* t, PeerMode mode, const char* reply)
{
    if (!postNow) {
        postNow = CreateEventA(NULL, FALSE, FALSE, NULL);
        testMessageSeen = CreateEventA(NULL, FALSE, FALSE, NULL);
    }
    return Begin(t, RAVOIDLE_PROFILE, mode, reply) &&
           CHECK(GetModuleHandleA(RAVO_IDLE_DLL), "%s not loaded by the module", RAVO_IDLE_DLL);
}

// What ends a blocked read wait: done from another thread once it blocks.
struct IdleEnding {
    const char* what;
    int posts;              // messages posted one at a time, each once the last was dispatched
    bool postCloses;        // the posted message's window procedure closes the socket
    bool interrupt;         // the interrupt asked for, as a host's other thread does
    DWORD replyDelayMs;     // then the peer told to answer, this much later
    PeerMode afterReply;    // PEER_CLOSE, PEER_RESET: instead of answering, ends the connection so
    LONG result, orResult;  // Wine 8 reads a reset as an orderly close (0)
};
static const IdleEnding IDLE_ENDINGS[] = {
    {"the answer", 0, false, false, 0, PEER_COLLECT, 5, 5},
    {"the answer 5 ms late", 0, false, false, 5, PEER_COLLECT, 5, 5},
    {"posted messages, then the answer", 3, false, false, 0, PEER_COLLECT, 5, 5},
    {"the interrupt, then the answer", 0, false, true, 0, PEER_COLLECT, 5, 5},
    {"the peer closing", 0, false, false, 0, PEER_CLOSE, 0, 0},
    {"the peer resetting", 0, false, false, 0, PEER_RESET, 0, -1},
    {"a window procedure closing the socket", 1, true, false, 0, PEER_COLLECT, -1, -1},
};
static const IdleEnding* ending;  // the row running
static HWND postTo;

static DWORD WINAPI EndBlockedWait(LPVOID)
{
    bool ok = WaitForSingleObject(postNow, PEER_MS) == WAIT_OBJECT_0;
    for (int m = 0; ok && m < ending->posts; m++)
        ok = PostMessageA(postTo, TEST_MESSAGE, m, 0) && WaitForSingleObject(testMessageSeen, PEER_MS) == WAIT_OBJECT_0;
    if (ok && ending->interrupt) {
        SetConnField(&session->conn, CONN_INTERRUPT_REQUEST, 1);
        WaitPeerUrgent(&session->peer, 1, PEER_MS);
    }
    SetEvent(session->peer.go);
    return 0;
}

TEST_CASE(ravoidle_blocked_read_wait_ends_soon_after_what_ends_it_and_leaves_the_socket_as_it_was)
{
    for (const IdleEnding& e : IDLE_ENDINGS) {
        Session t;
        if (!BeginRavoidle(&t, PEER_REPLY_ON_EVENT, e.afterReply == PEER_COLLECT ? "late?" : ""))
            return End(&t);
        ending = &e;
        t.peer.replyDelayMs = e.replyDelayMs;
        t.peer.afterReply = e.afterReply;
        postTo = MakeHostWindow();
        closeOnMessage = e.postCloses;
        HANDLE ender = CreateThread(NULL, 0, EndBlockedWait, NULL, 0, NULL);
        Scenario sc = {.postAtPoll = IDLE_BLOCKS_AT};
        char buffer[64];
        CallOutcome o = ReadText(&t, &sc, buffer, sizeof buffer);
        DWORD lateMs = GetTickCount() - t.peer.repliedAt;
        CHECK(WaitForSingleObject(ender, PEER_MS) == WAIT_OBJECT_0, "%s: the thread did not end within 5 s", e.what);
        CHECK(o.result == e.result || o.result == e.orResult, "%s: expected the read to give %ld, seen %ld (error %ld)",
              e.what, e.result, o.result, o.error);
        CHECK(e.postCloses || lateMs < IDLE_LATE_MS, "%s: the read returned %lu ms after the peer's answer or end, "
              "expected under %d (the bound is %d ms)", e.what, lateMs, IDLE_LATE_MS, IDLE_WAIT_BOUND_MS);
        CHECK_EQ(e.posts, messagesDispatched, "messages posted during the wait and dispatched in it");
        CHECK(t.peer.urgentCount == (e.interrupt ? 1 : 0) && (!e.interrupt || t.peer.urgent[0] == 'B'),
              "%s: expected %d urgent \"B\", seen %ld urgent bytes", e.what, e.interrupt, t.peer.urgentCount);
        for (int i = 0; i < CallLogSize(); i++)
            CHECK(strcmp(CallAt(i)->name, "ioctlsocket") != 0 || CallAt(i)->result == 0,
                  "%s: a mode switch of the module failed: %s", e.what, CallLogText());
        char byte;
        CHECK(e.result != 5 || (recv((SOCKET)t.s, &byte, 1, 0) == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK),
              "%s: expected the drained socket still non-blocking (WSAEWOULDBLOCK), seen WSA error %d", e.what,
              WSAGetLastError());
        // An association left standing would make the switch to blocking fail.
        u_long mode = 0;
        CHECK(t.s < 0 || ioctlsocket((SOCKET)t.s, FIONBIO, &mode) == 0, "%s: FIONBIO 0 after the wait: expected "
              "success (no association), seen WSA error %d", e.what, WSAGetLastError());
        CloseHandle(ender);
        DestroyWindow(postTo);
        closeOnMessage = false;
        End(&t);
    }
}

TEST_CASE(ravoidle_write_wait_ends_when_the_peer_drains)
{
    Session t;
    if (!BeginRavoidle(&t, PEER_DRAIN_ON_EVENT, NULL))
        return End(&t);
    static char chunk[65536];
    while (send((SOCKET)t.s, chunk, sizeof chunk, 0) > 0)  // fills the buffers
        ;
    Scenario sc = {.goAtPoll = IDLE_BLOCKS_AT + 1};
    scenario = &sc;
    CallOutcome o = SendOnSession(&t, chunk, sizeof chunk);
    scenario = NULL;
    CHECK(o.result > 0 && sc.polls > IDLE_BLOCKS_AT, "send into full buffers: expected bytes taken once the peer "
          "drained after poll %d, seen %ld after %d polls (error %ld)", IDLE_BLOCKS_AT + 1, o.result, sc.polls, o.error);
    // WEP frees the library, whose wrapper still stands in the module's select entry: it stays loaded.
    t.r.WEP(0);
    CHECK(GetModuleHandleA(RAVO_IDLE_DLL) && SendOnSession(&t, "x", 1).result == 1, "a send after WEP failed");
    End(&t);
}

int main(int argc, char** argv)
{
    return RunAllTests(argc, argv);
}
