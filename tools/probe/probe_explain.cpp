// ravoprobe explain: what an error code of ravowsok.dll means. A code is a
// WinSock error plus the offset of the stage that failed, a bare WinSock
// error, or the host's own wait-callback end value; one number can fit more
// than one of these, so every fitting reading is listed, most likely first.
#include "probe.h"
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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
        if (st->offset >= 0 || !(st->from & from) || (usual && !(e->usualAt & st->call)))
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

static void PrintReading(const CodeReading* r, int number, int from, const char* indent)
{
    if (r->stage) {
        // Without a call named (explain CODE), "this call" would be none.
        printf("%s%d. %s: %s (error + %ld, %s)%s\n", indent, number, r->stage->what, r->stage->where,
               r->stage->offset, r->stage->offsetName,
               r->usual ? "" : from == FROM_ANY ? "; unusual at this stage" : "; unusual for this call");
        PrintError(r->error, indent);
        for (const char* line = r->stage->hint; line && *line;) {
            int length = (int)strcspn(line, "\n");
            printf("%s   %.*s\n", indent, length, line);
            line += length + (line[length] == '\n');
        }
    } else {
        printf("%s%d. bare WinSock error, no stage offset%s\n", indent, number,
               r->usual ? "" : "; unusual for the calls that report errors bare");
        PrintError(r->error, indent);
        PrintBareCalls(r->error, r->usual, from, indent);
    }
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

    CodeReading readings[MAX_READINGS];
    int count = ReadCode(code, from, readings), usualCount = 0;
    while (usualCount < count && readings[usualCount].usual)
        usualCount++;
    // Only a wait ends with the host's value, and only _netsend and _netread
    // wait; the caller may know that this wait's end was not that value.
    bool callback = (from & FROM_DATA_CALL) != 0 && !(from & NOT_FROM_CALLBACK);
    int total = count + (callback ? 1 : 0);
    if (total == 0) {
        printf("%s%ld: no reading: this call gives no such code\n", indent, code);
        return 0;
    }
    if (count == 0) {
        printf("%s%ld: no stage of the module gives this number (no WinSock error, bare or plus\n"
               "%sa stage's offset), so it is most likely:\n", indent, code, indent);
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
