// Torture: one open, send, read and close sequence is recorded once; then,
// in a fresh module for each, every fallible platform call the module made
// in it is failed in turn. Every run must report the code of the stage that
// failed, close the socket wherever one was made, and leave no hook behind.
#include "check.h"
#include "intercept.h"
#include "peer.h"
#include "ravo.h"
#include "waitlimit.h"
#include <stdio.h>
#include <string.h>

enum { STEP_OPEN, STEP_SEND, STEP_READ, STEP_CLOSE, STEP_COUNT };
static const char* const STEP_NAMES[STEP_COUNT] = {"_netopen", "_netsend", "_netread", "_netclose"};

static const char REQUEST[] = "torture: the request";
static const char REPLY[] = "torture: the reply";
static const int FAILURE_ERROR = WSAENETDOWN;
// The read wait is let through on its third poll, so the first polls of the
// read are the same in every run; later polls depend on timing.
enum { READ_POLL_RELEASING_REPLY = 3, PEER_END_MS = 5000, MAX_RECORDS = 20000 };

// One failure to inject: the nth call of name (counted from a fresh load).
struct Fault {
    const char* name;
    int nth;
    LONG result;
    int error;
};

// What the four steps of one run returned.
struct Outcome {
    int stepsRun;
    LONG socket, openError;
    LONG sent, sendError;
    LONG got, readError;
    char reply[64];
    LONG closed, closedAgain;
    LONG interruptLeft;
};

static Peer peer;

// The observer releases the peer's reply on the third read poll and bounds
// the waits of the send and the read.
static int readPolls;
static int releaseIndex;
static WaitLimit limit;

static void Observe(const char* name, const LONG* args)
{
    EnforceWaitLimit(&limit, name);
    if (strcmp(name, "select") == 0 && args[1] == NET_WAIT_READ && ++readPolls == READ_POLL_RELEASING_REPLY) {
        releaseIndex = CallLogSize();
        SetEvent(peer.go);
    }
}

// Runs the sequence in a freshly loaded module with the fault (if any)
// injected; stops after a failed open, as a host would. Leaves the call log
// for the caller and the module loaded in r.
static void RunSequence(Ravo* r, TestConn* conn, const Fault* fault, int stepStart[STEP_COUNT + 1], Outcome* o)
{
    memset(o, 0, sizeof *o);
    o->socket = -1;
    readPolls = 0;
    releaseIndex = -1;
    limit = WaitLimit{};
    ResetEvent(peer.go);
    SetCallObserver(Observe);
    if (fault)
        InjectFailure(fault->name, fault->nth, fault->result, fault->error);
    for (int i = 0; i <= STEP_COUNT; i++)
        stepStart[i] = -1;

    stepStart[STEP_OPEN] = CallLogSize();
    o->stepsRun = 1;
    o->socket = r->_netopen("127.0.0.1", "ravotest1", 0, 0, &o->openError, 0, conn);
    if (o->socket != -1) {
        stepStart[STEP_SEND] = CallLogSize();
        o->stepsRun = 2;
        ArmWaitLimit(&limit);
        o->sent = r->_netsend(o->socket, REQUEST, sizeof REQUEST - 1, &o->sendError, conn);

        stepStart[STEP_READ] = CallLogSize();
        o->stepsRun = 3;
        SetConnField(conn, CONN_INTERRUPT_REQUEST, 1);
        ArmWaitLimit(&limit);
        o->got = r->_netread(o->socket, o->reply, sizeof o->reply - 1, &o->readError, conn);
        DisarmWaitLimit(&limit);
        o->interruptLeft = ConnField(conn, CONN_INTERRUPT_REQUEST);

        stepStart[STEP_CLOSE] = CallLogSize();
        o->stepsRun = 4;
        o->closed = r->_netclose(o->socket, 0);
        // A socket that could not be closed is still the host's: it closes it again.
        if (o->closed != 0 && o->closed != -1)
            o->closedAgain = r->_netclose(o->socket, 0);
    }
    stepStart[STEP_COUNT] = CallLogSize();
    SetCallObserver(NULL);
}

