// ravoprobe explain: what an error code of ravowsok.dll means. A code is a
// WinSock error plus the offset of the stage that failed, a bare WinSock
// error, or the host's own wait-callback end value; one number can fit more
// than one of these, so every fitting reading is listed, most likely first.
#include "probe.h"
#include "winsock_errors.h"
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

struct Stage {
    int bit;
    int from;                // the exports in which the call is made
    LONG offset;             // -1: reported bare
    const char* offsetName;  // NULL for bare errors
    const char* what;
    const char* where;
};

// A stage's offset and the name the public header gives it.
#define OFFSET(name) name, #name

static const Stage STAGES[] = {
    {AT_STARTUP, FROM_OPEN, OFFSET(NET_ERR_STARTUP), "socket library start-up failed", "WSAStartup in _netopen"},
    {AT_SELECT, FROM_SEND | FROM_READ, OFFSET(NET_ERR_SELECT), "readiness poll failed", "select in the wait of _netsend or _netread"},
    {AT_SERVICE, FROM_OPEN, OFFSET(NET_ERR_SERVICE), "service look-up failed", "getservbyname(SERVICE, \"tcp\") in _netopen"},
    {AT_HOST, FROM_OPEN, OFFSET(NET_ERR_HOST), "host look-up failed", "gethostbyname(HOST) in _netopen"},
    {AT_SOCKET, FROM_OPEN, OFFSET(NET_ERR_SOCKET), "socket creation failed", "socket in _netopen"},
    {AT_NONBLOCK, FROM_OPEN, OFFSET(NET_ERR_NONBLOCK), "switch to non-blocking mode failed", "ioctlsocket(FIONBIO) in _netopen"},
    {AT_SOCKOPT, FROM_OPEN, OFFSET(NET_ERR_SOCKOPT), "socket option SO_DEBUG refused", "setsockopt in _netopen"},
    {AT_CONNECT, FROM_OPEN, -1, NULL, "", "connect in _netopen"},
    {AT_BIND, FROM_OPEN, -1, NULL, "", "bind in _netopen (--bind, mode " NUMBER_TEXT(NET_OPEN_BIND) ")"},
    {AT_SEND, FROM_SEND, -1, NULL, "", "send in _netsend"},
    {AT_RECV, FROM_READ, -1, NULL, "", "recv in _netread"},
    {AT_CLOSE, FROM_CLOSE, -1, NULL, "", "closesocket in _netclose (its result)"},
};
enum { STAGE_COUNT = sizeof STAGES / sizeof STAGES[0] };

// One way to read the number: a stage with its error, or the bare error of
// the calls that report it without an offset. The host's callback value is
// a further reading, printed apart.
struct Reading {
    const Stage* stage;  // NULL: bare error
    const WinsockError* error;
    bool usual;  // the call(s) usually report this error
};

enum { MAX_READINGS = STAGE_COUNT + 1 };

// What an administrator can check for the stages that depend on names.
static const char* StageHint(int bit)
{
    if (bit == AT_SERVICE)
        return "SERVICE must be a tcp entry of the services file, WINDIR\\system32\\drivers\\etc\\services\n"
               "      (a port number is not looked up as one); ravoprobe services lists its entries";
    if (bit == AT_HOST)
        return "HOST must resolve through the hosts file or the name server";
    return NULL;
}

static void PrintError(const WinsockError* e, const char* indent)
{
    printf("%s   %ld %s: %s\n", indent, e->code, e->name, e->meaning);
}

// Lists the calls without offset (among those of `from`) that report the
// error; only those that usually do when the reading is a usual one.
static void PrintBareCalls(const WinsockError* e, bool usual, int from, const char* indent)
{
    printf("%s   from: ", indent);
    const char* sep = "";
    for (int i = 0; i < STAGE_COUNT; i++) {
        const Stage* st = &STAGES[i];
        if (st->offset >= 0 || !(st->from & from) || (usual && !(e->usualAt & st->bit)))
            continue;
        printf("%s%s", sep, st->where);
        sep = ", or ";
    }
    printf(usual ? "\n" : " (which rarely report it)\n");
}

static void PrintCallback(LONG code, int number, const char* indent)
{
    printf("%s%d. the host's own value: its wait callback returned %ld at the end of a wait (phase %d);\n"
           "%s   _netsend and _netread report any end value above %d as their error code\n",
           indent, number, code, WAIT_PHASE_END, indent, WAIT_RESULT_ERROR_ABOVE);
}

static void PrintReading(const Reading* r, int number, int from, const char* indent)
{
    if (r->stage) {
        printf("%s%d. %s: %s (error + %ld, %s)%s\n", indent, number, r->stage->what, r->stage->where,
               r->stage->offset, r->stage->offsetName, r->usual ? "" : "; unusual for this call");
        PrintError(r->error, indent);
        const char* hint = StageHint(r->stage->bit);
        if (hint)
            printf("%s   %s\n", indent, hint);
    } else {
        printf("%s%d. bare WinSock error, no stage offset%s\n", indent, number,
               r->usual ? "" : "; unusual for the calls that report errors bare");
        PrintError(r->error, indent);
        PrintBareCalls(r->error, r->usual, from, indent);
    }
}

