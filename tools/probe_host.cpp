// ravoprobe open and send: drives ravowsok.dll exactly as a host does, with a
// host record of its own and a wait callback that records the phases, sets
// the interrupt request when asked and bounds every wait.
//
// Bounding: the module's wait has no time limit and its callback cannot end
// it. Once the time-out has passed, the callback shuts the socket down in
// both directions, which makes the module's next poll report it ready, and
// answers the end of the wait with PROBE_TIMEOUT_END (10060), which the
// module then reports as the call's error code without touching the socket.
// A watchdog thread backs this up, bounds _netopen (whose connect blocks
// inside the socket library) and closes the module's settings message box.
#include "probe.h"
#include "ravowsok.h"
#include <stddef.h>
#include <stdio.h>
#include <string.h>


// The host's connection record: 256 bytes of which the module owns five
// fields at fixed offsets.
struct HostConn {
    BYTE head[116];
    volatile LONG interruptRequest;  // 116
    RavoWaitCallback waitCallback;     // 120
    HHOOK keyboardHook;              // 124
    HHOOK mouseHook;                 // 128
    BYTE middle[12];
    LONG sockOptRefused;  // 144
    BYTE tail[108];
};
static_assert(offsetof(HostConn, interruptRequest) == 116, "host record layout");
static_assert(offsetof(HostConn, waitCallback) == 120, "host record layout");
static_assert(offsetof(HostConn, keyboardHook) == 124, "host record layout");
static_assert(offsetof(HostConn, mouseHook) == 128, "host record layout");
static_assert(offsetof(HostConn, sockOptRefused) == 144, "host record layout");
static_assert(sizeof(HostConn) == 256, "host record size");

struct Module {
    HMODULE dll;
    NetOpenFn netopen;
    NetSendFn netsend;
    NetReadFn netread;
    NetCloseFn netclose;
    NetTypeFn nettype;
    WepFn wep;
};

// What the callback saw during the wait of one call.
struct WaitRecord {
    double start;
    double deadline;
    SOCKET socket;
    LONG firstCalls, againCalls, endCalls;
    double interruptSetAt;  // ms into the wait, or -1
    bool interruptSent;     // the module cleared the field on a later turn
    bool timedOut;
};

static Module module;
static HostConn conn;
static WaitRecord wait;
static LONG interruptAfterMs = -1;
static bool interruptDone;  // one interrupt per run

static volatile LONG watchArmed;
static volatile double watchDeadline;
static const char* volatile watchWhat;

enum { WATCHDOG_GRACE_MS = 2000, WATCHDOG_TICK_MS = 50 };
static const char SETTINGS_BOX_CAPTION[] = "mcBlockMode Init";

static LONG __stdcall ProbeWaitCallback(LONG phase)
{
    double now = NowMs();
    if (phase == 0) {
        wait.endCalls++;
        return wait.timedOut ? PROBE_TIMEOUT_END : 0;
    }
    if (phase == 1)
        wait.firstCalls++;
    else
        wait.againCalls++;
    // The module sends the urgent byte at the start of the turn after the one
    // on which the field was set, and clears the field when it does.
    if (wait.interruptSetAt >= 0 && !wait.interruptSent && conn.interruptRequest == 0)
        wait.interruptSent = true;
    if (interruptAfterMs >= 0 && !interruptDone && now - wait.start >= interruptAfterMs) {
        conn.interruptRequest = 1;
        wait.interruptSetAt = now - wait.start;
        interruptDone = true;
    }
    if (!wait.timedOut && now >= wait.deadline) {
        wait.timedOut = true;
        shutdown(wait.socket, SD_BOTH);
    }
    return 0;
}

static BOOL CALLBACK CollectBoxText(HWND child, LPARAM out)
{
    char cls[32], text[256];
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0 &&
        strlen(text) > strlen((char*)out))
        strcpy((char*)out, text);
    return TRUE;
}