// The step in which the call at log index i was made.
static int StepOf(const int stepStart[STEP_COUNT + 1], int i)
{
    int step = STEP_OPEN;
    for (int s = 0; s < STEP_COUNT; s++)
        if (stepStart[s] >= 0 && i >= stepStart[s])
            step = s;
    return step;
}

// Which calls the module makes that can fail and whose failure means
// something. Not here: GetPrivateProfileIntA (a failure is the default, the
// same as a missing key), PeekMessageA (a failure is "no message"),
// __WSAFDIsSet, WSAGetLastError and GetCurrentThreadId (cannot fail), and
// UnhookWindowsHookEx (its result is ignored, and an injected failure would
// skip the real removal and leave the test's own hook behind).
static const char* const FALLIBLE[] = {
    "WSAStartup", "getservbyname", "gethostbyname", "socket", "connect", "setsockopt", "ioctlsocket",
    "select", "send", "recv", "closesocket", "WSACleanup", "GetProcAddress", "SetWindowsHookExA",
};

static bool IsFallible(const char* name)
{
    for (const char* f : FALLIBLE)
        if (strcmp(f, name) == 0)
            return true;
    return false;
}

// The result that means failure for each call.
static LONG FailingResult(const char* name)
{
    if (strcmp(name, "WSAStartup") == 0)
        return WSASYSNOTREADY;  // WSAStartup returns its error
    if (strcmp(name, "getservbyname") == 0 || strcmp(name, "gethostbyname") == 0 ||
        strcmp(name, "GetProcAddress") == 0 || strcmp(name, "SetWindowsHookExA") == 0)
        return 0;
    return -1;  // SOCKET_ERROR, INVALID_SOCKET
}

// The codes a run with the fault must report, per step; 0 where the step
// goes through (a count, or 0 from _netclose).
struct Expected {
    LONG openError;  // 0: the open succeeds
    LONG sendError;
    LONG readError;
    LONG closed;
};

static Expected ExpectedFor(const Fault* f, int step)
{
    Expected e = {0, 0, 0, 0};
    const char* n = f->name;
    if (step == STEP_OPEN) {
        if (strcmp(n, "WSAStartup") == 0) e.openError = f->result + NET_ERR_STARTUP;
        else if (strcmp(n, "getservbyname") == 0) e.openError = f->error + NET_ERR_SERVICE;
        else if (strcmp(n, "gethostbyname") == 0) e.openError = f->error + NET_ERR_HOST;
        else if (strcmp(n, "socket") == 0) e.openError = f->error + NET_ERR_SOCKET;
        else if (strcmp(n, "connect") == 0) e.openError = f->error;
        else if (strcmp(n, "setsockopt") == 0) e.openError = f->error + NET_ERR_SOCKOPT;
        else if (strcmp(n, "ioctlsocket") == 0) e.openError = f->error + NET_ERR_NONBLOCK;
    } else if (step == STEP_SEND || step == STEP_READ) {
        // In a wait only the poll's failure counts; the hook look-up and
        // installation and the urgent send are not reported.
        LONG code = 0;
        if (strcmp(n, "select") == 0)
            code = f->error + NET_ERR_SELECT;
        else if (strcmp(n, step == STEP_SEND ? "send" : "recv") == 0)
            code = f->error;
        if (step == STEP_SEND) e.sendError = code;
        else e.readError = code;
    } else {
        if (strcmp(n, "closesocket") == 0) e.closed = f->error;
        else if (strcmp(n, "WSACleanup") == 0) e.closed = -1;
    }
    return e;
}

