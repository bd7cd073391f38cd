// ravoprobe settings: the block-mode settings as the module will read them on
// its first _netopen. The profile is read here with the same calls, keys,
// defaults and buffer sizes as the module, so the module itself is not
// loaded and its message box is never shown.
#include "probe.h"
#include "idle_routine.h"
#include "user_routine.h"
#include <stdio.h>
#include <string.h>

static const char PROFILE_FILE[] = RAVO_PROFILE_FILE;
static const char SECTION[] = RAVO_PROFILE_SECTION;
enum { LONG_TEXT_SIZE = 1024 };

// "set to TEXT" or "not set" for a key, read as text so that a missing key
// can be told from one set to its default.
static const char* KeyState(const char* key)
{
    static char text[4][LONG_TEXT_SIZE + 32];
    static int next;
    char* out = text[next++ % 4];
    char raw[LONG_TEXT_SIZE];
    GetPrivateProfileStringA(SECTION, key, "\x01", raw, sizeof raw, PROFILE_FILE);
    if (strcmp(raw, "\x01") == 0)
        strcpy(out, "not set, default");
    else
        sprintf(out, "set to \"%s\"", raw);
    return out;
}

static const char* BlockModeName(LONG mode)
{
    switch (mode) {
    case BLOCK_MODE_QUIET: return "BLOCK_MODE_QUIET";
    case BLOCK_MODE_QUIET2: return "BLOCK_MODE_QUIET2";
    case BLOCK_MODE_USER: return "BLOCK_MODE_USER";
    default: return "BLOCK_MODE_PUMP";
    }
}

// Block mode 3's library and routine, tried as the module will load them.
struct UserRoutineTry {
    char dllName[USER_NAME_SIZE], funcName[USER_NAME_SIZE];
    bool libraryLoads;
    DWORD loadError;  // LoadLibrary's, when it does not load
    char libraryPath[MAX_PATH];
    bool routineFound;
    DWORD lookupError;  // GetProcAddress's, when the routine is not found
};

// Reads mcUserDll and mcUserFunc as the module will, and tries the library
// and the routine the same way; the library is let go again.
static void TryUserRoutine(UserRoutineTry* t)
{
    memset(t, 0, sizeof *t);
    GetPrivateProfileStringA(SECTION, RAVO_KEY_USER_DLL, "", t->dllName, sizeof t->dllName, PROFILE_FILE);
    GetPrivateProfileStringA(SECTION, RAVO_KEY_USER_FUNC, "", t->funcName, sizeof t->funcName, PROFILE_FILE);
    // No "cannot find the file" box from the system while trying.
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE dll = LoadLibraryA(t->dllName);
    t->loadError = GetLastError();
    SetErrorMode(oldMode);
    t->libraryLoads = (UINT_PTR)dll > 32;
    if (!t->libraryLoads)
        return;
    GetModuleFileNameA(dll, t->libraryPath, sizeof t->libraryPath);
    t->routineFound = GetProcAddress(dll, t->funcName) != NULL;
    t->lookupError = GetLastError();
    FreeLibrary(dll);
}

// A note when key's value is longer than the module reads: it gets read.
static void NoteCutName(const char* key, const char* read)
{
    char longer[LONG_TEXT_SIZE];
    GetPrivateProfileStringA(SECTION, key, "", longer, sizeof longer, PROFILE_FILE);
    if (strlen(longer) >= USER_NAME_SIZE)
        printf("  note: %s is longer than %d characters; the module reads only \"%s\"\n", key,
               USER_NAME_SIZE - 1, read);
}

// True when path (a full path or a bare name) names ravoidle.dll.
static bool NamesIdleLibrary(const char* path)
{
    const char* base = path;
    for (const char* c = path; *c; c++)
        if (*c == '\\' || *c == '/' || *c == ':')
            base = c + 1;
    return lstrcmpiA(base, RAVO_IDLE_DLL) == 0;
}

// True when LoadLibrary looks for name along the library path, where the
// host's own folder comes first: a bare name or a relative path, not a path
// from a drive or a root.
static bool IsSearchedFor(const char* name)
{
    bool fromDrive = ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z' && name[1] == ':');
    return name[0] && !fromDrive && name[0] != '\\' && name[0] != '/';
}

// What mode 3 with ravoidle.dll does, and how it is best named.
static void ShowIdleLibrary(const UserRoutineTry* t)
{
    if (!t->routineFound) {
        printf("  ravoidle:    %s exports " RAVO_IDLE_FUNC ": set mcUserFunc=" RAVO_IDLE_FUNC "\n", RAVO_IDLE_DLL);
        return;
    }
    printf("  ravoidle:    the idle routine shipped with the module: one message per turn, as pump mode;\n"
           "               later in a wait it blocks until the socket, input or a message wakes it (at most %d ms)\n",
           IDLE_WAIT_BOUND_MS);
    if (lstrcmpiA(t->dllName, RAVO_IDLE_DLL) == 0)
        printf("  note:        a bare name is searched for along the library path: give the full path of\n"
               "               %s (at most %d characters), in a folder only administrators can write\n",
               RAVO_IDLE_DLL, USER_NAME_SIZE - 1);
}

