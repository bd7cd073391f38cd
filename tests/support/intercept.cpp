// Import address table patching for tests.
#include "intercept.h"
#include "check.h"
#include <stdio.h>
#include <string.h>

enum { MAX_RECORDS = 20000, MAX_INJECTIONS = 16, LOG_TEXT_SIZE = 16384 };

static CallRecord records[MAX_RECORDS];
static int recordCount;
static bool logging = true;
static CallObserver observer;
MessageBoxSeen messageBoxSeen;

struct Injection {
    const char* name;
    int nth;       // 0: every call
    int seen;      // calls of name since the injection was set
    LONG result;
    int wsaError;
};
static Injection injections[MAX_INJECTIONS];
static int injectionCount;

struct Stand {
    const char* dll;
    const char* name;
    void* fake;
    void** real;
    void* override;
};

static int LogCall(const char* name, LONG a1, LONG a2, LONG a3)
{
    LONG args[3] = {a1, a2, a3};
    if (observer)
        observer(name, args);
    if (!logging || recordCount >= MAX_RECORDS)
        return -1;
    CallRecord* r = &records[recordCount];
    r->name = name;
    r->arg[0] = a1;
    r->arg[1] = a2;
    r->arg[2] = a3;
    r->result = 0;
    return recordCount++;
}

static void LogResult(int index, LONG result)
{
    if (index >= 0)
        records[index].result = result;
}

// The injection that takes this call, if any; counts the call either way.
static Injection* InjectionFor(const char* name)
{
    for (int i = 0; i < injectionCount; i++) {
        Injection* inj = &injections[i];
        if (strcmp(inj->name, name) != 0)
            continue;
        inj->seen++;
        if (inj->nth == 0 || inj->nth == inj->seen)
            return inj;
    }
    return NULL;
}

static Stand* FindStand(const char* name);

