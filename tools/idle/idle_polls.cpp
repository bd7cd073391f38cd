// The module's polls, seen from beside it: a wrapper of ours stands in the
// calling module's import address table entry for WSOCK32's select, and in
// no other place. It calls what the entry held and notes, per thread, the
// socket, the direction and whether the poll found it ready. The module's
// code and its file stay as they are.
#include "idle.h"

typedef int(WINAPI* SelectFn)(int, fd_set*, fd_set*, fd_set*, const struct timeval*);

enum { SELECT_ORDINAL = 18, MAX_WATCHED = 8 };

// A module whose select entry holds the wrapper, and what the entry held
// before. base NULL: a free place.
struct Watched {
    BYTE* base;
    DWORD size;
    SelectFn* entry;
    SelectFn original;
};
static Watched watched[MAX_WATCHED];
static SelectFn plainSelect;  // WSOCK32's own, for a caller that is in no place
static CRITICAL_SECTION watchLock;
static BOOL pinned;

// Per thread: the last poll's socket, and a state word: the direction of a
// not-ready poll, whether the socket woke the turn after it, whether a turn
// of this wait has blocked on the socket, and the count of not-ready polls
// in a row (0: the last poll ended the wait, or was no one-socket poll).
enum { DIRECTION_BITS = 3, WOKE_BY_SOCKET = 4, BLOCKED = 8, COUNT_SHIFT = 4, MAX_POLLS_IN_WAIT = 0x0FFFFFFF };
static DWORD socketSlot = TLS_OUT_OF_INDEXES, stateSlot = TLS_OUT_OF_INDEXES;

BOOL OpenPollRecords(void)
{
    InitializeCriticalSection(&watchLock);
    socketSlot = TlsAlloc();
    stateSlot = TlsAlloc();
    return socketSlot != TLS_OUT_OF_INDEXES && stateSlot != TLS_OUT_OF_INDEXES;
}

void ClosePollRecords(void)
{
    if (socketSlot != TLS_OUT_OF_INDEXES)
        TlsFree(socketSlot);
    if (stateSlot != TLS_OUT_OF_INDEXES)
        TlsFree(stateSlot);
    DeleteCriticalSection(&watchLock);
}

static DWORD State(void)
{
    return (DWORD)(DWORD_PTR)TlsGetValue(stateSlot);
}

// The one socket of a poll and the set it is in; POLL_NONE for any other
// poll. The sets are read before the call, which changes them.
static PollDirection OnlySocket(const fd_set* readSet, const fd_set* writeSet, const fd_set* exceptSet, SOCKET* s)
{
    u_int reads = readSet ? readSet->fd_count : 0, writes = writeSet ? writeSet->fd_count : 0;
    if (reads + writes + (exceptSet ? exceptSet->fd_count : 0) != 1 || (!reads && !writes))
        return POLL_NONE;
    *s = reads ? readSet->fd_array[0] : writeSet->fd_array[0];
    return reads ? POLL_READ : POLL_WRITE;
}

// A poll of s that found it not ready (notReady: its direction) or ended
// the wait (POLL_NONE). One that goes on the same wait counts on and keeps
// the word that the wait has blocked.
static void Record(DWORD before, SOCKET s, PollDirection notReady)
{
    DWORD state = 0;
    if (notReady != POLL_NONE) {
        DWORD polls = 1;
        if ((before & DIRECTION_BITS) == (DWORD)notReady && (SOCKET)TlsGetValue(socketSlot) == s &&
            before >> COUNT_SHIFT < MAX_POLLS_IN_WAIT)
            polls = (before >> COUNT_SHIFT) + 1;
        state = polls << COUNT_SHIFT | (polls > 1 ? before & BLOCKED : 0) | notReady;
    }
    TlsSetValue(socketSlot, (LPVOID)s);
    TlsSetValue(stateSlot, (LPVOID)(DWORD_PTR)state);
}

PollSeen LastPoll(void)
{
    PollSeen seen = {INVALID_SOCKET, POLL_NONE, 0, FALSE};
    if (stateSlot == TLS_OUT_OF_INDEXES)
        return seen;
    DWORD state = State();
    seen.direction = (PollDirection)(state & DIRECTION_BITS);
    seen.pollsInWait = state >> COUNT_SHIFT;
    seen.blockedBefore = (state & BLOCKED) != 0;
    seen.s = (SOCKET)TlsGetValue(socketSlot);
    return seen;
}

void NoteTurnEnded(Woke woke)
{
    DWORD state = State() & ~WOKE_BY_SOCKET;
    if (woke != WOKE_NOT_WAITED)
        state |= BLOCKED;
    TlsSetValue(stateSlot, (LPVOID)(DWORD_PTR)(woke == WOKE_SOCKET ? state | WOKE_BY_SOCKET : state));
}

// What the caller's entry held before the wrapper.
static SelectFn OriginalFor(const void* returnAddress)
{
    const BYTE* at = (const BYTE*)returnAddress;
    for (const Watched& w : watched)
        if (w.base && at >= w.base && at < w.base + w.size)
            return w.original;
    return plainSelect;
}