// Fills readings (usual ones first, in stage order) and returns how many.
static int CollectReadings(LONG code, int from, Reading* out, int* usualCount)
{
    Reading usual[MAX_READINGS], unusual[MAX_READINGS];
    int nu = 0, nx = 0;
    for (int i = 0; i < STAGE_COUNT; i++) {
        if (STAGES[i].offset < 0 || !(STAGES[i].from & from))
            continue;
        const WinsockError* e = FindWinsockError(code - STAGES[i].offset);
        if (!e)
            continue;
        Reading r = {&STAGES[i], e, (e->usualAt & STAGES[i].bit) != 0};
        if (r.usual)
            usual[nu++] = r;
        else
            unusual[nx++] = r;
    }
    int bareCalls = 0;
    for (int i = 0; i < STAGE_COUNT; i++)
        if (STAGES[i].offset < 0 && (STAGES[i].from & from))
            bareCalls |= STAGES[i].bit;
    const WinsockError* bare = bareCalls ? FindWinsockError(code) : NULL;
    if (bare) {
        Reading r = {NULL, bare, (bare->usualAt & bareCalls) != 0};
        if (r.usual)
            usual[nu++] = r;
        else
            unusual[nx++] = r;
    }
    for (int i = 0; i < nu; i++)
        out[i] = usual[i];
    for (int i = 0; i < nx; i++)
        out[nu + i] = unusual[i];
    *usualCount = nu;
    return nu + nx;
}

int ExplainCode(LONG code, int from, const char* indent)
{
    if (code == 0) {
        printf("%s0: no error (_netsend and _netread write 0 when they succeed)\n", indent);
        return 0;
    }
    if (code == -1) {
        printf("%s-1 is not an error code: it is the result of a failed _netopen, _netsend or _netread\n"
               "%s(their code is in the error-code argument), or the result of _netclose when WSACleanup\n"
               "%sfailed after the socket was closed\n",
               indent, indent, indent);
        return 0;
    }
    if (code <= WAIT_RESULT_ERROR_ABOVE) {
        printf("%s%ld is not an error code of the module: a wait result of %d or less lets the call go on\n"
               "%s(1 means ready), so neither the module nor a host callback can report it\n",
               indent, code, WAIT_RESULT_ERROR_ABOVE, indent);
        return 0;
    }

    Reading readings[MAX_READINGS];
    int usualCount;
    int count = CollectReadings(code, from, readings, &usualCount);
    // Only a wait ends with the host's value, and only _netsend and _netread
    // wait; the caller may know that this wait's end was not that value.
    bool callback = (from & (FROM_SEND | FROM_READ)) != 0 && !(from & NOT_FROM_CALLBACK);
    int total = count + (callback ? 1 : 0);
    if (total == 0) {
        printf("%s%ld: no reading: this call gives no such code\n", indent, code);
        return 0;
    }
    if (count == 0) {
        printf("%s%ld: no stage of the module gives this number (no WinSock error, bare or plus\n"
               "%sa stage offset of %d, %d, %d, %d, %d or %d), so it is most likely:\n",
               indent, code, indent, NET_ERR_STARTUP, NET_ERR_SERVICE, NET_ERR_HOST, NET_ERR_SOCKET,
               NET_ERR_NONBLOCK, NET_ERR_SOCKOPT);
        PrintCallback(code, 1, indent);
        return 0;
    }
    if (total == 1)
        printf("%s%ld: one reading\n", indent, code);
    else
        printf("%s%ld: %d readings, most likely first\n", indent, code, total);
    int number = 1;
    for (int i = 0; i < usualCount; i++)
        PrintReading(&readings[i], number++, from, indent);
    if (callback)
        PrintCallback(code, number++, indent);
    for (int i = usualCount; i < count; i++)
        PrintReading(&readings[i], number++, from, indent);
    if (code == PROBE_TIMEOUT_END && callback)
        printf("%s   (ravoprobe's own wait callback ends a wait it gave up on with %d, %s)\n", indent,
               PROBE_TIMEOUT_END, WinsockErrorName(PROBE_TIMEOUT_END));
    return count;
}

int CommandExplain(const ProbeOptions* o)
{
    if (o->argc != 1) {
        fprintf(stderr, "ravoprobe explain: expected one CODE, got %d operands (see ravoprobe explain --help)\n",
                o->argc);
        return PROBE_USAGE;
    }
    char* end;
    errno = 0;
    long long code = strtoll(o->argv[0], &end, 0);
    if (*o->argv[0] == 0 || *end != 0 || errno != 0 || code < -2147483647LL - 1 || code > 2147483647LL) {
        fprintf(stderr, "ravoprobe explain: CODE must be a number that fits 32 bits (-2147483648 to 2147483647),\n"
                "got \"%s\"\n", o->argv[0]);
        return PROBE_USAGE;
    }
    ExplainCode((LONG)code, FROM_ANY, "");
    return PROBE_OK;
}
