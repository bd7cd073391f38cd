// The module's entry routine and the exports that belong to the frame.
#include "module.h"
#include "../wait/settings.h"

ModuleState moduleState;

// Entry routine, called by the loader for every attach and detach. There is
// no C runtime to start; all the module needs is its own instance handle.
extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD, LPVOID)
{
    moduleState.moduleHandle = instance;
    return TRUE;
}

// _nettype (8): the kind number of this transport, always NET_TYPE_TCPIP.
extern "C" long __stdcall _nettype(void)
{
    return NET_TYPE_TCPIP;
}

// WEP (3): exit procedure, the host's last call. Frees the user idle
// routine's library when one is in use; returns 1.
extern "C" long __stdcall WEP(long)
{
    if (moduleState.blockMode == BLOCK_MODE_USER && moduleState.settingsLoaded == 1)
        FreeLibrary(moduleState.userDll);
    return 1;
}