// The module's settings message box would wait for a user forever: report
// its text once and press OK for them (again, if the box is still there).
static void CloseSettingsBox(void)
{
    static HWND reported;
    HWND box = FindWindowA(NULL, SETTINGS_BOX_CAPTION);
    if (!box)
        return;
    if (box != reported) {
        char text[256] = "";
        EnumChildWindows(box, CollectBoxText, (LPARAM)text);
        printf("    the module showed a message box \"%s\": \"%s\"\n"
               "    (closed by the probe; a host's user would have to press OK; see ravoprobe settings)\n",
               SETTINGS_BOX_CAPTION, text);
        reported = box;
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

static DWORD WINAPI Watchdog(LPVOID)
{
    for (;;) {
        Sleep(WATCHDOG_TICK_MS);
        if (!watchArmed)
            continue;
        CloseSettingsBox();
        if (NowMs() > watchDeadline) {
            printf("ravoprobe: %s did not return within the time-out and %d ms more; giving up (exit 1)\n",
                   watchWhat, WATCHDOG_GRACE_MS);
            TerminateProcess(GetCurrentProcess(), PROBE_FAILED);
        }
    }
}

static void Arm(const char* what, DWORD timeoutMs)
{
    watchWhat = what;
    watchDeadline = NowMs() + timeoutMs + WATCHDOG_GRACE_MS;
    watchArmed = 1;
}

static void Disarm(void)
{
    watchArmed = 0;
}

template <typename T> static bool Resolve(const char* name, int ordinal, T* out)
{
    FARPROC byName = GetProcAddress(module.dll, name);
    *out = (T)(void*)byName;
    if (!byName) {
        printf("ravoprobe: ravowsok.dll has no export %s\n", name);
        return false;
    }
    if (GetProcAddress(module.dll, MAKEINTRESOURCEA(ordinal)) != byName)
        printf("  warning: %s is not ordinal %d; a host that imports by ordinal calls something else\n", name,
               ordinal);
    return true;
}

static bool LoadModule(const ProbeOptions* o)
{
    char path[MAX_PATH];
    if (o->dllPath) {
        lstrcpynA(path, o->dllPath, sizeof path);
    } else {
        GetModuleFileNameA(NULL, path, sizeof path);
        char* slash = strrchr(path, '\\');
        strcpy(slash ? slash + 1 : path, "ravowsok.dll");
    }
    module.dll = LoadLibraryA(path);
    if (!module.dll) {
        printf("ravoprobe: cannot load %s (LoadLibrary error %lu)\n", path, GetLastError());
        return false;
    }
    bool ok = Resolve("_netopen", 5, &module.netopen) & Resolve("_netsend", 7, &module.netsend) &
              Resolve("_netread", 6, &module.netread) & Resolve("_netclose", 4, &module.netclose) &
              Resolve("_nettype", 8, &module.nettype) & Resolve("WEP", 3, &module.wep);
    if (!ok)
        return false;
    GetModuleFileNameA(module.dll, path, sizeof path);
    printf("module: %s (_nettype %ld)\n", path, module.nettype());

    memset(&conn, 0, sizeof conn);
    conn.waitCallback = ProbeWaitCallback;
    interruptAfterMs = o->interruptAfterMs;
    CreateThread(NULL, 0, Watchdog, NULL, 0, NULL);
    return true;
}

static void EndModule(void)
{
    LONG result = module.wep(0);
    printf("%-46s -> %ld\n", "WEP(0)", result);
    FreeLibrary(module.dll);
}

static void PrintCall(const char* call, const char* result, double ms)
{
    printf("%-46s -> %-24s %9.2f ms\n", call, result, ms);
}

// One line for a code the module reported, then its readings.
static void PrintFailure(LONG code, int from)
{
    printf("    failed with code %ld; what it means:\n", code);
    ExplainCode(code, from, "    ");
}

static LONG Open(const char* host, const char* service, bool bind, DWORD timeoutMs)
{
    char call[160], result[64];
    LONG code = 0;
    _snprintf(call, sizeof call, "_netopen(\"%s\", \"%s\", %s)", host, service, bind ? "bind" : "connect");
    call[sizeof call - 1] = 0;
    Arm("_netopen", timeoutMs);
    double start = NowMs();
    LONG s = module.netopen(host, service, bind ? 2 : 0, 0, &code, 0, &conn);
    double ms = NowMs() - start;
    Disarm();
    if (s == -1) {
        sprintf(result, "-1, error code %ld", code);
        PrintCall(call, result, ms);
        PrintFailure(code, FROM_OPEN);
        return -1;
    }
    sprintf(result, "socket %ld", s);
    PrintCall(call, result, ms);
    if (conn.sockOptRefused)
        printf("    sockOptRefused is 1: the stack refused SO_DEBUG as unsupported (not a failure)\n");
    return s;
}

// Closes the socket; returns true when _netclose reported success.
static bool Close(LONG s)
{
    char call[64], result[32];
    sprintf(call, "_netclose(%ld)", s);
    double start = NowMs();
    LONG closed = module.netclose(s, 0);
    double ms = NowMs() - start;
    sprintf(result, "%ld", closed);
    PrintCall(call, result, ms);
    if (closed == -1)
        printf("    the socket is closed, but releasing the socket library (WSACleanup) failed\n");
    else if (closed != 0)
        ExplainCode(closed, FROM_CLOSE, "    ");
    return closed == 0;
}

static void StartWait(LONG s, double deadline)
{
    memset(&wait, 0, sizeof wait);
    wait.socket = (SOCKET)s;
    wait.deadline = deadline;
    wait.interruptSetAt = -1;
    wait.start = NowMs();
}

// What the callback saw, under the call's line.
static void PrintWait(DWORD timeoutMs)
{
    if (wait.firstCalls == 0) {
        printf("    ready at the first poll: no idle turn, the callback was not called\n");
        return;
    }
    printf("    wait: callback phases 1, 2 x %ld, %s (%ld idle turns)\n", wait.againCalls,
           wait.endCalls ? "0" : "no end call", wait.firstCalls + wait.againCalls);
    if (wait.interruptSetAt >= 0) {
        if (wait.interruptSent || conn.interruptRequest == 0) {
            printf("    interruptRequest set %.1f ms into the wait; the module sent the urgent byte \"B\"\n",
                   wait.interruptSetAt);
        } else {
            printf("    interruptRequest set %.1f ms into the wait, but the socket was ready before the next\n"
                   "    turn: no byte sent (the probe clears the field)\n",
                   wait.interruptSetAt);
            conn.interruptRequest = 0;
        }
    }
    if (wait.timedOut)
        printf("    no answer within %lu ms: the probe's callback shut the socket down so the poll\n"
               "    ended, and ended the wait with %d (WSAETIMEDOUT)\n",
               timeoutMs, PROBE_TIMEOUT_END);
}

// Sends all of text, as a host does: _netsend takes what the socket takes.
static bool SendAll(LONG s, const char* text, LONG length, DWORD timeoutMs)
{
    double deadline = NowMs() + timeoutMs;
    LONG sent = 0, zeroResults = 0;
    while (sent < length) {
        char call[96], result[64];
        LONG code = 0;
        sprintf(call, "_netsend(%ld, %ld bytes)", s, length - sent);
        StartWait(s, deadline);
        Arm("_netsend", timeoutMs);
        LONG n = module.netsend(s, text + sent, length - sent, &code, &conn);
        double ms = NowMs() - wait.start;
        Disarm();
        if (n == 0 && code == 0 && NowMs() < deadline) {
            zeroResults++;  // the socket took nothing just now: try again
            continue;
        }
        sprintf(result, "%ld, error code %ld", n, code);
        PrintCall(call, result, ms);
        PrintWait(timeoutMs);
        if (n < 0) {
            PrintFailure(code, FROM_SEND);
            return false;
        }
        if (n == 0) {
            printf("    the socket took nothing for %lu ms (_netsend returned 0 %ld times)\n", timeoutMs,
                   zeroResults + 1);
            return false;
        }
        sent += n;
    }
    return true;
}

// Reads until length bytes came back, the server closed, or the time-out.
static LONG ReadBack(LONG s, char* buffer, LONG length, DWORD timeoutMs)
{
    double deadline = NowMs() + timeoutMs;
    LONG got = 0;
    while (got < length) {
        char call[96], result[64];
        LONG code = 0;
        sprintf(call, "_netread(%ld, up to %ld bytes)", s, length - got);
        StartWait(s, deadline);
        Arm("_netread", timeoutMs);
        LONG n = module.netread(s, buffer + got, length - got, &code, &conn);
        double ms = NowMs() - wait.start;
        Disarm();
        sprintf(result, "%ld, error code %ld", n, code);
        PrintCall(call, result, ms);
        PrintWait(timeoutMs);
        if (n < 0) {
            if (!wait.timedOut || code != PROBE_TIMEOUT_END)
                PrintFailure(code, FROM_READ);
            break;
        }
        if (n == 0) {
            printf("    the server closed the connection\n");
            break;
        }
        printf("    read: ");
        PrintQuoted(buffer + got, n);
        printf("\n");
        got += n;
    }
    return got;
}

int CommandOpen(const ProbeOptions* o)
{
    if (!LoadModule(o))
        return PROBE_NO_MODULE;
    LONG s = Open(o->argv[0], o->argv[1], o->bind, o->timeoutMs);
    bool ok = s != -1;
    if (ok)
        ok = Close(s);
    EndModule();
    return ok ? PROBE_OK : PROBE_FAILED;
}

int CommandSend(const ProbeOptions* o)
{
    static char text[8192], answer[8192];
    LONG length = 0;
    for (int i = 2; i < o->argc; i++) {
        int word = lstrlenA(o->argv[i]);
        if (length + word + 1 >= (LONG)sizeof text) {
            fprintf(stderr, "ravoprobe send: TEXT is longer than %u bytes\n", (unsigned)sizeof text - 1);
            return PROBE_USAGE;
        }
        if (i > 2)
            text[length++] = ' ';
        memcpy(text + length, o->argv[i], word);
        length += word;
    }
    if (!LoadModule(o))
        return PROBE_NO_MODULE;
    LONG s = Open(o->argv[0], o->argv[1], false, o->timeoutMs);
    if (s == -1) {
        EndModule();
        return PROBE_FAILED;
    }
    bool ok = SendAll(s, text, length, o->timeoutMs);
    LONG got = ok ? ReadBack(s, answer, length, o->timeoutMs) : 0;
    if (ok) {
        if (got == length)
            printf("    answer: %ld bytes, %s\n", got,
                   memcmp(answer, text, length) == 0 ? "the same as sent" : "different from what was sent");
        else
            printf("    answer: %ld of %ld bytes\n", got, length);
    }
    if (o->interruptAfterMs >= 0 && !interruptDone)
        printf("    no wait lasted %ld ms: interruptRequest was never set\n", o->interruptAfterMs);
    ok = Close(s) && ok && got == length;
    EndModule();
    return ok ? PROBE_OK : PROBE_FAILED;
}
