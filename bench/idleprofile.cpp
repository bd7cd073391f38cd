// The ravoidle contender's settings. Each copy of the module reads the
// profile once, on its own first _netopen: the copy in build/viaidle opens
// while the profile names ravoidle.dll in block mode 3, and the profile is
// put back at once, so the other contenders keep what it said.
#include "bench.h"
#include "buildpath.h"
#include "idle_routine.h"
#include "user_routine.h"
#include <stdio.h>
#include <string.h>

static const char* const idleKeys[] = {RAVO_KEY_BLOCK_MODE, RAVO_KEY_USER_DLL, RAVO_KEY_USER_FUNC};
enum { IDLE_KEYS = sizeof idleKeys / sizeof idleKeys[0], VALUE_SIZE = 1024 };

struct SavedProfile {
    bool fileExisted;
    bool present[IDLE_KEYS];
    char value[IDLE_KEYS][VALUE_SIZE];
};
static SavedProfile saved;
static HMODULE idleLibrary;  // held while the run lasts

static const char* ProfilePath(void)
{
    static char path[MAX_PATH];
    GetWindowsDirectoryA(path, MAX_PATH - 16);
    strcat(path, "\\" RAVO_PROFILE_FILE);
    return path;
}

const char* IdleRoutineName(void)
{
    const char* path = BuildPath(RAVO_IDLE_DLL);
    return strlen(path) < USER_NAME_SIZE ? path : RAVO_IDLE_DLL;
}

bool CheckIdleRoutine(void)
{
    if (!idleLibrary)
        idleLibrary = LoadLibraryA(IdleRoutineName());
    if (!idleLibrary || !GetProcAddress(idleLibrary, RAVO_IDLE_FUNC)) {
        printf("%s does not load or lacks %s (error %lu): build the target ravoidle\n", IdleRoutineName(),
               RAVO_IDLE_FUNC, GetLastError());
        return false;
    }
    return true;
}

// The profile reader may cache the file: the next read must see this one.
static void FlushProfile(void)
{
    WritePrivateProfileStringA(NULL, NULL, NULL, RAVO_PROFILE_FILE);
}

void UseIdleRoutineProfile(void)
{
    saved.fileExisted = GetFileAttributesA(ProfilePath()) != INVALID_FILE_ATTRIBUTES;
    for (int k = 0; k < IDLE_KEYS; k++) {
        GetPrivateProfileStringA(RAVO_PROFILE_SECTION, idleKeys[k], "\x01", saved.value[k], VALUE_SIZE,
                                 RAVO_PROFILE_FILE);
        saved.present[k] = strcmp(saved.value[k], "\x01") != 0;
    }
    char mode[8];
    wsprintfA(mode, "%d", BLOCK_MODE_USER);
    const char* values[IDLE_KEYS] = {mode, IdleRoutineName(), RAVO_IDLE_FUNC};
    for (int k = 0; k < IDLE_KEYS; k++)
        WritePrivateProfileStringA(RAVO_PROFILE_SECTION, idleKeys[k], values[k], RAVO_PROFILE_FILE);
    FlushProfile();
}

void RestoreProfile(void)
{
    for (int k = 0; k < IDLE_KEYS; k++)
        WritePrivateProfileStringA(RAVO_PROFILE_SECTION, idleKeys[k], saved.present[k] ? saved.value[k] : NULL,
                                   RAVO_PROFILE_FILE);
    FlushProfile();
    if (!saved.fileExisted)
        DeleteFileA(ProfilePath());
}
