// The trace's line format, declared once: the tracing drop-in writes every
// line with the phrases and printers below (trace_write.cpp, no C runtime),
// ravoprobe report reads the lines back with the same phrases into the same
// records (trace_read.cpp). Every printer takes the stable form (Stable=1)
// as an argument and then writes a placeholder for what changes from run to
// run.
#pragma once
#include <windows.h>

#include "stages.h"

// Each line begins with a stamp, "2026-12-09 05:31:02.010 pid 268 tid 272
// +10.000 ": the local date and time, the process and thread ids, the
// milliseconds since the drop-in was loaded. Then one of:
//   "--- trace of HOST through MODULE[, which cannot be used: WHY; _netopen
//   fails with code N NAME]"             the process's first line
//   "> NAME(ARGS)"                       a call that can block begins
//   "< NAME(ARGS) = RESULT[ (WORDS)], PART, ..."
//                                        it ended; a call that cannot block
//                                        has this line alone, without "< "
//   "summary of socket S: open D ms; N sends, B bytes out; N reads, B bytes
//   in; waited D ms in all[, longest D ms (_netread at hh:mm:ss.mmm)]"
//                                        after _netclose, what it did
//   "--- tracing stopped: the trace file reached MaxSizeMB=N"
//                                        the last line
// and after an end line with Data=1, unstamped, the rows of its bytes:
//   "    out 0010  53 45 ...  SE..."     up to 16 bytes, the offset in 4 hex
//                                        digits (8 past 64 KiB)
//   "    ... N more bytes not shown (DataBytes=M)"
#define TRACE_PID " pid "
#define TRACE_TID " tid "
#define TRACE_SINCE_LOAD " +"
#define TRACE_HEADER "--- trace of "
#define TRACE_THROUGH " through "
#define TRACE_UNUSABLE ", which cannot be used: "
#define TRACE_STOPPED "--- tracing stopped: the trace file reached "
#define TRACE_START "> "
#define TRACE_END "< "
#define TRACE_RESULT ") = "
#define TRACE_NEXT ", "
// The parts after the result, each when it applies, in this order: the
// code ("code N NAME", "code N (the callback's end value)"), where _netopen
// went ("connected to A.B.C.D:P from A.B.C.D:P", the peer and then the
// host's own end, which traces of earlier releases leave out; "bound to
// ...", or failing "to ...", "to port P"), the duration ("M.MMM ms"), the wait ("wait: N turns (first F,
// again A, L left to the module)", "end: carry on", "end: fail with code
// N", "callback replaced by the host", "urgent byte sent").
#define TRACE_CODE "code "
#define TRACE_CALLBACK_END "(the callback's end value)"
#define TRACE_CONNECTED "connected to "
#define TRACE_FROM " from "
#define TRACE_BOUND "bound to "
#define TRACE_TO "to "
#define TRACE_TO_PORT "to port "
#define TRACE_MS " ms"
#define TRACE_WAIT "wait: "
#define TRACE_WAIT_END "end: "
#define TRACE_REPLACED "callback replaced by the host"
#define TRACE_URGENT "urgent byte sent"
// The arguments: _netopen's "\"HOST\", \"SERVICE\", mode M", the data
// calls' "S, N bytes" (_netread: "S, up to N bytes"), _netclose's "S".
#define TRACE_MODE "mode "
#define TRACE_UP_TO "up to "
#define TRACE_BYTES " bytes"
#define TRACE_SUMMARY "summary of socket "
#define TRACE_SUMMARY_OPEN ": open "
#define TRACE_SUMMARY_SEND "send"  // "s" follows but for a count of 1, as after " byte"
#define TRACE_SUMMARY_READ "read"
#define TRACE_SUMMARY_BYTE " byte"
#define TRACE_SUMMARY_OUT " out"
#define TRACE_SUMMARY_IN " in"
#define TRACE_SUMMARY_WAITED "; waited "
#define TRACE_SUMMARY_IN_ALL " in all"
#define TRACE_SUMMARY_LONGEST ", longest "
#define TRACE_ROW_OUT "    out "
#define TRACE_ROW_IN "    in  "
#define TRACE_ROWS_CUT "    ... "
#define TRACE_ROWS_NOT_SHOWN " more bytes not shown ("
enum { TRACE_ROW_BYTES = 16 };
// The stable form's placeholders.
#define TRACE_STABLE_STAMP "YYYY-MM-DD hh:mm:ss.mmm pid P tid T +MS "
#define TRACE_STABLE_CLOCK "hh:mm:ss.mmm"
#define TRACE_STABLE_MS "D"
#define TRACE_STABLE_NUMBER "N"  // a count of wait turns
#define TRACE_STABLE_SOCKET "S"
#define TRACE_STABLE_PATH "PATH"
#define TRACE_STABLE_ADDRESS "A.B.C.D"
#define TRACE_STABLE_PORT "PORT"

// --- The records a line is written from and read into ---------------------
struct TraceStamp {
    SYSTEMTIME at;  // local time
    DWORD pid, tid;
    double sinceLoadMs;
};

struct TraceSummary {  // what a connection did
    LONG socket;
    double openMs;
    LONG sends, reads;
    LONGLONG bytesOut, bytesIn;
    double waitedMs, longestMs;  // in sends and reads
    bool longestSending;
    SYSTEMTIME longestAt;        // when the longest began (not read back)
};