// Prints one run's line, then checks it against what its fault must give
// (failures appear under the line).
static void CheckRun(const char* title, const Fault* f, int step, const TestConn* conn, const Outcome* o)
{
    Expected e = f ? ExpectedFor(f, step) : Expected{0, 0, 0, 0};
    char line[300];
    int used = o->socket == -1 ? snprintf(line, sizeof line, "%-40s open -1/%ld", title, o->openError)
                               : snprintf(line, sizeof line, "%-40s open ok", title);
    if (o->stepsRun > 1)
        used += snprintf(line + used, sizeof line - used, ", send %ld/%ld, read %ld/%ld, close %ld", o->sent,
                         o->sendError, o->got, o->readError, o->closed);
    if (o->closed != 0 && o->closed != -1)
        used += snprintf(line + used, sizeof line - used, " then %ld", o->closedAgain);
    int set = CallCount("SetWindowsHookExA");
    snprintf(line + used, sizeof line - used, "; hooks %d set, %d removed", set, CallCount("UnhookWindowsHookEx"));
    printf("  %s\n", line);

    CHECK(!limit.exceeded, "%s: a wait lasted over %d ms", title, WAIT_LIMIT_MS);
    if (e.openError) {
        CHECK_EQ(-1, o->socket, "socket from a failed open");
        CHECK_EQ(e.openError, o->openError, "open error code");
    } else if (CHECK(o->socket != -1, "%s: expected a socket, the open failed with %ld", title, o->openError)) {
        CHECK_EQ(e.sendError ? -1 : (LONG)sizeof REQUEST - 1, o->sent, "_netsend result");
        CHECK_EQ(e.sendError, o->sendError, "_netsend error code");
        if (e.readError) {
            CHECK_EQ(-1, o->got, "_netread result");
        } else {
            CHECK(o->got > 0 && memcmp(o->reply, REPLY, o->got) == 0, "%s: expected the reply \"%s\", seen %ld bytes \"%.*s\"",
                  title, REPLY, o->got, o->got > 0 ? (int)o->got : 0, o->reply);
            // The urgent byte was asked for on a wait that turned: cleared even when its send failed.
            CHECK_EQ(0, o->interruptLeft, "interruptRequest after the read's wait");
        }
        CHECK_EQ(e.readError, o->readError, "_netread error code");
        CHECK_EQ(e.closed, o->closed, "_netclose result");
        if (e.closed > 0) {
            CHECK_EQ(1, CallCount("WSACleanup"), "WSACleanup calls: none after the failed close, one after the retry");
            CHECK_EQ(0, o->closedAgain, "_netclose again after a failed close");
        }
    }

    // Every socket made is closed, by the module (failed open or _netclose).
    int made = CallIndex("socket", 1);
    LONG s = made >= 0 ? CallAt(made)->result : -1;
    if (s != -1 && !(f && strcmp(f->name, "socket") == 0)) {
        bool closed = false;
        for (int i = made + 1; i < CallLogSize(); i++)
            if (strcmp(CallAt(i)->name, "closesocket") == 0 && CallAt(i)->arg[0] == s && CallAt(i)->result == 0)
                closed = true;
        CHECK(closed, "%s: socket %ld was never closed; calls: %s", title, s, CallLogText());
    }
    // A connection that was made has ended at the peer too.
    int connected = CallIndex("connect", 1);
    if (connected >= 0 && CallAt(connected)->result == 0)
        CHECK(WaitConnectionEnded(&peer, PEER_END_MS), "%s: the peer's connection did not end within %d ms", title,
              PEER_END_MS);

    // Every hook installed was removed by its own handle.
    CHECK_EQ(set, CallCount("UnhookWindowsHookEx"), "UnhookWindowsHookEx calls against SetWindowsHookExA calls");
    for (int n = 1; n <= set; n++) {
        LONG hook = CallAt(CallIndex("SetWindowsHookExA", n))->result;
        if (!hook)
            continue;
        bool removed = false;
        for (int i = CallIndex("SetWindowsHookExA", n) + 1; i < CallLogSize(); i++)
            if (strcmp(CallAt(i)->name, "UnhookWindowsHookEx") == 0 && CallAt(i)->arg[0] == hook && CallAt(i)->result)
                removed = true;
        CHECK(removed, "%s: hook %lx was installed and never removed", title, hook);
        CHECK(!UnhookWindowsHookEx((HHOOK)hook), "%s: hook %lx was still installed after the run", title, hook);
    }
    CHECK(ConnPatternKept(conn), "%s: the host record changed outside the module's five fields", title);
}

