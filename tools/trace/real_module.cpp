// The real module, ravowsok-real.dll, loaded from the drop-in's own folder
// by full path: never through the search path, which could find the drop-in
// itself or another copy.
#include "trace.h"

const RavoExports* realModule;
char realModulePath[MAX_PATH];
char realModuleProblem[160];
static HMODULE realHandle;
static RavoExports loaded;

// --- Stand-ins for a module that cannot be used -----------------------------
// Every call fails as if the network subsystem were not ready: _netopen with
// the start-up stage's code, the data calls with the same code (which also
// reads as a poll failure), _netclose with the bare error. The rest answer
// as the module would.
static const LONG NOT_READY = RAVO_TRACE_NO_MODULE_CODE;
static_assert(RAVO_TRACE_NO_MODULE_CODE == NET_ERR_STARTUP + WSASYSNOTREADY, "the header's code of no module");

static long __stdcall Missing_netopen(const char*, const char*, long, long, long* errorCode, long, void*)
{
    *errorCode = NOT_READY;
    return -1;
}

static long __stdcall Missing_netsend(long, const char*, long, long* errorCode, void*)
{
    *errorCode = NOT_READY;
    return -1;
}

static long __stdcall Missing_netread(long, char*, long, long* errorCode, void*)
{
    *errorCode = NOT_READY;
    return -1;
}

static long __stdcall Missing_netclose(long, long)
{
    return WSASYSNOTREADY;
}

static long __stdcall Missing_nettype(void)
{
    return NET_TYPE_TCPIP;
}

static long __stdcall MissingWEP(long)
{
    return 1;
}

// Discard the message, as the module's hook procedures do (without a beep).
static long __stdcall MissingKybdBlockProc(int, unsigned int, long)
{
    return 1;
}

static long __stdcall MissingMouseBlockProc(int, unsigned int, long)
{
    return 1;
}

static int __stdcall MissingmcWSAHook(void)
{
    return 1;
}

// Missing<name> for each export, as RAVO_EXPORTS lists them.
#define RAVO_STAND_IN(name, ordinal, argumentBytes, type) Missing##name,
static const RavoExports STAND_INS = {RAVO_EXPORTS(RAVO_STAND_IN)};

// The full path of RAVO_TRACE_REAL_MODULE beside the drop-in.
static void FindRealModulePath(void)
{
    DWORD length = GetModuleFileNameA(dropIn.self, realModulePath, MAX_PATH);
    char* name = realModulePath;
    for (DWORD i = 0; i < length; i++)
        if (realModulePath[i] == '\\' || realModulePath[i] == '/')
            name = realModulePath + i + 1;
    if ((name - realModulePath) + lstrlenA(RAVO_TRACE_REAL_MODULE) < MAX_PATH)
        lstrcpyA(name, RAVO_TRACE_REAL_MODULE);
}

void LoadRealModule(void)
{
    realModule = &STAND_INS;
    FindRealModulePath();
    // No "cannot find" box from the system: the trace tells why.
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    realHandle = LoadLibraryA(realModulePath);
    DWORD loadError = GetLastError();
    SetErrorMode(oldMode);
    if (!realHandle) {
        // 126 (ERROR_MOD_NOT_FOUND): the file is missing.
        wsprintfA(realModuleProblem, "LoadLibrary error %lu", loadError);
        return;
    }
    for (int i = 0; i < RAVO_EXPORT_COUNT; i++) {
        FARPROC* field = RavoExportField(&loaded, i);
        *field = GetProcAddress(realHandle, RAVO_EXPORT_LIST[i].name);
        if (!*field) {
            wsprintfA(realModuleProblem, "it lacks the export %s", RAVO_EXPORT_LIST[i].name);
            FreeLibrary(realHandle);
            realHandle = NULL;
            return;
        }
    }
    realModule = &loaded;
}

void FreeRealModule(void)
{
    if (realHandle)
        FreeLibrary(realHandle);
    realHandle = NULL;
}
