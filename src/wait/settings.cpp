// Loads the block-mode settings from the profile file and provides the
// module's own idle routines.
#include "settings.h"
#include "../transport/module.h"
#include "readiness.h"
#include "../../tools/common/user_routine.h"

static const char PROFILE_FILE[] = RAVO_PROFILE_FILE;
static const char PROFILE_SECTION[] = RAVO_PROFILE_SECTION;
enum { MESSAGE_SIZE = 200 };

void IdleNothing(void)
{
}

// Kept apart from IdleNothing so that each quiet mode has its own routine.
void IdleNothing2(void)
{
    // An empty asm stops the compiler from folding the two routines into one.
    __asm__ volatile("");
}

// Takes at most one message of the thread off its queue and dispatches it.
// A WM_QUIT is not dispatched: the wait holds it and posts it back when it
// ends, so the host's own message loop still sees it after the call.
void PumpOneMessage(void)
{
    MSG msg;
    if (!PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        return;
    if (msg.message == WM_QUIT) {
        heldQuit.taken = 1;
        heldQuit.exitCode = (int)msg.wParam;
        return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

// Loads the user idle routine of mode 3; on failure tells the user in a
// message box and falls back to pump mode.
static void LoadUserIdleRoutine(void)
{
    char dllName[USER_NAME_SIZE];
    char funcName[USER_NAME_SIZE];
    GetPrivateProfileStringA(PROFILE_SECTION, RAVO_KEY_USER_DLL, "", dllName, sizeof dllName, PROFILE_FILE);
    GetPrivateProfileStringA(PROFILE_SECTION, RAVO_KEY_USER_FUNC, "", funcName, sizeof funcName, PROFILE_FILE);

    moduleState.userDll = LoadLibraryA(dllName);
    if ((UINT_PTR)moduleState.userDll > 32) {
        moduleState.idleRoutine = (IdleRoutine)GetProcAddress(moduleState.userDll, funcName);
        if (moduleState.idleRoutine)
            return;
    }

    char message[MESSAGE_SIZE];
    wsprintfA(message, USER_ROUTINE_BOX_FORMAT, funcName, dllName);
    MessageBoxA(NULL, message, USER_ROUTINE_BOX_CAPTION, 0);
    moduleState.blockMode = BLOCK_MODE_PUMP;
    moduleState.idleRoutine = PumpOneMessage;
}

void LoadBlockSettings(void)
{
    moduleState.useBlockingHook = (LONG)GetPrivateProfileIntA(PROFILE_SECTION, RAVO_KEY_HOOK, 0, PROFILE_FILE);
    moduleState.blockMode = (LONG)GetPrivateProfileIntA(PROFILE_SECTION, RAVO_KEY_BLOCK_MODE, 0, PROFILE_FILE);

    switch (moduleState.blockMode) {
    case BLOCK_MODE_QUIET:
        moduleState.idleRoutine = IdleNothing;
        break;
    case BLOCK_MODE_QUIET2:
        moduleState.idleRoutine = IdleNothing2;
        break;
    case BLOCK_MODE_USER:
        LoadUserIdleRoutine();
        break;
    default:
        moduleState.idleRoutine = PumpOneMessage;
        break;
    }
    moduleState.settingsLoaded = 1;
}
