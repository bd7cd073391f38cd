// The rows' settings. Each library reads the profile once, on its own first
// _netopen: the profile holds a row's settings for that call, and the file
// is put back at once, so every other row keeps what it said.
#include "bench.h"
#include "buildpath.h"
#include "idle_routine.h"
#include "user_routine.h"
#include <stdio.h>
#include <string.h>

enum { PROFILE_MAX = 64 * 1024 };

struct SavedProfile {
    bool fileExisted;
    DWORD length;
    char bytes[PROFILE_MAX];
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

// The profile reader may cache the file: the next read must see this one.
static void FlushProfile(void)
{
    WritePrivateProfileStringA(NULL, NULL, NULL, RAVO_PROFILE_FILE);
}

static bool SaveProfile(void)
{
    HANDLE file = CreateFileA(ProfilePath(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    saved.fileExisted = file != INVALID_HANDLE_VALUE;
    saved.length = 0;
    if (!saved.fileExisted)
        return true;
    bool whole = ReadFile(file, saved.bytes, PROFILE_MAX, &saved.length, NULL) && saved.length < PROFILE_MAX;
    CloseHandle(file);
    if (!whole)
        printf("%s is larger than %d bytes or cannot be read: the benchmark does not change it\n", ProfilePath(),
               PROFILE_MAX - 1);
    return whole;
}

bool UseSettingsOf(int who, const char* dataBytes)
{
    const Contender* row = &contenders[who];
    if (!SaveProfile())
        return false;
    for (const Setting& s : row->settings)
        if (s.key)
            WritePrivateProfileStringA(s.section, s.key, s.value, RAVO_PROFILE_FILE);
    if (row->traceFile) {
        WritePrivateProfileStringA(RAVO_TRACE_SECTION, RAVO_KEY_TRACE_FILE, BuildPath(row->traceFile),
                                   RAVO_PROFILE_FILE);
        if (dataBytes)
            WritePrivateProfileStringA(RAVO_TRACE_SECTION, RAVO_KEY_TRACE_DATA_BYTES, dataBytes, RAVO_PROFILE_FILE);
    }
    bool ok = !row->setUp || row->setUp();
    FlushProfile();
    return ok;
}

void RestoreProfile(void)
{
    FlushProfile();
    if (!saved.fileExisted) {
        DeleteFileA(ProfilePath());
    } else {
        HANDLE file = CreateFileA(ProfilePath(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        DWORD written = 0;
        if (file == INVALID_HANDLE_VALUE || !WriteFile(file, saved.bytes, saved.length, &written, NULL) ||
            written != saved.length)
            printf("cannot put %s back as it was (error %lu)\n", ProfilePath(), GetLastError());
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    FlushProfile();
}

// The name the module is given in mcUserDll.
static const char* IdleRoutineName(void)
{
    const char* path = BuildPath(RAVO_IDLE_DLL);
    return strlen(path) < USER_NAME_SIZE ? path : RAVO_IDLE_DLL;
}

bool UseIdleRoutine(void)
{
    if (!idleLibrary)
        idleLibrary = LoadLibraryA(IdleRoutineName());
    if (!idleLibrary || !GetProcAddress(idleLibrary, RAVO_IDLE_FUNC)) {
        printf("%s does not load or lacks %s (error %lu): build the target ravoidle\n", IdleRoutineName(),
               RAVO_IDLE_FUNC, GetLastError());
        return false;
    }
    WritePrivateProfileStringA(RAVO_PROFILE_SECTION, RAVO_KEY_USER_DLL, IdleRoutineName(), RAVO_PROFILE_FILE);
    return true;
}
