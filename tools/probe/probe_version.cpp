// ravoprobe version: which probe this is and which module it loads: path,
// size, SHA-256 (to compare with the release's checksum list), the link time
// stamp, and whether each export stands at its ordinal. For the tracing
// drop-in, the same for the real module beside it, which it passes calls on to.
#include "probe.h"
#include "probe_version.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wincrypt.h>

enum { SHA256_SIZE = 32, READ_CHUNK = 65536 };

// Hashes the whole file; false when it cannot be read or hashed.
static bool HashFile(const char* path, BYTE* digest, DWORD* size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    bool ok = CryptAcquireContextA(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
              CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash);
    static BYTE chunk[READ_CHUNK];
    DWORD got = 0;
    *size = 0;
    while (ok && ReadFile(file, chunk, sizeof chunk, &got, NULL) && got > 0) {
        ok = CryptHashData(hash, chunk, got, 0);
        *size += got;
    }
    DWORD digestSize = SHA256_SIZE;
    ok = ok && CryptGetHashParam(hash, HP_HASHVAL, digest, &digestSize, 0) && digestSize == SHA256_SIZE;
    if (hash)
        CryptDestroyHash(hash);
    if (provider)
        CryptReleaseContext(provider, 0);
    CloseHandle(file);
    return ok;
}

// The file header of a loaded module.
static const IMAGE_FILE_HEADER* FileHeader(HMODULE dll)
{
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)dll;
    return &((const IMAGE_NT_HEADERS*)((const BYTE*)dll + dos->e_lfanew))->FileHeader;
}

// True when the file's version resource describes the tracing drop-in (the
// module itself has no version resource).
static bool IsTracingDropIn(const char* path)
{
    DWORD ignored;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (!size)
        return false;
    char* info = (char*)malloc(size);
    char* description = NULL;
    UINT length = 0;
    bool dropIn = info && GetFileVersionInfoA(path, 0, size, info) &&
                  VerQueryValueA(info, "\\StringFileInfo\\040904b0\\FileDescription", (void**)&description,
                                 &length) &&
                  length && strcmp(description, RAVO_TRACE_DESCRIPTION) == 0;
    free(info);
    return dropIn;
}

// Returns the number of exports missing or away from their ordinals.
static int PrintModule(HMODULE dll, const char* path)
{
    printf("module:      %s\n", path);
    if (IsTracingDropIn(path))
        printf("kind:        the tracing drop-in ravotrace.dll, not the module: it passes every call on to\n"
               "             %s in its own folder (see [Trace] in ravoprobe settings)\n", RAVO_TRACE_REAL_MODULE);
    BYTE digest[SHA256_SIZE];
    DWORD size;
    if (HashFile(path, digest, &size)) {
        printf("size:        %lu bytes\nsha256:      ", size);
        for (int i = 0; i < SHA256_SIZE; i++)
            printf("%02x", digest[i]);
        printf("\n");
    } else {
        printf("sha256:      cannot read or hash the file (error %lu)\n", GetLastError());
    }
    DWORD stamp = FileHeader(dll)->TimeDateStamp;
    time_t when = (time_t)stamp;
    struct tm* utc = gmtime(&when);
    char text[32] = "";
    if (stamp && utc)
        strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", utc);
    printf("linked:      0x%08lx%s%s\n", stamp, stamp ? ", " : " (no time recorded)", text);

    RavoExports x;
    char problem[1024];
    int faults = ResolveRavoExports(dll, &x, problem, sizeof problem);
    if (faults)
        printf("exports:     NOT all at their ordinals:\n");
    else
        printf("exports:     all %d at their ordinals\n", (int)RAVO_EXPORT_COUNT);
    if (faults)
        printf("%s", problem);
    return faults;
}

// The drop-in is only of use with the module itself beside it: present, a
// 32-bit DLL with the exports at their ordinals, and not a drop-in as well.
// Shows it as the module is shown; PROBE_NO_MODULE when it is not of use.
static int CheckRealModule(const char* dropInPath)
{
    char path[MAX_PATH];
    lstrcpynA(path, dropInPath, sizeof path);
    char* name = strrchr(path, '\\') ? strrchr(path, '\\') + 1 : path;
    lstrcpynA(name, RAVO_TRACE_REAL_MODULE, (int)(path + sizeof path - name));
    printf("\nthe real module, which the drop-in loads from its own folder:\n");
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE dll = LoadLibraryExA(path, NULL, DONT_RESOLVE_DLL_REFERENCES);
    DWORD error = GetLastError();
    SetErrorMode(oldMode);
    const char* problem = NULL;
    if (!dll) {
        printf("module:      %s cannot be loaded (LoadLibrary error %lu, %s)\n", path, error,
               LoadErrorMeaning(error));
        problem = "it cannot be loaded";
    } else {
        const IMAGE_FILE_HEADER* header = FileHeader(dll);
        bool library32 = header->Machine == IMAGE_FILE_MACHINE_I386 && (header->Characteristics & IMAGE_FILE_DLL);
        if (PrintModule(dll, path))
            problem = "an export is missing or away from its ordinal";
        if (!library32)
            problem = "it is not a 32-bit DLL";
        if (IsTracingDropIn(path))
            problem = "it is a tracing drop-in too";
        FreeLibrary(dll);
    }
    if (!problem)
        return PROBE_OK;
    printf("result:      NOT the module: %s. Put the release's ravowsok.dll there as\n"
           "             %s; without it every _netopen through the drop-in fails with %d\n",
           problem, RAVO_TRACE_REAL_MODULE, RAVO_TRACE_NO_MODULE_CODE);
    return PROBE_NO_MODULE;
}

int CommandVersion(const ProbeOptions* o)
{
    printf("ravoprobe %s%s%s\n", RAVOPROBE_VERSION, RAVOPROBE_REVISION[0] ? ", source revision " : "",
           RAVOPROBE_REVISION);
    char path[MAX_PATH];
    if (o->dllPath)
        lstrcpynA(path, o->dllPath, sizeof path);
    else {
        GetModuleFileNameA(NULL, path, sizeof path);
        char* slash = strrchr(path, '\\');
        lstrcpynA(slash ? slash + 1 : path, "ravowsok.dll", (int)(path + sizeof path - (slash ? slash + 1 : path)));
    }
    // Loaded without running its start-up routine: identifying it must not
    // depend on it working.
    HMODULE dll = LoadLibraryExA(path, NULL, DONT_RESOLVE_DLL_REFERENCES);
    if (!dll) {
        DWORD error = GetLastError();
        printf("module:      %s cannot be loaded (LoadLibrary error %lu)\n", path, error);
        return PROBE_NO_MODULE;
    }
    GetModuleFileNameA(dll, path, sizeof path);
    int faults = PrintModule(dll, path);
    FreeLibrary(dll);
    if (IsTracingDropIn(path) && CheckRealModule(path) != PROBE_OK)
        return PROBE_NO_MODULE;
    return faults ? PROBE_FAILED : PROBE_OK;
}