struct Recorded {
    const char* name;
    int step;
    bool fixed;  // made in every run: not one of the read's later, timing-dependent polls
};

TEST_CASE(each_fallible_call_failing_in_turn_gives_its_stage_code_closes_the_socket_and_unhooks)
{
    if (!StartPeer(&peer, "ravotest1", PEER_REPLY_ON_EVENT))
        return;
    memcpy(peer.reply, REPLY, sizeof REPLY - 1);
    peer.replyLength = sizeof REPLY - 1;

    // The undisturbed sequence: it must succeed, and its log is the plan.
    Ravo r;
    TestConn conn;
    Outcome o;
    int stepStart[STEP_COUNT + 1];
    InitConn(&conn);
    if (!LoadRavo(&r)) {
        StopPeer(&peer);
        return;
    }
    RunSequence(&r, &conn, NULL, stepStart, &o);
    static Recorded plan[MAX_RECORDS];
    int planned = 0;
    int repeats = 0;
    printf("  sequence:");
    for (int i = 0; i < CallLogSize() && planned < MAX_RECORDS; i++) {
        const char* name = CallAt(i)->name;
        bool repeat = releaseIndex >= 0 && i > releaseIndex && StepOf(stepStart, i) == STEP_READ &&
                      (strcmp(name, "select") == 0 || strcmp(name, "__WSAFDIsSet") == 0 || strcmp(name, "PeekMessageA") == 0);
        plan[planned++] = {name, StepOf(stepStart, i), !repeat};
        if (repeat) {
            repeats += strcmp(name, "select") == 0;
            continue;
        }
        if (repeats)
            printf(" (%d more polls)", repeats);
        repeats = 0;
        printf(" %s", name);
    }
    printf("\n");
    CheckRun("no failure", NULL, STEP_OPEN, &conn, &o);
    UnloadRavo(&r);
    if (FailuresInCurrentCase()) {
        StopPeer(&peer);
        return;
    }
    // Each fallible call of the plan, failed in a run of its own.
    int runs = 0;
    int occurrences[sizeof FALLIBLE / sizeof FALLIBLE[0]] = {};
    int i = 0;
    for (; i < planned && FailuresInCurrentCase() == 0; i++) {
        if (!IsFallible(plan[i].name))
            continue;
        int which = 0;
        while (strcmp(FALLIBLE[which], plan[i].name) != 0)
            which++;
        int nth = ++occurrences[which];
        if (!plan[i].fixed)
            continue;
        Fault f = {FALLIBLE[which], nth, FailingResult(plan[i].name), FAILURE_ERROR};
        char title[80];
        snprintf(title, sizeof title, "%s #%d in %s fails", f.name, f.nth, STEP_NAMES[plan[i].step]);
        InitConn(&conn);
        if (!LoadRavo(&r))
            break;
        RunSequence(&r, &conn, &f, stepStart, &o);
        CheckRun(title, &f, plan[i].step, &conn, &o);
        UnloadRavo(&r);
        runs++;
    }
    // The list of fallible calls must match what the module really calls.
    for (size_t k = 0; i == planned && k < sizeof FALLIBLE / sizeof FALLIBLE[0]; k++)
        CHECK(occurrences[k] > 0, "the sequence made no %s call to fail", FALLIBLE[k]);
    printf("  %d runs with one failure each\n", runs);
    StopPeer(&peer);
}

int main(int argc, char** argv)
{
    return RunAllTests(argc, argv);
}
