// ravoprobe's watchdog thread: presses OK on the module's settings message
// box (it would wait for a user forever) and ends the process when a call
// outlives its time-out by WATCHDOG_GRACE_MS: _netopen's connect blocks
// inside the socket library, where no callback of the probe runs.
#include "probe.h"
#include "wait/user_routine.h"
#include <stdio.h>
#include <string.h>

enum { WATCHDOG_TICK_MS = 50 };

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
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

static DWORD WINAPI Watchdog(LPVOID parameter)
{
    ProbeWatch* w = (ProbeWatch*)parameter;
    for (;;) {
        Sleep(WATCHDOG_TICK_MS);
        if (!w->armed)
            continue;
        CloseSettingsBox(w);
        if (NowMs() > w->deadlineMs) {
            printf("ravoprobe: %s did not return within the time-out and %d ms more; giving up (exit 1)\n",
                   w->what, WATCHDOG_GRACE_MS);
            TerminateProcess(GetCurrentProcess(), PROBE_FAILED);
        }
    }
}

void StartWatchdog(ProbeWatch* w)
{
    memset(w, 0, sizeof *w);
    CreateThread(NULL, 0, Watchdog, w, 0, NULL);
}

void ArmWatch(ProbeWatch* w, const char* what, DWORD timeoutMs)
{
    w->what = what;
    w->deadlineMs = (LONG)(NowMs() + timeoutMs + WATCHDOG_GRACE_MS);
    w->armed = 1;
}

void DisarmWatch(ProbeWatch* w)
{
    w->armed = 0;
}
