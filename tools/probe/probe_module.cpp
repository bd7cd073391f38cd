// ravoprobe: finding and loading ravowsok.dll the way a host does, with one
// clear message when it cannot be used.
#include "probe.h"
#include <stdio.h>
#include <string.h>

const char* LoadErrorMeaning(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_MOD_NOT_FOUND:
        return "the file, or a library it needs, was not found";
    case ERROR_PATH_NOT_FOUND: return "the folder does not exist";
    case ERROR_ACCESS_DENIED: return "access to the file is denied";
    case ERROR_BAD_EXE_FORMAT: return "the file is not a 32-bit Windows library (64-bit, or not a library)";
    case ERROR_DLL_INIT_FAILED: return "the library's start-up routine failed";
    case ERROR_PROC_NOT_FOUND: return "a library it needs lacks a routine it imports";
    default: return "see the Windows system error codes";
    }
}

HMODULE LoadProbeModule(const ProbeOptions* o, RavoExports* x, char* path, int pathSize)
{
    if (o->dllPath) {
        lstrcpynA(path, o->dllPath, pathSize);
    } else {
        GetModuleFileNameA(NULL, path, pathSize);
        char* slash = strrchr(path, '\\');
        lstrcpynA(slash ? slash + 1 : path, "ravowsok.dll", pathSize - (int)((slash ? slash + 1 : path) - path));
    }
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE dll = LoadLibraryA(path);
    DWORD error = GetLastError();
    SetErrorMode(oldMode);
    if (!dll) {
        printf("ravoprobe: cannot load %s: LoadLibrary error %lu, %s\n", path, error, LoadErrorMeaning(error));
        return NULL;
    }
    GetModuleFileNameA(dll, path, pathSize);
    char problem[1024];
    int faults = ResolveRavoExports(dll, x, problem, sizeof problem);
    if (!x->_netopen || !x->_netsend || !x->_netread || !x->_netclose || !x->_nettype || !x->WEP) {
        printf("ravoprobe: %s is not ravowsok.dll: %d of the module's %d exports are missing or misplaced\n"
               "  (ravoprobe version --dll PATH lists them)\n",
               path, faults, (int)RAVO_EXPORT_COUNT);
        FreeLibrary(dll);
        return NULL;
    }
    if (faults)
        printf("warning: %s%s", problem, "  a host that imports by ordinal calls something else\n");
    return dll;
}

void ServicesFilePath(char* path, int size)
{
    // The socket library reads this file under Windows and under Wine (the
    // prefix's own copy); the folder is not redirected for 32-bit programs.
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    _snprintf(path, size, "%s\\system32\\drivers\\etc\\services", windows);
    path[size - 1] = 0;
}
