// ravoidle.dll: the idle routine for block mode 3 that waits without
// keeping a core busy. Shared by its few files.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include "idle_routine.h"

// The routine's numbers in ticks of the performance counter, set at attach.
struct IdleTicks {
    LONGLONG pollWindow;
    LONGLONG newWaitGap;
};
extern IdleTicks idleTicks;

LONGLONG NowTicks(void);

// Marks a cast from GetProcAddress's FARPROC to a routine's own type as
// intended.
typedef void (*AnyProc)(void);

// --- The module's polls (idle_polls.cpp) ---------------------------------------
// Set up and taken down by the entry routine.
BOOL OpenPollRecords(void);
void ClosePollRecords(void);

// Makes sure the module whose code is at returnAddress polls through the
// wrapper: puts it into that module's import entry for WSOCK32's select
// when it is not there yet. FALSE when it cannot (no such entry, no room,
// the library cannot be kept loaded): the caller then guesses by time.
BOOL WatchCaller(const void* returnAddress);

enum PollDirection { POLL_NONE, POLL_READ, POLL_WRITE };
// The last poll the wrapper saw on this thread, when it found its one socket
// not ready: the socket, the direction, how many such polls in a row (1:
// the wait's first), and whether a turn of this wait has blocked on the
// socket before. direction POLL_NONE when the last poll ended a wait,
// failed, or was not a one-socket poll.
struct PollSeen {
    SOCKET s;
    PollDirection direction;
    DWORD pollsInWait;
    BOOL blockedBefore;
};
PollSeen LastPoll(void);

enum Woke { WOKE_NOT_WAITED, WOKE_SOCKET, WOKE_MESSAGE, WOKE_BOUND };
// How this thread's turn ended, for the next poll and turn: after
// WOKE_SOCKET the module's next poll of the socket for reading is answered
// "ready" without asking WinSock again; after any block on the socket the
// wait counts as having blocked.
void NoteTurnEnded(Woke woke);

// --- Waiting on the socket (idle_socket.cpp) -----------------------------------
// Blocks until s has data or is closed, a message or input arrives for the
// thread, or IDLE_WAIT_BOUND_MS pass, with one wait on an event associated
// with s. The association is removed before it returns, whatever woke it:
// the socket is left as the module made it, non-blocking with none.
// WOKE_NOT_WAITED when WS2_32 or the association is missing. freshEvent:
// reset the thread's event first (the wait's first block: a signal left
// from an earlier wait must not pass for this one's; within a wait, one
// left by data that came as a block ended makes the next poll ready).
Woke WaitForReadable(SOCKET s, BOOL freshEvent);
// Each thread's event: the slot made at attach, an event closed when its
// thread ends (CloseThreadEvent) or, for the thread that frees the library,
// with the slot (CloseThreadEvents).
BOOL OpenThreadEvents(void);
void CloseThreadEvent(void);
void CloseThreadEvents(void);

// --- Slices (idle_slice.cpp) ----------------------------------------------------
// The slice timer: a high-resolution waitable timer where the system has
// one. Opened at attach, closed when the library is freed.
void OpenSliceTimer(void);
void CloseSliceTimer(void);

// Blocks for at most one slice, ending early when input or a message
// arrives for the thread. Returns TRUE when it ended for input or a message.
BOOL WaitOneSlice(void);
