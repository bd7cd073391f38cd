// ravoprobe: checks ravowsok.dll the way a host uses it, for the people who
// deploy it. Command line, help and dispatch; each command lives in its own
// file.
#include "probe.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Which options a command accepts.
enum {
    OPT_DLL = 1 << 0,
    OPT_TIMEOUT = 1 << 1,
    OPT_INTERRUPT = 1 << 2,
    OPT_BIND = 1 << 3,
    OPT_SECONDS = 1 << 4,
    OPT_ONCE = 1 << 5,
    OPT_DELAY = 1 << 6,
    OPT_COUNT = 1 << 7,  // --count, --interval and --quiet
    OPT_HTML = 1 << 8,
    OPT_PCAP = 1 << 9,
};

// The largest values accepted: beyond them a number is refused, not capped
// (MAX_COUNT: probe.h).
enum {
    MAX_TIMEOUT_MS = 86400000,  // one day
    MAX_SECONDS = 86400,
};

// The exit statuses' table (exit_status.h); open and send use them all.
#define STATUS_LINE(status, meaning) "  " NUMBER_TEXT(status) "  " meaning "\n"
#define EXIT_STATUS_TABLE "Exit status:\n" PROBE_EXIT_STATUSES(STATUS_LINE)
// One status's number, for the commands' own help.
#define STATUS(name) NUMBER_TEXT(PROBE_##name)

// How --count summarises the times.
#define STATISTICS_TEXT                                                                 \
    "The summary is min / median / 95th percentile / max, each by nearest rank:\n"      \
    "of the n times sorted, the p-th percentile is the one at rank ceil(p/100 x n),\n"  \
    "so the median is the one at rank ceil(n/2) (with an even count the lower\n"        \
    "middle one, never a mean of two): every figure is a time that was measured.\n"

struct Command {
    const char* name;
    int (*run)(const ProbeOptions*);
    int options;
    int minOperands, maxOperands;  // maxOperands -1: any number
    const char* usage;
    const char* help;
};