// Mode 3 in detail. Returns true when the routine would be used.
static bool ShowUserRoutine(void)
{
    UserRoutineTry t;
    TryUserRoutine(&t);
    printf("mcUserDll:     \"%s\" (%s)\n", t.dllName, KeyState(RAVO_KEY_USER_DLL));
    printf("mcUserFunc:    \"%s\" (%s)\n", t.funcName, KeyState(RAVO_KEY_USER_FUNC));
    NoteCutName(RAVO_KEY_USER_DLL, t.dllName);
    NoteCutName(RAVO_KEY_USER_FUNC, t.funcName);

    if (t.libraryLoads) {
        printf("  library:     loads (here: %s)\n", t.libraryPath);
        if (t.routineFound)
            printf("  routine:     %s is exported: each idle turn calls it\n", t.funcName);
        else
            printf("  routine:     %s is NOT exported by %s (GetProcAddress error %lu)\n", t.funcName, t.dllName,
                   t.lookupError);
    } else {
        printf("  library:     does NOT load (LoadLibrary error %lu)\n", t.loadError);
    }
    if (t.libraryLoads && NamesIdleLibrary(t.libraryPath))
        ShowIdleLibrary(&t);
    if (IsSearchedFor(t.dllName))
        printf("  (a host searches its own folder first: run the probe from the host's folder\n"
               "   to see the library the host will find)\n");
    if (!t.routineFound) {
        printf("result: on its first _netopen the module shows a message box, caption \"" USER_ROUTINE_BOX_CAPTION "\":\n"
               "  \"" USER_ROUTINE_BOX_FORMAT "\"\n"
               "and waits until the user closes it (without a display no box appears); then it uses\n"
               "BLOCK_MODE_PUMP (mcBlockMode %d), idle routine PumpOneMessage.%s\n",
               t.funcName, t.dllName, BLOCK_MODE_PUMP, t.libraryLoads ? " The library stays loaded and is never freed." : "");
    }
    return t.routineFound;
}

void WarnOfPumpFallback(void)
{
    if ((LONG)GetPrivateProfileIntA(SECTION, RAVO_KEY_BLOCK_MODE, 0, PROFILE_FILE) != BLOCK_MODE_USER)
        return;
    UserRoutineTry t;
    TryUserRoutine(&t);
    if (t.routineFound)
        return;
    // One line, also without a display, where the module's box cannot appear.
    if (t.libraryLoads)
        printf("warning: mcBlockMode %d falls back to pump mode: mcUserDll \"%s\" does not export mcUserFunc \"%s\""
               " (see ravoprobe settings)\n", BLOCK_MODE_USER, t.dllName, t.funcName);
    else
        printf("warning: mcBlockMode %d falls back to pump mode: mcUserDll \"%s\" does not load, so neither does"
               " mcUserFunc \"%s\" (see ravoprobe settings)\n", BLOCK_MODE_USER, t.dllName, t.funcName);
}

int CommandSettings(const ProbeOptions*)
{
    char path[MAX_PATH];
    GetWindowsDirectoryA(path, sizeof path);
    strcat(path, "\\");
    strcat(path, PROFILE_FILE);
    DWORD attributes = GetFileAttributesA(path);
    printf("profile file:  %s (%s)\n", path,
           attributes == INVALID_FILE_ATTRIBUTES ? "missing: every setting takes its default" : "present");
    bool traceUsable = PrintTraceSettings();
    printf("section:       [%s]; read once, by the first _netopen after the module is loaded\n", SECTION);

    LONG hook = (LONG)GetPrivateProfileIntA(SECTION, RAVO_KEY_HOOK, 0, PROFILE_FILE);
    printf("mcHook:        %ld (%s): %s\n", hook, KeyState(RAVO_KEY_HOOK),
           hook ? "mcWSAHook is the blocking hook during the service and host look-ups"
                : "no blocking hook of the module's own");

    LONG mode = (LONG)GetPrivateProfileIntA(SECTION, RAVO_KEY_BLOCK_MODE, 0, PROFILE_FILE);
    printf("mcBlockMode:   %ld (%s): %s\n", mode, KeyState(RAVO_KEY_BLOCK_MODE), BlockModeName(mode));
    bool routineUsed = true;
    switch (mode) {
    case BLOCK_MODE_QUIET:
        printf("idle routine:  IdleNothing (returns at once; no message is dispatched while waiting)\n");
        break;
    case BLOCK_MODE_QUIET2:
        printf("idle routine:  IdleNothing2 (returns at once; behaves as mode %d)\n", BLOCK_MODE_QUIET);
        break;
    case BLOCK_MODE_USER:
        printf("idle routine:  the user routine named by mcUserFunc in mcUserDll\n");
        routineUsed = ShowUserRoutine();
        break;
    default:
        if (mode == BLOCK_MODE_PUMP)
            printf("idle routine:  PumpOneMessage (dispatches at most one window message per idle turn)\n");
        else
            printf("idle routine:  PumpOneMessage (dispatches at most one window message per idle turn);"
                   " every value but %d, %d and %d means pump mode\n", BLOCK_MODE_QUIET, BLOCK_MODE_QUIET2,
                   BLOCK_MODE_USER);
        break;
    }
    return routineUsed && traceUsable ? PROBE_OK : PROBE_FAILED;
}
