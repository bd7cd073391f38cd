// ravoprobe settings: the block-mode settings as the module will read them on
// its first _netopen. The profile is read here with the same calls, keys,
// defaults and buffer sizes as the module, so the module itself is not
// loaded and its message box is never shown.
#include "probe.h"
#include <stdio.h>
#include <string.h>

static const char PROFILE_FILE[] = RAVO_PROFILE_FILE;
static const char SECTION[] = RAVO_PROFILE_SECTION;
enum { USER_NAME_SIZE = 50, LONG_TEXT_SIZE = 1024 };

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

// Mode 3: tries the library and the routine as the module will, then lets
// the library go again. Returns true when the routine would be used.
static bool CheckUserRoutine(void)
{
    char dllName[USER_NAME_SIZE], funcName[USER_NAME_SIZE];
    GetPrivateProfileStringA(SECTION, RAVO_KEY_USER_DLL, "", dllName, sizeof dllName, PROFILE_FILE);
    GetPrivateProfileStringA(SECTION, RAVO_KEY_USER_FUNC, "", funcName, sizeof funcName, PROFILE_FILE);
    printf("mcUserDll:     \"%s\" (%s)\n", dllName, KeyState(RAVO_KEY_USER_DLL));
    printf("mcUserFunc:    \"%s\" (%s)\n", funcName, KeyState(RAVO_KEY_USER_FUNC));
    char longer[LONG_TEXT_SIZE];
    GetPrivateProfileStringA(SECTION, RAVO_KEY_USER_DLL, "", longer, sizeof longer, PROFILE_FILE);
    if (strlen(longer) >= USER_NAME_SIZE)
        printf("  note: mcUserDll is longer than %d characters; the module reads only \"%s\"\n",
               USER_NAME_SIZE - 1, dllName);
    GetPrivateProfileStringA(SECTION, RAVO_KEY_USER_FUNC, "", longer, sizeof longer, PROFILE_FILE);
    if (strlen(longer) >= USER_NAME_SIZE)
        printf("  note: mcUserFunc is longer than %d characters; the module reads only \"%s\"\n",
               USER_NAME_SIZE - 1, funcName);

    // No "cannot find the file" box from the system while trying.
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE dll = LoadLibraryA(dllName);
    DWORD loadError = GetLastError();
    SetErrorMode(oldMode);
    bool found = false;
    if ((UINT_PTR)dll > 32) {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(dll, path, sizeof path);
        printf("  library:     loads (here: %s)\n", path);
        found = GetProcAddress(dll, funcName) != NULL;
        if (found)
            printf("  routine:     %s is exported: each idle turn calls it\n", funcName);
        else
            printf("  routine:     %s is NOT exported by %s (GetProcAddress error %lu)\n", funcName, dllName,
                   GetLastError());
        FreeLibrary(dll);
    } else {
        printf("  library:     does NOT load (LoadLibrary error %lu)\n", loadError);
    }
    printf("  (a host searches its own folder first: run the probe from the host's folder\n"
           "   to see the library the host will find)\n");
    if (!found) {
        printf("result: on its first _netopen the module shows a message box, caption \"mcBlockMode Init\":\n"
               "  \"Error loading function (%s) from dll (%s) - using default mcBlockMode\"\n"
               "and waits until the user closes it; then it uses BLOCK_MODE_PUMP (mcBlockMode 0),\n"
               "idle routine PumpOneMessage.%s\n",
               funcName, dllName,
               (UINT_PTR)dll > 32 ? " The library stays loaded and is never freed." : "");
    }
    return found;
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
    PrintTraceSettings();
    printf("section:       [%s]; read once, by the first _netopen after the module is loaded\n", SECTION);

    LONG hook = (LONG)GetPrivateProfileIntA(SECTION, RAVO_KEY_HOOK, 0, PROFILE_FILE);
    printf("mcHook:        %ld (%s): %s\n", hook, KeyState(RAVO_KEY_HOOK),
           hook ? "mcWSAHook is the blocking hook during the service and host look-ups"
                : "no blocking hook of the module's own");

    LONG mode = (LONG)GetPrivateProfileIntA(SECTION, RAVO_KEY_BLOCK_MODE, 0, PROFILE_FILE);
    printf("mcBlockMode:   %ld (%s): %s\n", mode, KeyState(RAVO_KEY_BLOCK_MODE), BlockModeName(mode));
    switch (mode) {
    case BLOCK_MODE_QUIET:
        printf("idle routine:  IdleNothing (returns at once; no message is dispatched while waiting)\n");
        return PROBE_OK;
    case BLOCK_MODE_QUIET2:
        printf("idle routine:  IdleNothing2 (returns at once; behaves as mode 1)\n");
        return PROBE_OK;
    case BLOCK_MODE_USER:
        printf("idle routine:  the user routine named by mcUserFunc in mcUserDll\n");
        return CheckUserRoutine() ? PROBE_OK : PROBE_FAILED;
    default:
        printf("idle routine:  PumpOneMessage (dispatches at most one window message per idle turn)%s\n",
               mode == 0 ? "" : "; every value but 1, 2 and 3 means pump mode");
        return PROBE_OK;
    }
}
