// The contenders' connections and their one send and one receive: the
// module's exports (alone, through the tracing drop-in, or a copy of the
// module idling with ravoidle.dll), the hand-written floor, and plain
// blocking calls.
#include "bench.h"
#include "buildpath.h"
#include "exports.h"
#include "loopback.h"
#include <stdio.h>
#include <string.h>

const char* const contenderName[CONTENDER_COUNT] = {"module", "hand loop", "plain", "ravotrace", "ravoidle"};

static HMODULE module, dropIn, idleCopy;
static RavoExports ravo, traced, idled;

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

bool LoadModule(void)
{
    module = LoadExports(BuildPath("ravowsok.dll"), &ravo);
    dropIn = LoadExports(BuildPath("viatrace\\ravowsok.dll"), &traced);
    // Two libraries named ravowsok.dll, from two folders: both must be in.
    if (module && dropIn && (dropIn == module || traced.nettype() != 2 || !GetModuleHandleA(RAVO_TRACE_REAL_MODULE))) {
        printf("build\\viatrace\\ravowsok.dll is not the drop-in in front of %s\n", RAVO_TRACE_REAL_MODULE);
        return false;
    }
    // A third library named ravowsok.dll, with settings of its own.
    idleCopy = module && dropIn && CheckIdleRoutine() ? LoadExports(BuildPath("viaidle\\ravowsok.dll"), &idled) : NULL;
    if (idleCopy && (idleCopy == module || idleCopy == dropIn)) {
        printf("build\\viaidle\\ravowsok.dll is not a copy of the module of its own\n");
        return false;
    }
    return module && dropIn && idleCopy;
}

bool CallsModule(Contender who)
{
    return who == MODULE || who == VIA_TRACE || who == IDLE_ROUTINE;
}

void UnloadModule(void)
{
    if (idleCopy)
        FreeLibrary(idleCopy);
    if (dropIn)
        FreeLibrary(dropIn);
    if (module)
        FreeLibrary(module);
    module = dropIn = idleCopy = NULL;
}

// The exports a module contender calls.
static const RavoExports* ExportsOf(const Link* link)
{
    return link->who == VIA_TRACE ? &traced : link->who == IDLE_ROUTINE ? &idled : &ravo;
}

bool OpenLink(Link* link, Contender who, const char* service, u_short port)
{
    memset(link, 0, sizeof *link);
    link->who = who;
    if (CallsModule(who)) {
        LONG error = 0;
        // The copy reads its settings on its first _netopen: block mode 3.
        if (who == IDLE_ROUTINE)
            UseIdleRoutineProfile();
        LONG s = ExportsOf(link)->netopen("127.0.0.1", service, 0, 0, &error, 0, link->host);
        if (who == IDLE_ROUTINE)
            RestoreProfile();
        if (s == -1) {
            printf("_netopen(127.0.0.1, %s): expected a socket, seen -1 with error code %ld\n", service, error);
            return false;
        }
        link->s = (SOCKET)s;
        return true;
    }
    link->s = ConnectLoopback(port);
    if (link->s == INVALID_SOCKET) {
        printf("%s: connect to 127.0.0.1:%u failed: WSA error %d\n", contenderName[who], port, WSAGetLastError());
        return false;
    }
    if (who == HAND_LOOP) {
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
    if (CallsModule(link->who))
        ExportsOf(link)->netclose((LONG)link->s, 0);
    else
        closesocket(link->s);
    link->s = INVALID_SOCKET;
}

int SendSome(Link* link, const char* data, int length, int* error)
{
    *error = 0;
    switch (link->who) {
    case MODULE:
    case VIA_TRACE:
    case IDLE_ROUTINE: {
        LONG code = 0;
        LONG sent = ExportsOf(link)->netsend((LONG)link->s, data, length, &code, link->host);
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
    switch (link->who) {
    case MODULE:
    case VIA_TRACE:
    case IDLE_ROUTINE: {
        LONG code = 0;
        LONG got = ExportsOf(link)->netread((LONG)link->s, buffer, size, &code, link->host);
        *error = code;
        return got;
    }
    case HAND_LOOP: {
        if ((*error = HandWait(link->s, NET_WAIT_READ)) != 0)
            return -1;
        int got = recv(link->s, buffer, size, 0);
        if (got == SOCKET_ERROR)
            *error = WSAGetLastError();
        return got;
    }
    default: {
        int got = recv(link->s, buffer, size, 0);
        if (got == SOCKET_ERROR)
            *error = WSAGetLastError();
        return got;
    }
    }
}
