// The contenders' libraries and connections and their one send and one
// receive: the module's exports (in whatever library the row loads), the
// hand-written floor, and plain blocking calls.
#include "bench.h"
#include "buildpath.h"
#include "exports.h"
#include "loopback.h"
#include <stdio.h>
#include <string.h>

// What each VIA_EXPORTS row loaded, and whether its settings were read.
static HMODULE libraries[MAX_CONTENDERS];
static RavoExports exports[MAX_CONTENDERS];
static bool opened[MAX_CONTENDERS];
static const char* traceDataBytes;  // --data-bytes, for the tracing rows

// Loads one library as a host does and resolves the module's exports.
static HMODULE LoadExports(const char* path, RavoExports* x)
{
    HMODULE dll = LoadLibraryA(path);
    if (!dll) {
        printf("LoadLibrary(%s) failed: error %lu\n", path, GetLastError());
        return NULL;
    }
    char problem[512];
    if (ResolveRavoExports(dll, x, problem, sizeof problem) != 0) {
        printf("%s: %s", path, problem);
        return NULL;
    }
    return dll;
}

static bool SameSettings(const Contender* a, const Contender* b)
{
    for (int k = 0; k < MAX_SETTINGS; k++) {
        const Setting &x = a->settings[k], &y = b->settings[k];
        if (!x.key != !y.key || (x.key && (strcmp(x.section, y.section) || strcmp(x.key, y.key) ||
                                           strcmp(x.value, y.value))))
            return false;
    }
    return !a->traceFile == !b->traceFile && (!a->traceFile || strcmp(a->traceFile, b->traceFile) == 0);
}

// The row's library: loaded once per path. Rows of one path must read the
// same settings; rows of different paths must get libraries of their own,
// or a row would run with another's settings.
static bool LoadRow(int who)
{
    const Contender* row = &contenders[who];
    for (int c = 0; c < who; c++) {
        if (!libraries[c] || strcmp(contenders[c].library, row->library) != 0)
            continue;
        if (!SameSettings(&contenders[c], row)) {
            printf("%s and %s share %s but not their settings: give one a library of its own\n", contenders[c].name,
                   row->name, row->library);
            return false;
        }
        libraries[who] = libraries[c];
        exports[who] = exports[c];
        return true;
    }
    const char* path = BuildPath(row->library);
    if (!(libraries[who] = LoadExports(path, &exports[who])))
        return false;
    for (int c = 0; c < who; c++) {
        if (libraries[c] == libraries[who] && strcmp(contenders[c].library, row->library) != 0) {
            printf("build\\%s is the library already loaded for %s, not one of its own\n", row->library,
                   contenders[c].name);
            return false;
        }
    }
    return true;
}

bool LoadContenders(const char* dataBytes)
{
    traceDataBytes = dataBytes;
    for (int c = 0; c < contenderCount; c++) {
        if (contenders[c].traceFile)
            DeleteFileA(BuildPath(contenders[c].traceFile));
        if (Chosen(c) && contenders[c].transport == VIA_EXPORTS && !LoadRow(c))
            return false;
    }
    return true;
}

double TraceSize(int who)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!contenders[who].traceFile ||
        !GetFileAttributesExA(BuildPath(contenders[who].traceFile), GetFileExInfoStandard, &data))
        return 0;
    return (double)data.nFileSizeHigh * 4294967296.0 + data.nFileSizeLow;
}

void UnloadContenders(void)
{
    for (int c = 0; c < contenderCount; c++) {
        bool shared = false;
        for (int other = 0; other < c; other++)
            shared = shared || libraries[other] == libraries[c];
        if (libraries[c] && !shared)
            FreeLibrary(libraries[c]);
        if (contenders[c].traceFile)
            DeleteFileA(BuildPath(contenders[c].traceFile));
    }
    for (int c = 0; c < contenderCount; c++) {
        libraries[c] = NULL;
        opened[c] = false;
    }
}