static const Command COMMANDS[] = {
    {"settings", CommandSettings, 0, 0, 0, "ravoprobe settings",
     "Shows the settings the module will read on its first _netopen: the profile\n"
     "file (quorvane.ini in the Windows directory), mcHook, mcBlockMode with its\n"
     "name and idle routine, and for mode " NUMBER_TEXT(BLOCK_MODE_USER) " whether mcUserDll loads and exports\n"
     "mcUserFunc (tried here, then unloaded); and from section [Trace] whether the\n"
     "tracing drop-in ravotrace.dll would trace, to which file, and whether that\n"
     "file can be opened. Reads the profile itself, so the module's message box is\n"
     "never shown. Exit status " STATUS(OK) "; " STATUS(FAILED) " when mode " NUMBER_TEXT(BLOCK_MODE_USER)
     " would fail and fall back to\n"
     "pump mode, or tracing is on and its file cannot be opened; " STATUS(USAGE) " bad usage.\n"},
    {"explain", CommandExplain, 0, 1, 1, "ravoprobe explain CODE",
     "Tells what an error code of ravowsok.dll means: the stage its offset names\n"
     "(" NUMBER_TEXT(NET_ERR_STARTUP) " start-up or readiness poll, " NUMBER_TEXT(NET_ERR_SERVICE)
     " service look-up, " NUMBER_TEXT(NET_ERR_HOST) " host look-up,\n"
     NUMBER_TEXT(NET_ERR_SOCKET) " socket creation, " NUMBER_TEXT(NET_ERR_NONBLOCK) " non-blocking switch, "
     NUMBER_TEXT(NET_ERR_SOCKOPT) " socket option; none for\n"
     "connect, bind, send, recv and closesocket), the WinSock error's name and\n"
     "meaning, and every other way the number can be read, most likely first.\n"
     "CODE is decimal (or 0x hexadecimal) and must fit 32 bits. Exit status " STATUS(OK) ", or\n"
     STATUS(USAGE) " for bad usage.\n"},
    {"open", CommandOpen, OPT_DLL | OPT_TIMEOUT | OPT_BIND | OPT_COUNT, 2, 2, "ravoprobe open HOST SERVICE [--bind] [--count N [--interval MS]] [--quiet] [--dll PATH] [--timeout MS]",
     "Opens a connection with _netopen as a host does (SERVICE is a name from the\n"
     "services file, never a port number), shows the socket and the time the call\n"
     "took, then closes it with _netclose. --bind binds instead of connecting\n"
     "(mode " NUMBER_TEXT(NET_OPEN_BIND) "). A failure is explained code by code. --timeout MS (default 3000)\n"
     "bounds the call. The module connects in blocking mode, where no callback\n"
     "runs, so a connect that hangs (nothing answers the address) cannot be ended:\n"
     "MS + " NUMBER_TEXT(WATCHDOG_GRACE_MS) " ms after the call began, the probe names the address and port and\n"
     "ends itself with exit status " STATUS(NO_ANSWER) ". --count N opens and closes N times,\n"
     "--interval MS apart (default 1000), and summarises the _netopen times.\n"
     STATISTICS_TEXT
     "--quiet prints nothing: the exit status answers (like pg_isready).\n"
     EXIT_STATUS_TABLE
     "With --count, the first failed open's status answers for the run.\n"},
    {"send", CommandSend, OPT_DLL | OPT_TIMEOUT | OPT_INTERRUPT | OPT_COUNT, 3, -1,
     "ravoprobe send HOST SERVICE TEXT... [--interrupt-after MS] [--count N [--interval MS]] [--quiet]\n"
     "                 [--dll PATH] [--timeout MS]",
     "Opens a connection, sends the words of TEXT joined by spaces with _netsend,\n"
     "reads back with _netread until as many bytes came back as were sent, the\n"
     "server closes, or --timeout MS (default 3000) passes, and closes. Shows each\n"
     "call's result and time and the wait-callback phases seen (" NUMBER_TEXT(WAIT_PHASE_FIRST) " first idle turn,\n"
     NUMBER_TEXT(WAIT_PHASE_AGAIN) " later turns, " NUMBER_TEXT(WAIT_PHASE_END) " end of the wait). --interrupt-after MS sets interruptRequest\n"
     "once a wait has lasted MS, so the module sends the urgent byte \"B\".\n"
     "The module's wait has no time limit: after the time-out the probe's callback\n"
     "closes the socket, so the wait ends with WSAETIMEDOUT, and releases the\n"
     "socket library with WSACleanup instead of _netclose. A connect that hangs\n"
     "ends the probe as in open. --count N makes up to N round trips on the one\n"
     "connection, --interval MS apart (default 1000), and stops at the first that\n"
     "fails (after a time-out the connection is gone); it reports how many were\n"
     "made and summarises their times.\n"
     STATISTICS_TEXT
     "--quiet prints nothing.\n"
     EXIT_STATUS_TABLE
     "An answer that came back whole counts as answered; one cut short by the\n"
     "server's close is status " STATUS(FAILED) ".\n"
     "send is for echo peers (echo-server): a database server reads TEXT as a\n"
     "malformed request and ends the exchange (status " STATUS(FAILED) "); there, open is the check.\n"},
    {"echo-server", CommandEchoServer, OPT_SECONDS | OPT_ONCE | OPT_DELAY, 1, 1,
     "ravoprobe echo-server SERVICE [--seconds N] [--once] [--delay MS]",
     "A loopback echo peer on 127.0.0.1 at SERVICE's port (from the services file),\n"
     "for trying the module without a database server. Serves one connection at a\n"
     "time, echoes what it receives and prints every urgent byte. Ends after\n"
     "--seconds N (default 30), or when the first client disconnects with --once.\n"
     "--delay MS holds each answer back for MS, or until an urgent byte arrives,\n"
     "so that a client's wait lasts long enough to be interrupted. Exit status " STATUS(OK) ",\n"
     STATUS(FAILED) " when the port cannot be listened on, " STATUS(USAGE) " bad usage.\n"},
    {"version", CommandVersion, OPT_DLL, 0, 0, "ravoprobe version [--dll PATH] (also ravoprobe --version)",
     "Shows the probe's version and source revision, and for the module it loads:\n"
     "full path, size, SHA-256 (compare it with the release's checksum list), the\n"
     "link time stamp, and whether each export stands at its ordinal. The\n"
     "module's start-up routine is not run. For the tracing drop-in the same for\n"
     "the real module beside it, " RAVO_TRACE_REAL_MODULE ". Exit status " STATUS(OK) "; " STATUS(FAILED)
     " when an\n"
     "export is missing or away from its ordinal; " STATUS(USAGE) " bad usage; " STATUS(NO_MODULE)
     " when the module\n"
     "cannot be loaded, or the drop-in's real module is missing or not the module.\n"},
    {"services", CommandServices, 0, 0, 1, "ravoprobe services [NAME]",
     "Shows the services file the module's look-ups read (under Windows and under\n"
     "Wine: WINDIR\\system32\\drivers\\etc\\services) and its tcp entries, or NAME\n"
     "resolved to its port as _netopen resolves it (getservbyname, \"tcp\").\n"
     "Exit status " STATUS(OK) "; " STATUS(FAILED) " when the file cannot be read; " STATUS(USAGE)
     " bad usage; " STATUS(NO_NAME) " when NAME has\n"
     "no tcp entry (as open and send do for an unknown service).\n"},
    {"report", CommandReport, OPT_HTML | OPT_PCAP, 1, 1, "ravoprobe report TRACE [--html FILE | --pcap FILE]",
     "Sums up a trace of the drop-in ravotrace.dll: first an overview of its\n"
     "processes and of every error, close by the server and call that never ended\n"
     "(with its line); then per process and per connection: how long each\n"
     "connection was open; per kind of call its count, bytes and total, median,\n"
     "95th-percentile and longest duration (nearest rank); the ten slowest calls\n"
     "with the stamps of their lines; errors by code with their names and first\n"
     "occurrence; the calls in order, like calls run together (\"649 x _netread,\n"
     "8192-byte buffer, ...\"); and calls that started but never ended, with how\n"
     "long they are known to have waited.\n"
     "--html FILE also writes one self-contained page: a timeline per connection\n"
     "(hover over a bar for its trace line), a histogram of read durations and\n"
     "the same tables. Lines the report cannot read (a line cut short, the older\n"
     "trace format, Stable=1 placeholders, anything else) are named on stderr.\n"
     "Exit status " STATUS(OK) "; " STATUS(FAILED) " when the trace cannot be read, holds nothing to report, or\n"
     "lines were left out (the report covers the rest), or the page cannot be\n"
     "written; " STATUS(USAGE) " bad usage.\n"
     "--pcap FILE instead rebuilds the trace's connections as TCP streams in a\n"
     "pcapng capture for Wireshark or tshark (a trace with Data=1 rows; the rows\n"
     "cut at DataBytes give packets cut as by a snap length) and says what it\n"
     "wrote and what it left out (failed opens, calls that never ended, processes\n"
     "without rows). FILE is replaced only once the whole capture is written.\n"
     "Exit status " STATUS(FAILED) " also when the trace has no rows of bytes or FILE cannot be\n"
     "written (no file is left); lines left out are named as above. --html and\n"
     "--pcap are one report each: " STATUS(USAGE) " when both are given.\n"},
};
enum { COMMAND_COUNT = sizeof COMMANDS / sizeof COMMANDS[0] };