// --- Writing (trace_write.cpp): wsprintfA only, no C runtime ---------------
// One line, formatted piece by piece; with Data=1 the rows of its bytes
// follow it in one buffer, so that the whole is one write.
enum { LINE_LIMIT = 1024 };
struct TraceLine {
    char text[2 * LINE_LIMIT];  // wvsprintfA writes up to 1,024 characters per piece
    int length;
};
void AppendText(TraceLine* line, const char* format, ...);
void AppendStamp(TraceLine* line, const TraceStamp* s, bool stable);
// "M.MMM": milliseconds with three decimals (below 0: 0); "M.MMM ms".
void AppendMs(TraceLine* line, double ms);
void AppendDuration(TraceLine* line, double ms, bool stable);
// "hh:mm:ss.mmm".
void AppendClock(TraceLine* line, const SYSTEMTIME* t, bool stable);
// A number that the stable form replaces with placeholder (a socket, a
// count of turns, a port).
void AppendNumber(TraceLine* line, LONG n, const char* placeholder, bool stable);
// "A.B.C.D" (and ":P" when port is not 0).
void AppendAddress(TraceLine* line, const BYTE address[4], unsigned port, bool stable);
// ", connected to A.B.C.D:P from A.B.C.D:P": the peer, then the host's own
// end (local NULL: not known, and left out).
void AppendConnected(TraceLine* line, const BYTE peer[4], unsigned peerPort, const BYTE* local, unsigned localPort,
                     bool stable);
// "code N NAME": from is the export that reported it (stages.h); the name
// is the reading ravoprobe explain lists first, with the stage's offset.
void AppendCode(TraceLine* line, LONG code, CodeSource from);
// A call's arguments as both of its lines show them (TRACE_ARGS_SIZE at
// most): _netopen's, a data call's, the socket alone (_netclose's).
enum { TRACE_ARGS_SIZE = 480 };
void OpenArgs(char* out, const char* host, const char* service, long mode);
void DataArgs(char* out, LONG socket, LONG length, bool sending, bool stable);
int SocketArgs(char* out, LONG socket, bool stable);
// "> NAME(ARGS)"; "< NAME(ARGS) = " (hadStart false: without "< "), the
// result to follow.
void AppendCallStart(TraceLine* line, const char* name, const char* args);
void AppendCallEnd(TraceLine* line, bool hadStart, const char* name, const char* args);
// The process's first line after its stamp; problem: why the real module
// cannot be used, or empty.
void AppendHeader(TraceLine* line, const char* host, const char* module, const char* problem, bool stable);
void AppendStopped(TraceLine* line, LONG maxSizeMB);  // CR LF included
void AppendSummary(TraceLine* line, const TraceSummary* s, bool stable);
// The rows of count bytes that went out or came in, at most dataBytes of
// them: the room they need, and writing them at buffer + at (returns the
// new end).
int RowsSize(LONG count, LONG dataBytes);
int AppendRows(char* buffer, int at, bool out, const BYTE* bytes, LONG count, LONG dataBytes);

// --- Reading (trace_read.cpp): for ravoprobe report, with the C runtime ------
enum TraceLineKind {
    TRACE_LINE_EMPTY,     // nothing (the older dump writer's spacing)
    TRACE_LINE_ROW,       // a row of bytes: row
    TRACE_LINE_ROWS_CUT,  // the bytes not shown: row.notShown
    TRACE_LINE_HEADER,    // stamp, body: "--- trace of HOST through MODULE..."
    TRACE_LINE_STOPPED,   // stamp, body
    TRACE_LINE_START,     // stamp, call (without its outcome)
    TRACE_LINE_END,       // stamp, call
    TRACE_LINE_SUMMARY,   // stamp, summary
    TRACE_LINE_STABLE,    // written with Stable=1: placeholders, no times
    TRACE_LINE_OLDER,     // the format of earlier releases
    TRACE_LINE_UNKNOWN,   // none of these, or not read whole as its kind
};

// A call's start or end line; the texts point into the line.
struct TraceCallRead {
    int kind;                  // place in RAVO_EXPORT_LIST
    const char* call;          // "NAME(ARGS)"
    int callLength;
    bool hadStart;             // an end line after "< "
    long socket, asked;        // a data call's socket and length, _netclose's socket; -1: none
    const char* host;          // _netopen's host and service, inside their quotes
    int hostLength;
    const char* service;
    int serviceLength;
    long result, code;         // an end line's; code 0: none
    const char* codeName;      // "WSAECONNRESET", "(the callback's end value)"
    int codeNameLength;
    const char* peer;          // "connected to A.B.C.D:P" and the like, or NULL
    int peerLength;
    bool connected;            // "connected to": peerAddress and peerPort hold where
    BYTE peerAddress[4], localAddress[4];
    unsigned peerPort, localPort;  // localPort 0: the host's own end is not written (earlier releases)
    double durationMs;
    const char* duration;      // "10.000 ms", as written
    const char* wait;          // "wait: ..." and what follows, or NULL
};

struct TraceRowRead {
    bool out;
    long offset;
    int count;                 // bytes in the row
    unsigned char bytes[TRACE_ROW_BYTES];
    long notShown;             // TRACE_LINE_ROWS_CUT: the bytes left out
};

struct TraceLineRead {
    TraceLineKind kind;
    TraceStamp stamp;
    double wallMs;             // the stamp's local time, in ms since 1970-01-01
    const char* body;          // after the stamp
    TraceCallRead call;
    TraceSummary summary;
    TraceRowRead row;
};

// 1970-01-01 in FILETIME's 100 ns units.
#define FILETIME_1970 116444736000000000ULL
// Reads one line (without its line end). A line that does not read whole
// as its kind is TRACE_LINE_UNKNOWN, so a writer and a reader that disagree
// show as lines left out.
TraceLineKind ReadTraceLine(const char* line, TraceLineRead* r);
// The export of "NAME(...", or -1.
int TraceCallKind(const char* call);
