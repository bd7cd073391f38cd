// ravoprobe's watchdog thread: presses OK on the module's settings message
// box (it would wait for a user forever) and ends the process when a call
// outlives its time-out by WATCHDOG_GRACE_MS. That is how a hanging connect
// ends: _netopen connects in blocking mode, so no callback of the probe runs
// and nothing in the process can end that call.
#include "probe.h"
#include "user_routine.h"
#include <stdio.h>
#include <string.h>

enum { WATCHDOG_TICK_MS = 50, LOOKUP_WAIT_MS = 1000 };

static BOOL CALLBACK CollectBoxText(HWND child, LPARAM out)
{
    char cls[32], text[256];
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0 &&
        strlen(text) > strlen((char*)out))
        strcpy((char*)out, text);
    return TRUE;
}

// Reports the box's text once and presses OK (again, if it is still there).
static void CloseSettingsBox(ProbeWatch* w)
{
    HWND box = FindWindowA(NULL, USER_ROUTINE_BOX_CAPTION);
    if (!box)
        return;
    if (box != w->reportedBox) {
        char text[256] = "";
        EnumChildWindows(box, CollectBoxText, (LPARAM)text);
        printf("    the module showed a message box \"%s\": \"%s\"\n"
               "    (closed by the probe; a host's user would have to press OK; see ravoprobe settings)\n",
               USER_ROUTINE_BOX_CAPTION, text);
        w->reportedBox = box;
        // The call's time-out starts again: the time the box stood open
        // (a window's first appearance can take seconds) is not a hang.
        w->deadlineMs = (LONG)(NowMs() + w->timeoutMs + WATCHDOG_GRACE_MS);
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// The address and port _netopen connects to, looked up again on a thread of
// its own, as the look-up itself may be what hangs.
struct Destination {
    const char* host;
    const char* service;
    char address[16];  // dotted, empty when the host did not resolve
    int port;          // -1 when the service did not resolve
};

static DWORD WINAPI LookUpDestination(LPVOID parameter)
{
    Destination* d = (Destination*)parameter;
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return 0;
    struct servent* service = getservbyname(d->service, "tcp");
    if (service)
        d->port = ntohs(service->s_port);
    struct hostent* host = gethostbyname(d->host);
    if (host && host->h_addr_list[0]) {
        struct in_addr address;
        memcpy(&address, host->h_addr_list[0], sizeof address);
        lstrcpynA(d->address, inet_ntoa(address), sizeof d->address);
    }
    WSACleanup();
    return 0;
}

// What a _netopen past its time-out is doing, as far as the probe can tell.
static void ExplainHangingOpen(const ProbeWatch* w)
{
    Destination d = {w->host, w->service, "", -1};
    HANDLE thread = CreateThread(NULL, 0, LookUpDestination, &d, 0, NULL);
    bool answered = thread && WaitForSingleObject(thread, LOOKUP_WAIT_MS) == WAIT_OBJECT_0;
    printf("ravoprobe: _netopen(\"%s\", \"%s\") did not return within %lu ms and %d ms more:\n", w->host,
           w->service, w->timeoutMs, WATCHDOG_GRACE_MS);
    if (!answered) {
        printf("  the probe's own look-up of \"%s\" and \"%s\" does not answer within %d ms either:\n"
               "  the module's look-up most likely hangs (a name server that does not answer).\n",
               w->host, w->service, LOOKUP_WAIT_MS);
    } else if (d.address[0] && d.port >= 0) {
        printf("  the connect to %s port %d itself hangs: nothing answers that address\n"
               "  (a host that is down, a firewall that drops packets, or a server whose listen queue is full).\n",
               d.address, d.port);
    } else {
        printf("  %s does not resolve now, so the probe cannot tell the address that hangs.\n",
               d.address[0] ? "the service" : "the host");
    }
    printf("  The module connects in blocking mode and calls no callback meanwhile, so the probe\n"
           "  cannot end that call: it ends itself (exit %d, no answer).\n",
           PROBE_NO_ANSWER);
}

static DWORD WINAPI Watchdog(LPVOID parameter)
{
    ProbeWatch* w = (ProbeWatch*)parameter;
    for (;;) {
        Sleep(WATCHDOG_TICK_MS);
        if (!w->armed)
            continue;
        CloseSettingsBox(w);
        if (NowMs() <= w->deadlineMs)
            continue;
        if (strcmp(w->what, "_netopen") == 0)
            ExplainHangingOpen(w);
        else
            printf("ravoprobe: %s did not return within %lu ms and %d ms more, although the probe's wait\n"
                   "  callback ends every wait at the time-out; the probe ends itself (exit %d, no answer).\n",
                   w->what, w->timeoutMs, WATCHDOG_GRACE_MS, PROBE_NO_ANSWER);
        // Not ExitProcess: the libraries' detach routines would run while the
        // main thread is still inside the socket library's connect.
        TerminateProcess(GetCurrentProcess(), PROBE_NO_ANSWER);
    }
}

void StartWatchdog(ProbeWatch* w, const char* host, const char* service)
{
    memset(w, 0, sizeof *w);
    w->host = host;
    w->service = service;
    CreateThread(NULL, 0, Watchdog, w, 0, NULL);
}

void ArmWatch(ProbeWatch* w, const char* what, DWORD timeoutMs)
{
    w->what = what;
    w->timeoutMs = timeoutMs;
    w->deadlineMs = (LONG)(NowMs() + timeoutMs + WATCHDOG_GRACE_MS);
    w->armed = 1;
}

void DisarmWatch(ProbeWatch* w)
{
    w->armed = 0;
}
