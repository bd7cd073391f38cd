/* A small host of ravowsok.dll.
 *
 *     host HOST SERVICE [TIMEOUT_MS]
 *
 * Sends "hello" to SERVICE on HOST and reads the answer while the module's
 * cancel box is up. Its wait callback runs the host's own message loop (with
 * no input hooks, since it returns non-zero); Cancel asks for the urgent
 * interrupt, the server is expected to answer it, which ends the wait, and
 * the end value then fails the read with the host's own code. TIMEOUT_MS
 * bounds the wait against a server that never answers. Every outcome is
 * printed with its error code (an exit status would be cut to 8 bits). */
#include <winsock.h> /* closesocket, WSACleanup: the bounded wait, a failed open */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "ravowsok.h"

#define HOST_CANCELLED 9999  /* above WAIT_RESULT_ERROR_ABOVE: fails the call */
#define HOST_TIMED_OUT 10060 /* WSAETIMEDOUT */

/* The host's own record; the module uses five 32-bit fields of it. */
static ConnBlock conn;

static HWND abortBox;
static BOOL cancelled;
static BOOL bounded, timedOut;
static DWORD deadline;
static SOCKET waitingOn;

static INT_PTR CALLBACK AbortProc(HWND box, UINT msg, WPARAM wParam, LPARAM lParam)
{
    (void)box;
    (void)lParam;
    if (msg == WM_COMMAND && LOWORD(wParam) == ABORTDLG_CANCEL && !cancelled) {
        cancelled = TRUE;
        conn.interruptRequest = 1; /* send "B" on the next turn */
    }
    return FALSE;
}

/* Phase 1 on the first idle turn, 2 on later ones, 0 once at the end. */
static long __stdcall OnWait(long phase)
{
    MSG msg;
    if (phase == WAIT_PHASE_END)
        return timedOut ? HOST_TIMED_OUT : cancelled ? HOST_CANCELLED : 0;
    if (bounded && !timedOut && (LONG)(GetTickCount() - deadline) >= 0) {
        /* The wait ends only when the socket is ready or the poll fails:
         * closing the socket makes the next poll fail. Returning at once
         * keeps any window message from running before that poll. */
        timedOut = TRUE;
        closesocket(waitingOn);
        return 1;
    }
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        if (!IsDialogMessageA(abortBox, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    return 1; /* this turn is done */
}

int main(int argc, char** argv)
{
    static const char request[] = "hello";
    const long length = sizeof request - 1;
    HMODULE dll;
    NetOpenFn netopen;
    NetSendFn netsend;
    NetReadFn netread;
    NetCloseFn netclose;
    WepFn wep;
    long error = 0, s, sent = 0, got = -1;
    char reply[512];

    if (argc < 3) {
        fprintf(stderr, "usage: host HOST SERVICE [TIMEOUT_MS]\n");
        return 2;
    }
    dll = LoadLibraryA("ravowsok.dll");
    if (dll == NULL) {
        printf("cannot load ravowsok.dll: error %lu\n", GetLastError());
        return 1;
    }
    netopen = (NetOpenFn)GetProcAddress(dll, "_netopen");
    netsend = (NetSendFn)GetProcAddress(dll, "_netsend");
    netread = (NetReadFn)GetProcAddress(dll, "_netread");
    netclose = (NetCloseFn)GetProcAddress(dll, "_netclose");
    wep = (WepFn)GetProcAddress(dll, "WEP");
    if (!netopen || !netsend || !netread || !netclose || !wep) {
        printf("ravowsok.dll lacks an export: error %lu\n", GetLastError());
        FreeLibrary(dll);
        return 1;
    }

    conn.waitCallback = OnWait;
    s = netopen(argv[1], argv[2], 0, 0, &error, 0, &conn);
    if (s == -1) {
        printf("open failed: error %ld\n", error); /* see the error table */
        /* Past its WSAStartup a failed _netopen leaves the socket library
         * started once, and _netclose(-1, 0) would not release it (10038):
         * balance it here. Codes 10150 to 10299 mean WSAStartup failed. */
        if ((error < 10000 + NET_ERR_STARTUP || error >= 10000 + NET_ERR_SERVICE) && WSACleanup() != 0)
            printf("WSACleanup failed: error %d\n", WSAGetLastError());
        wep(0);
        FreeLibrary(dll);
        return 0;
    }
    waitingOn = (SOCKET)s;
    if (argc > 3) {
        bounded = TRUE;
        deadline = GetTickCount() + strtoul(argv[3], NULL, 10);
    }

    while (sent < length && !timedOut) { /* a send may take part of it */
        long n = netsend(s, request + sent, length - sent, &error, &conn);
        if (n < 0)
            break;
        sent += n;
    }
    if (sent == length) {
        abortBox = CreateDialogA(dll, ABORTDLG_NAME, NULL, AbortProc);
        ShowWindow(abortBox, SW_SHOW);
        got = netread(s, reply, sizeof reply, &error, &conn);
        DestroyWindow(abortBox);
    }

    if (sent < length)
        printf("send failed: error %ld\n", error);
    else if (got > 0)
        printf("reply: %.*s\n", (int)got, reply);
    else if (got == 0)
        printf("the server closed the connection\n");
    else
        printf("read failed: error %ld%s\n", error, cancelled ? " (cancelled)" : "");

    if (timedOut)
        WSACleanup(); /* the socket is closed: balance _netopen's start-up */
    else
        netclose(s, 0);
    wep(0);
    FreeLibrary(dll);
    return 0;
}
