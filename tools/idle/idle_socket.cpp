// Waiting on the socket itself: an event associated with its FD_READ and
// FD_CLOSE for one wait, together with the thread's messages, and the
// association removed again before the turn ends.
#include "idle.h"

typedef int(WINAPI* EventSelectFn)(SOCKET, HANDLE, long);

static EventSelectFn volatile eventSelect;
static volatile LONG lookedUp;

// Each thread waits on an event of its own (auto-reset: the wait that
// finds it signalled takes the signal).
static DWORD eventSlot = TLS_OUT_OF_INDEXES;

BOOL OpenThreadEvents(void)
{
    eventSlot = TlsAlloc();
    return eventSlot != TLS_OUT_OF_INDEXES;
}

void CloseThreadEvent(void)
{
    HANDLE event = eventSlot != TLS_OUT_OF_INDEXES ? TlsGetValue(eventSlot) : NULL;
    if (event) {
        CloseHandle(event);
        TlsSetValue(eventSlot, NULL);
    }
}

void CloseThreadEvents(void)
{
    CloseThreadEvent();
    if (eventSlot != TLS_OUT_OF_INDEXES)
        TlsFree(eventSlot);
}

// WSAEventSelect of the WS2_32 that WSOCK32 has loaded: the library imports
// no WinSock of its own, and never loads one.
static EventSelectFn EventSelect(void)
{
    if (!lookedUp) {
        HMODULE winsock2 = GetModuleHandleA("ws2_32.dll");
        eventSelect = winsock2 ? (EventSelectFn)(AnyProc)GetProcAddress(winsock2, "WSAEventSelect") : NULL;
        InterlockedExchange(&lookedUp, 1);
    }
    return eventSelect;
}

static HANDLE ThreadEvent(void)
{
    if (eventSlot == TLS_OUT_OF_INDEXES)
        return NULL;
    HANDLE event = TlsGetValue(eventSlot);
    if (!event && (event = CreateEventA(NULL, FALSE, FALSE, NULL)) != NULL)
        TlsSetValue(eventSlot, event);
    return event;
}

Woke WaitForReadable(SOCKET s, BOOL freshEvent)
{
    EventSelectFn associate = EventSelect();
    HANDLE event = associate ? ThreadEvent() : NULL;
    // Data already there when the association is made signals the event at
    // once, so nothing that came since the module's poll is slept past.
    if (event && freshEvent)
        ResetEvent(event);
    if (!event || associate(s, event, FD_READ | FD_CLOSE) != 0)
        return WOKE_NOT_WAITED;
    // Flags 0: the routine has just looked at the queue, so only what
    // arrives from now on ends the wait.
    DWORD woke = MsgWaitForMultipleObjectsEx(1, &event, IDLE_WAIT_BOUND_MS, QS_ALLINPUT, 0);
    // Always: the module's interrupt switches the socket to blocking mode,
    // which fails while an association stands. A socket closed meanwhile
    // has none left either.
    associate(s, NULL, 0);
    if (woke == WAIT_OBJECT_0)
        return WOKE_SOCKET;
    return woke == WAIT_OBJECT_0 + 1 ? WOKE_MESSAGE : WOKE_BOUND;
}