// The wrapper. A poll that found the socket ready, failed, or was not a
// one-socket poll ends what the routine knows of the wait. The thread's
// last error is the poll's, whatever the records did to it. Right after a
// turn that the socket itself woke, the poll of that socket for reading is
// answered here: FD_READ or FD_CLOSE came during the turn's own association
// (its event was reset before), so the socket is readable, and under Wine
// asking WinSock again costs a request to the Wine server.
static int WINAPI SelectSeen(int n, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet, const struct timeval* t)
{
    SOCKET s = INVALID_SOCKET;
    PollDirection direction = OnlySocket(readSet, writeSet, exceptSet, &s);
    DWORD error = GetLastError();
    DWORD before = State();
    if ((before & WOKE_BY_SOCKET) && direction == POLL_READ && (before & DIRECTION_BITS) == POLL_READ &&
        (SOCKET)TlsGetValue(socketSlot) == s) {
        Record(before, s, POLL_NONE);
        if (writeSet)
            writeSet->fd_count = 0;
        if (exceptSet)
            exceptSet->fd_count = 0;
        SetLastError(error);
        return 1;
    }
    int result = OriginalFor(__builtin_return_address(0))(n, readSet, writeSet, exceptSet, t);
    error = GetLastError();
    Record(before, s, result == 0 ? direction : POLL_NONE);
    SetLastError(error);
    return result;
}

static const IMAGE_NT_HEADERS* NtHeaders(const BYTE* base)
{
    return (const IMAGE_NT_HEADERS*)(base + ((const IMAGE_DOS_HEADER*)base)->e_lfanew);
}

// The module's import address table entry for WSOCK32's select (by name or
// by ordinal), or NULL.
static SelectFn* FindSelectEntry(BYTE* base)
{
    IMAGE_DATA_DIRECTORY dir = NtHeaders(base)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress)
        return NULL;
    for (IMAGE_IMPORT_DESCRIPTOR* d = (IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress); d->Name; d++) {
        if (lstrcmpiA((const char*)(base + d->Name), "WSOCK32.dll") != 0 || !d->OriginalFirstThunk)
            continue;
        IMAGE_THUNK_DATA* names = (IMAGE_THUNK_DATA*)(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA* entries = (IMAGE_THUNK_DATA*)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, entries++) {
            BOOL isSelect = IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)
                                ? IMAGE_ORDINAL(names->u1.Ordinal) == SELECT_ORDINAL
                                : lstrcmpA((const char*)((IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData))->Name,
                                           "select") == 0;
            if (isSelect)
                return (SelectFn*)&entries->u1.Function;
        }
    }
    return NULL;
}

// The library is never unloaded once a wrapper of it stands in an import
// table: the module's WEP frees it, and a second load and free could come
// from anywhere, while the entry would still lead here.
static BOOL KeepLoaded(void)
{
    HMODULE self;
    if (!pinned)
        pinned = GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                    (LPCWSTR)(void*)SelectSeen, &self);
    return pinned;
}

// The place for the module at base: its own, else a free one. Places that
// overlap it belong to modules gone since (it holds that memory now).
static Watched* PlaceFor(BYTE* base, DWORD size)
{
    Watched* place = NULL;
    for (Watched& w : watched) {
        if (w.base == base)
            place = &w;
        else if (w.base && w.base < base + size && base < w.base + w.size)
            w.base = NULL;
    }
    for (Watched& w : watched)
        if (!place && !w.base)
            place = &w;
    return place;
}

static BOOL Watch(BYTE* base, DWORD size)
{
    SelectFn* entry = FindSelectEntry(base);
    HMODULE winsock = GetModuleHandleA("wsock32.dll");
    if (!plainSelect && winsock)
        plainSelect = (SelectFn)(AnyProc)GetProcAddress(winsock, "select");
    Watched* place = entry && plainSelect && KeepLoaded() ? PlaceFor(base, size) : NULL;
    if (!place)
        return FALSE;
    if (*entry == SelectSeen)
        return place->base == base;
    // A module loaded again at the same place holds what it held the first
    // time; anything else is another wrapper put in over ours, which may
    // lead back here: it is left alone.
    if (place->base == base && *entry != place->original)
        return FALSE;
    DWORD protection;
    if (!VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &protection))
        return FALSE;
    place->original = *entry;
    place->size = size;
    place->entry = entry;
    place->base = base;
    InterlockedExchangePointer((PVOID*)entry, (PVOID)SelectSeen);
    VirtualProtect(entry, sizeof *entry, protection, &protection);
    return TRUE;
}

BOOL WatchCaller(const void* returnAddress)
{
    HMODULE caller;
    if (stateSlot == TLS_OUT_OF_INDEXES ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCWSTR)returnAddress, &caller))
        return FALSE;
    BYTE* base = (BYTE*)caller;
    DWORD size = NtHeaders(base)->OptionalHeader.SizeOfImage;
    for (const Watched& w : watched)
        if (w.base == base && w.size == size && *w.entry == SelectSeen)
            return TRUE;
    EnterCriticalSection(&watchLock);
    BOOL ok = Watch(base, size);
    LeaveCriticalSection(&watchLock);
    return ok;
}