// The row's first _netopen reads its library's settings: the profile holds
// them for that call only.
static LONG OpenThroughModule(Link* link, const char* service, LONG* error)
{
    int who = link->who;
    bool first = !opened[who];
    opened[who] = true;
    if (first && !UseSettingsOf(who, traceDataBytes)) {
        RestoreProfile();
        return -2;
    }
    LONG s = exports[who]._netopen("127.0.0.1", service, 0, 0, error, 0, link->host);
    if (first)
        RestoreProfile();
    return s;
}

bool OpenLink(Link* link, int who, const char* service, u_short port)
{
    memset(link, 0, sizeof *link);
    link->who = who;
    const Contender* row = &contenders[who];
    if (row->transport == VIA_EXPORTS) {
        LONG error = 0;
        LONG s = OpenThroughModule(link, service, &error);
        if (s == -1)
            printf("%s: _netopen(127.0.0.1, %s): expected a socket, seen -1 with error code %ld\n", row->name,
                   service, error);
        link->s = (SOCKET)s;
        return s >= 0;
    }
    link->s = ConnectLoopback(port);
    if (link->s == INVALID_SOCKET) {
        printf("%s: connect to 127.0.0.1:%u failed: WSA error %d\n", row->name, port, WSAGetLastError());
        return false;
    }
    if (row->transport == HAND_LOOP) {
        // Set up as _netopen leaves its sockets (SO_DEBUG may be refused).
        int debugOn = 1;
        setsockopt(link->s, SOL_SOCKET, SO_DEBUG, (const char*)&debugOn, sizeof debugOn);
        u_long nonBlocking = 1;
        if (ioctlsocket(link->s, FIONBIO, &nonBlocking) != 0) {
            printf("hand loop: FIONBIO failed: WSA error %d\n", WSAGetLastError());
            return false;
        }
    }
    return true;
}

void CloseLink(Link* link)
{
    if (link->s == 0 || link->s == INVALID_SOCKET)
        return;
    if (contenders[link->who].transport == VIA_EXPORTS)
        exports[link->who]._netclose((LONG)link->s, 0);
    else
        closesocket(link->s);
    link->s = INVALID_SOCKET;
}

int SendSome(Link* link, const char* data, int length, int* error)
{
    *error = 0;
    switch (contenders[link->who].transport) {
    case VIA_EXPORTS: {
        LONG code = 0;
        LONG sent = exports[link->who]._netsend((LONG)link->s, data, length, &code, link->host);
        *error = code;
        return sent;
    }
    case HAND_LOOP: {
        // The module's _netsend: wait, one send, a full buffer is a send of nothing.
        if ((*error = HandWait(link->s, NET_WAIT_WRITE)) != 0)
            return -1;
        int sent = send(link->s, data, length, 0);
        if (sent != SOCKET_ERROR)
            return sent;
        *error = WSAGetLastError();
        if (*error == WSAEWOULDBLOCK || *error == WSAENOBUFS) {
            *error = 0;
            return 0;
        }
        return -1;
    }
    default: {
        int sent = send(link->s, data, length, 0);
        if (sent == SOCKET_ERROR)
            *error = WSAGetLastError();
        return sent;
    }
    }
}

int ReadSome(Link* link, char* buffer, int size, int* error)
{
    *error = 0;
    switch (contenders[link->who].transport) {
    case VIA_EXPORTS: {
        LONG code = 0;
        LONG got = exports[link->who]._netread((LONG)link->s, buffer, size, &code, link->host);
        *error = code;
        return got;
    }
    case HAND_LOOP:
        if ((*error = HandWait(link->s, NET_WAIT_READ)) != 0)
            return -1;
        [[fallthrough]];  // then one receive, as the plain contender makes it
    default: {
        int got = recv(link->s, buffer, size, 0);
        if (got == SOCKET_ERROR)
            *error = WSAGetLastError();
        return got;
    }
    }
}