double NowMs(void)
{
    static LARGE_INTEGER frequency, start;
    LARGE_INTEGER now;
    if (!frequency.QuadPart) {
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
    }
    QueryPerformanceCounter(&now);
    return (double)(now.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
}

void PrintQuoted(const char* bytes, int length)
{
    putchar('"');
    for (int i = 0; i < length; i++) {
        unsigned char c = (unsigned char)bytes[i];
        if (c == '"' || c == '\\')
            printf("\\%c", c);
        else if (c >= 32 && c < 127)
            putchar(c);
        else
            printf("\\x%02x", c);
    }
    putchar('"');
}

static void PrintUsage(FILE* out)
{
    fprintf(out, "usage: ravoprobe COMMAND [ARGS] (-h or --help after a command for its details)\n");
    for (int i = 0; i < COMMAND_COUNT; i++)
        fprintf(out, "  %s\n", COMMANDS[i].usage);
    fprintf(out, "ravowsok.dll is loaded from ravoprobe's folder unless --dll PATH names it.\n"
                 EXIT_STATUS_TABLE
                 "(settings and version give " STATUS(FAILED)
                 " for a fault they find; each command's --help tells.)\n");
}

// A whole decimal number from low to high; anything else is refused.
static bool ParseNumber(const char* command, const char* option, const char* text, DWORD low, DWORD high,
                        DWORD* out)
{
    char* end = NULL;
    long long value = text && *text >= '0' && *text <= '9' ? strtoll(text, &end, 10) : -1;
    if (!text || !end || *end != 0 || value < (long long)low || value > (long long)high) {
        fprintf(stderr, "ravoprobe %s: %s needs a whole number from %lu to %lu, got \"%s\"\n", command, option,
                low, high, text ? text : "nothing");
        return false;
    }
    *out = (DWORD)value;
    return true;
}

// Parses the options anywhere after the command; the rest are operands.
// Returns -1 when all is well, else the exit status.
static int ParseOptions(const Command* c, int argc, char** argv, ProbeOptions* o)
{
    memset(o, 0, sizeof *o);
    o->timeoutMs = 3000;
    o->interruptAfterMs = -1;
    o->seconds = 30;
    o->count = 1;
    o->intervalMs = 1000;
    o->argv = (char**)calloc(argc + 1, sizeof(char*));
    bool operandsOnly = false;
    for (int i = 0; i < argc; i++) {
        const char* a = argv[i];
        if (operandsOnly || a[0] != '-' || a[1] != '-') {
            o->argv[o->argc++] = argv[i];
            continue;
        }
        const char* next = i + 1 < argc ? argv[i + 1] : NULL;
        DWORD number;
        if (strcmp(a, "--") == 0) {
            operandsOnly = true;
        } else if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            printf("usage: %s\n%s", c->usage, c->help);
            return PROBE_OK;
        } else if (strcmp(a, "--dll") == 0 && (c->options & OPT_DLL) && next) {
            o->dllPath = next;
            i++;
        } else if (strcmp(a, "--timeout") == 0 && (c->options & OPT_TIMEOUT)) {
            if (!ParseNumber(c->name, a, next, 0, MAX_TIMEOUT_MS, &o->timeoutMs))
                return PROBE_USAGE;
            i++;
        } else if (strcmp(a, "--interrupt-after") == 0 && (c->options & OPT_INTERRUPT)) {
            if (!ParseNumber(c->name, a, next, 0, MAX_TIMEOUT_MS, &number))
                return PROBE_USAGE;
            o->interruptAfterMs = (LONG)number;
            i++;
        } else if (strcmp(a, "--bind") == 0 && (c->options & OPT_BIND)) {
            o->bind = true;
        } else if (strcmp(a, "--seconds") == 0 && (c->options & OPT_SECONDS)) {
            if (!ParseNumber(c->name, a, next, 0, MAX_SECONDS, &o->seconds))
                return PROBE_USAGE;
            i++;
        } else if (strcmp(a, "--once") == 0 && (c->options & OPT_ONCE)) {
            o->once = true;
        } else if (strcmp(a, "--delay") == 0 && (c->options & OPT_DELAY)) {
            if (!ParseNumber(c->name, a, next, 0, MAX_TIMEOUT_MS, &o->delayMs))
                return PROBE_USAGE;
            i++;
        } else if (strcmp(a, "--count") == 0 && (c->options & OPT_COUNT)) {
            if (!ParseNumber(c->name, a, next, 1, MAX_COUNT, &o->count))
                return PROBE_USAGE;
            i++;
        } else if (strcmp(a, "--interval") == 0 && (c->options & OPT_COUNT)) {
            if (!ParseNumber(c->name, a, next, 0, MAX_TIMEOUT_MS, &o->intervalMs))
                return PROBE_USAGE;
            i++;
        } else if (strcmp(a, "--html") == 0 && (c->options & OPT_HTML) && next) {
            o->htmlPath = next;
            i++;
        } else if (strcmp(a, "--pcap") == 0 && (c->options & OPT_PCAP) && next) {
            o->pcapPath = next;
            i++;
        } else if (strcmp(a, "--quiet") == 0 && (c->options & OPT_COUNT)) {
            o->quiet = true;
        } else {
            fprintf(stderr, "ravoprobe %s: unknown option or missing value: %s\nusage: %s\n", c->name, a,
                    c->usage);
            return PROBE_USAGE;
        }
    }
    if (o->argc < c->minOperands || (c->maxOperands >= 0 && o->argc > c->maxOperands)) {
        fprintf(stderr, "ravoprobe %s: wrong number of operands (%d)\nusage: %s\n", c->name, o->argc, c->usage);
        return PROBE_USAGE;
    }
    return -1;
}

int main(int argc, char** argv)
{
    // Unbuffered, so that a reader on a pipe sees each line when it is printed.
    setvbuf(stdout, NULL, _IONBF, 0);
    setvbuf(stderr, NULL, _IONBF, 0);
    NowMs();
    if (argc < 2) {
        PrintUsage(stderr);
        return PROBE_USAGE;
    }
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "help") == 0) {
        PrintUsage(stdout);
        return PROBE_OK;
    }
    if (strcmp(argv[1], "--version") == 0)
        argv[1] = (char*)"version";
    for (int i = 0; i < COMMAND_COUNT; i++) {
        if (strcmp(argv[1], COMMANDS[i].name) != 0)
            continue;
        ProbeOptions o;
        int status = ParseOptions(&COMMANDS[i], argc - 2, argv + 2, &o);
        if (status >= 0)
            return status;
        // Quiet: the exit status alone answers; usage errors above still show.
        if (o.quiet && !freopen("NUL", "w", stdout))
            fclose(stdout);
        return COMMANDS[i].run(&o);
    }
    fprintf(stderr, "ravoprobe: unknown command \"%s\"\n", argv[1]);
    PrintUsage(stderr);
    return PROBE_USAGE;
}