// One stand-in per import: log, then inject, override or forward. The
// thread's last error is what the real call (or the injection) left.
#define STAND_IN(ret, name, params, args, a1, a2, a3)                                  \
    static ret(WINAPI* real_##name) params;                                            \
    static ret WINAPI fake_##name params                                               \
    {                                                                                  \
        DWORD savedError = GetLastError();                                             \
        int index = LogCall(#name, (LONG)(a1), (LONG)(a2), (LONG)(a3));                \
        Injection* inj = InjectionFor(#name);                                          \
        Stand* stand = FindStand(#name);                                               \
        ret result;                                                                    \
        if (inj) {                                                                     \
            result = (ret)inj->result;                                                 \
            savedError = inj->wsaError;                                                \
        } else {                                                                       \
            SetLastError(savedError);                                                  \
            if (stand && stand->override)                                              \
                result = ((ret(WINAPI*) params)stand->override) args;                  \
            else                                                                       \
                result = real_##name args;                                             \
            savedError = GetLastError();                                               \
        }                                                                              \
        LogResult(index, (LONG)result);                                                \
        SetLastError(savedError);                                                      \
        return result;                                                                 \
    }

STAND_IN(int, WSAStartup, (WORD v, LPWSADATA d), (v, d), v, 0, 0)
STAND_IN(int, WSACleanup, (void), (), 0, 0, 0)
STAND_IN(struct servent*, getservbyname, (const char* n, const char* p), (n, p), n, p, 0)
STAND_IN(struct hostent*, gethostbyname, (const char* n), (n), n, 0, 0)
STAND_IN(SOCKET, socket, (int af, int type, int proto), (af, type, proto), af, type, proto)
STAND_IN(int, connect, (SOCKET s, const struct sockaddr* a, int l), (s, a, l), s, a, l)
STAND_IN(int, bind, (SOCKET s, const struct sockaddr* a, int l), (s, a, l), s, a, l)
STAND_IN(int, setsockopt, (SOCKET s, int lv, int o, const char* v, int l), (s, lv, o, v, l), s, lv, o)
STAND_IN(int, ioctlsocket, (SOCKET s, long c, u_long* a), (s, c, a), s, c, a ? (LONG)*a : -1)
STAND_IN(int, select, (int n, fd_set* r, fd_set* w, fd_set* e, const struct timeval* t),
         (n, r, w, e, t), n, r && r->fd_count ? 2 : (w && w->fd_count ? 1 : 0),
         t ? t->tv_sec * 1000000 + t->tv_usec : -1)
STAND_IN(int, __WSAFDIsSet, (SOCKET s, fd_set* f), (s, f), s, f, 0)
STAND_IN(int, send, (SOCKET s, const char* b, int l, int f), (s, b, l, f), s, l, f)
STAND_IN(int, recv, (SOCKET s, char* b, int l, int f), (s, b, l, f), s, l, f)
STAND_IN(int, closesocket, (SOCKET s), (s), s, 0, 0)
STAND_IN(int, WSAGetLastError, (void), (), 0, 0, 0)
STAND_IN(FARPROC, WSASetBlockingHook, (FARPROC p), (p), p, 0, 0)
STAND_IN(int, WSAUnhookBlockingHook, (void), (), 0, 0, 0)
STAND_IN(BOOL, PeekMessageA, (LPMSG m, HWND h, UINT lo, UINT hi, UINT rm), (m, h, lo, hi, rm), h, lo | (hi << 16), rm)
STAND_IN(BOOL, TranslateMessage, (const MSG* m), (m), m->message, m->hwnd, 0)
STAND_IN(LRESULT, DispatchMessageA, (const MSG* m), (m), m->message, m->hwnd, m->wParam)
STAND_IN(HHOOK, SetWindowsHookExA, (int id, HOOKPROC p, HINSTANCE i, DWORD t), (id, p, i, t), id, i, t)
STAND_IN(BOOL, UnhookWindowsHookEx, (HHOOK h), (h), h, 0, 0)
STAND_IN(BOOL, MessageBeep, (UINT t), (t), t, 0, 0)
STAND_IN(UINT, GetPrivateProfileIntA, (LPCSTR s, LPCSTR k, INT d, LPCSTR f), (s, k, d, f), s, k, d)
STAND_IN(DWORD, GetPrivateProfileStringA, (LPCSTR s, LPCSTR k, LPCSTR d, LPSTR r, DWORD n, LPCSTR f),
         (s, k, d, r, n, f), s, k, n)
STAND_IN(HMODULE, LoadLibraryA, (LPCSTR n), (n), n, 0, 0)
STAND_IN(FARPROC, GetProcAddress, (HMODULE m, LPCSTR n), (m, n), m, n, 0)
STAND_IN(BOOL, FreeLibrary, (HMODULE m), (m), m, 0, 0)
STAND_IN(DWORD, GetCurrentThreadId, (void), (), 0, 0, 0)

// No box is ever shown: the text, caption and style are kept for the test.
static int(WINAPI* real_MessageBoxA)(HWND, LPCSTR, LPCSTR, UINT);
static int WINAPI fake_MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    LogCall("MessageBoxA", (LONG)owner, (LONG)text, (LONG)style);
    messageBoxSeen.count++;
    messageBoxSeen.owner = owner;
    lstrcpynA(messageBoxSeen.text, text ? text : "(null)", sizeof messageBoxSeen.text);
    lstrcpynA(messageBoxSeen.caption, caption ? caption : "(null)", sizeof messageBoxSeen.caption);
    messageBoxSeen.style = style;
    return IDOK;
}

static void(WINAPI* real_PostQuitMessage)(int);
static void WINAPI fake_PostQuitMessage(int code)
{
    LogCall("PostQuitMessage", code, 0, 0);
    real_PostQuitMessage(code);
}

#define STAND(dll, name) {dll, #name, (void*)fake_##name, (void**)&real_##name, NULL}
static Stand stands[] = {
    STAND("WSOCK32.DLL", WSAStartup), STAND("WSOCK32.DLL", WSACleanup),
    STAND("WSOCK32.DLL", getservbyname), STAND("WSOCK32.DLL", gethostbyname),
    STAND("WSOCK32.DLL", socket), STAND("WSOCK32.DLL", connect), STAND("WSOCK32.DLL", bind),
    STAND("WSOCK32.DLL", setsockopt), STAND("WSOCK32.DLL", ioctlsocket),
    STAND("WSOCK32.DLL", select), STAND("WSOCK32.DLL", __WSAFDIsSet), STAND("WSOCK32.DLL", send),
    STAND("WSOCK32.DLL", recv), STAND("WSOCK32.DLL", closesocket),
    STAND("WSOCK32.DLL", WSAGetLastError), STAND("WSOCK32.DLL", WSASetBlockingHook),
    STAND("WSOCK32.DLL", WSAUnhookBlockingHook),
    STAND("USER32.DLL", PeekMessageA), STAND("USER32.DLL", TranslateMessage),
    STAND("USER32.DLL", DispatchMessageA), STAND("USER32.DLL", SetWindowsHookExA),
    STAND("USER32.DLL", UnhookWindowsHookEx), STAND("USER32.DLL", MessageBeep),
    STAND("USER32.DLL", MessageBoxA), STAND("USER32.DLL", PostQuitMessage),
    STAND("KERNEL32.DLL", GetPrivateProfileIntA), STAND("KERNEL32.DLL", GetPrivateProfileStringA),
    STAND("KERNEL32.DLL", LoadLibraryA), STAND("KERNEL32.DLL", GetProcAddress),
    STAND("KERNEL32.DLL", FreeLibrary), STAND("KERNEL32.DLL", GetCurrentThreadId),
};
enum { STAND_COUNT = sizeof stands / sizeof stands[0] };

static Stand* FindStand(const char* name)
{
    for (int i = 0; i < STAND_COUNT; i++)
        if (strcmp(stands[i].name, name) == 0)
            return &stands[i];
    return NULL;
}

void InterceptModule(HMODULE dll)
{
    BYTE* base = (BYTE*)dll;
    IMAGE_NT_HEADERS* nt = (IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int patched = 0;
    for (IMAGE_IMPORT_DESCRIPTOR* d = (IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress); d->Name; d++) {
        const char* dllName = (const char*)(base + d->Name);
        IMAGE_THUNK_DATA* names = (IMAGE_THUNK_DATA*)(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA* slots = (IMAGE_THUNK_DATA*)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const char* name = (const char*)((IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData))->Name;
            Stand* stand = FindStand(name);
            if (!stand || lstrcmpiA(stand->dll, dllName) != 0)
                continue;
            *stand->real = (void*)slots->u1.Function;
            DWORD old;
            VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &old);
            slots->u1.Function = (DWORD_PTR)stand->fake;
            VirtualProtect(&slots->u1.Function, sizeof(void*), old, &old);
            patched++;
        }
    }
    CHECK(patched >= 20, "expected the module's imports to be patched, patched %d", patched);
}

void ResetIntercepts(void)
{
    ClearCallLog();
    injectionCount = 0;
    observer = NULL;
    logging = true;
    for (int i = 0; i < STAND_COUNT; i++)
        stands[i].override = NULL;
    memset(&messageBoxSeen, 0, sizeof messageBoxSeen);
}

void ClearCallLog(void)
{
    recordCount = 0;
}

int CallLogSize(void)
{
    return recordCount;
}

const CallRecord* CallAt(int index)
{
    return index >= 0 && index < recordCount ? &records[index] : NULL;
}

int CallCount(const char* name)
{
    int n = 0;
    for (int i = 0; i < recordCount; i++)
        if (strcmp(records[i].name, name) == 0)
            n++;
    return n;
}

int CallIndex(const char* name, int nth)
{
    for (int i = 0; i < recordCount; i++)
        if (strcmp(records[i].name, name) == 0 && --nth == 0)
            return i;
    return -1;
}

LONG LastErrorRead(void)
{
    int at = CallIndex("WSAGetLastError", CallCount("WSAGetLastError"));
    return at >= 0 ? CallAt(at)->result : -1;
}

const char* CallLogText(void)
{
    static char text[LOG_TEXT_SIZE];
    size_t used = 0;
    text[0] = 0;
    for (int i = 0; i < recordCount; i++) {
        size_t len = strlen(records[i].name);
        if (used + len + 5 >= sizeof text) {
            strcpy(text + used, " ...");
            break;
        }
        if (used)
            text[used++] = ' ';
        memcpy(text + used, records[i].name, len + 1);
        used += len;
    }
    return text;
}

void SetCallLogging(bool on)
{
    logging = on;
}

void InjectFailure(const char* name, int nth, LONG result, int wsaError)
{
    if (!CHECK(injectionCount < MAX_INJECTIONS && FindStand(name), "cannot inject a failure of %s", name))
        return;
    Injection* inj = &injections[injectionCount++];
    inj->name = FindStand(name)->name;
    inj->nth = nth;
    inj->seen = 0;
    inj->result = result;
    inj->wsaError = wsaError;
}

void OverrideCall(const char* name, void* routine)
{
    Stand* stand = FindStand(name);
    if (CHECK(stand != NULL, "cannot override %s", name))
        stand->override = routine;
}

void* RealFunction(const char* name)
{
    Stand* stand = FindStand(name);
    return stand ? *stand->real : NULL;
}

void SetCallObserver(CallObserver o)
{
    observer = o;
}
