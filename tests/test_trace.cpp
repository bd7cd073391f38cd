// The tracing drop-in build/viatrace/ravowsok.dll in front of the module, as
// an administrator installs it: the trace's lines (start and end, stamps,
// where _netopen went, the bytes, the summary), a start line that shows
// while its call still waits, the size limit, an unusable trace file, the
// drop-in without its module, and its own size.
#include "check.h"
#include "intercept.h"
#include "outcome.h"
#include "workfolder.h"
#include <stdio.h>
#include <string.h>

static const char SERVICE[] = "ravotest3";

enum { PEER_MS = 5000, DROP_IN_LIMIT = 32768 };

// Sets one key of [Trace] (NULL: removes it).
static void SetTraceKey(const char* key, const char* value)
{
    WritePrivateProfileStringA(RAVO_TRACE_SECTION, key, value, RAVO_PROFILE_FILE);
}

static int CountOf(const std::string& text, const std::string& piece)
{
    int n = 0;
    for (size_t at = 0; (at = text.find(piece, at)) != std::string::npos; at += piece.size())
        n++;
    return n;
}

static Session* traced;

// Asks for the urgent byte on the first idle turn, for the reply on the next.
static LONG __stdcall UrgentThenReply(LONG phase)
{
    if (phase == WAIT_PHASE_FIRST)
        SetConnField(&traced->conn, CONN_INTERRUPT_REQUEST, 1);
    else if (phase == WAIT_PHASE_AGAIN)
        SetEvent(traced->peer.go);
    return phase != WAIT_PHASE_END;
}

// Through the drop-in, tracing into traceFile with one more [Trace] key
// (NULL: none): a send, a read that waits, a failing read and the close.
// Returns the socket.
static LONG TracedSession(const char* traceFile, const char* key = NULL, const char* value = NULL)
{
    bool wasViaTrace = UseTrace(true, traceFile);
    if (key)
        SetTraceKey(key, value);
    Session t;
    traced = &t;
    LONG s = OpenSession(&t, SERVICE, PEER_REPLY_ON_EVENT, "pong") ? t.s : -1;
    if (s != -1) {
        CallOutcome o = SendOnSession(&t, "ping!", 5);
        CHECK(o.result == 5 && o.error == 0, "send: expected 5 and error 0, seen %ld and %ld", o.result, o.error);
        SetConnCallback(&t.conn, UrgentThenReply);
        char got[16];
        o = ReadOnSession(&t, got, 2);  // "ng" stays readable for the failing read
        CHECK(o.result == 2 && o.error == 0 && WaitPeerUrgent(&t.peer, 1, PEER_MS),
              "read: expected 2 and error 0 after the urgent byte, seen %ld and %ld", o.result, o.error);
        CHECK_EQ((LONG)UrgentThenReply, ConnField(&t.conn, CONN_WAIT_CALLBACK), "the host's callback after the read");
        InjectFailure("recv", 1, SOCKET_ERROR, WSAECONNRESET);
        o = ReadOnSession(&t, got, sizeof got);
        CHECK(o.result == -1 && o.error == WSAECONNRESET && GetLastError() == WSAECONNRESET,
              "failing read: expected -1, code and last error 10054, seen %ld and %ld", o.result, o.error);
        CloseSession(&t);
    }
    if (key)
        SetTraceKey(key, NULL);
    UseTrace(wasViaTrace, NULL);
    return s;
}

TEST_CASE(drop_in_stays_within_32_kib)
{
    std::string bytes;
    if (CHECK(ReadWholeFile(BuildPath("viatrace\\ravowsok.dll"), &bytes), "cannot read the drop-in"))
        CHECK(bytes.size() <= DROP_IN_LIMIT, "the drop-in is %u bytes, more than 32 KiB", (unsigned)bytes.size());
}

// Every line stamped with the date, time, this process and thread; start
// and end lines; the peer's address and the host's own; the bytes by way,
// cut at DataBytes (a value that is no count falls back to the default,
// which shows all five); the summary.
TEST_CASE(trace_has_stamped_start_and_end_lines_the_address_the_bytes_and_a_summary)
{
    struct {
        const char* dataBytes;
        std::string sendRows;
    } const cases[] = {
        {"3", "    out 0000  70 69 6e" + std::string(41, ' ') + "pin\r\n    ... 2 more bytes not shown (DataBytes=3)\r\n"},
        {"-1", "    out 0000  70 69 6e 67 21" + std::string(35, ' ') + "ping!\r\n2"},
    };
    for (const auto& c : cases) {
        std::string path = BuildPath("test_trace-lines.trace"), text;
        DeleteFileA(path.c_str());
        std::string n = std::to_string(TracedSession(path.c_str(), RAVO_KEY_TRACE_DATA_BYTES, c.dataBytes));
        std::string port = std::to_string(ServicePort(SERVICE));
        ReadWholeFile(path.c_str(), &text);
        const std::string pieces[] = {
            "> _netopen(\"127.0.0.1\", \"ravotest3\", mode 0)\r\n",
            "< _netopen(\"127.0.0.1\", \"ravotest3\", mode 0) = " + n + ", connected to 127.0.0.1:" + port + " from 127.0.0.1:",
            "> _netsend(" + n + ", 5 bytes)\r\n", "< _netsend(" + n + ", 5 bytes) = 5, ", c.sendRows,
            "> _netread(" + n + ", up to 2 bytes)\r\n", "< _netread(" + n + ", up to 2 bytes) = 2, ",
            " left to the module), end: carry on, urgent byte sent\r\n    in  0000  70 6f ",
            "< _netread(" + n + ", up to 16 bytes) = -1, code 10054 WSAECONNRESET, ",
            "< _netclose(" + n + ") = 0, ",
            "summary of socket " + n + ": open ", "; 1 send, 5 bytes out; 2 reads, 2 bytes in; waited ",
            " in all, longest "};
        for (const std::string& piece : pieces)
            CHECK(text.find(piece) != std::string::npos, "DataBytes=%s: the trace lacks \"%s\":\n%s", c.dataBytes,
                  piece.c_str(), text.c_str());
        // Start, open, send and two reads and close with their start lines,
        // and the summary, each stamped.
        unsigned year = 0, month, day, hour, minute, second, ms, pid = 0;
        int fields = sscanf(text.c_str(), "%4u-%2u-%2u %2u:%2u:%2u.%3u pid %u tid", &year, &month, &day, &hour,
                            &minute, &second, &ms, &pid);
        CHECK(fields == 8 && pid == GetCurrentProcessId() && year >= 2024, "the first line's stamp:\n%s",
              text.c_str());
        char stamp[64];
        snprintf(stamp, sizeof stamp, " pid %lu tid %lu +", GetCurrentProcessId(), GetCurrentThreadId());
        CHECK_EQ(12, CountOf(text, stamp), "lines stamped with this process and thread");
    }
}

// A silent peer: the start line is in the file while the read still waits.
// The callback then ends the wait as hosts do, by closing the socket.
static std::string seenWhileWaiting;
static const char* waitingTrace;
static LONG __stdcall LookThenGiveUp(LONG phase)
{
    if (phase == WAIT_PHASE_END)
        return WSAETIMEDOUT;
    ReadWholeFile(waitingTrace, &seenWhileWaiting);
    closesocket((SOCKET)traced->s);
    return 1;
}

TEST_CASE(start_line_is_in_the_file_while_the_call_still_waits)
{
    std::string path = BuildPath("test_trace-waits.trace"), text;
    DeleteFileA(path.c_str());
    waitingTrace = path.c_str();
    bool wasViaTrace = UseTrace(true, waitingTrace);
    Session t;
    traced = &t;
    if (OpenSession(&t, SERVICE, PEER_COLLECT, NULL)) {
        SetConnCallback(&t.conn, LookThenGiveUp);
        char got[8];
        CallOutcome o = ReadOnSession(&t, got, sizeof got);
        CHECK(o.result == -1 && o.error == WSAETIMEDOUT, "expected -1 and 10060, seen %ld and %ld", o.result, o.error);
        std::string start = "> _netread(" + std::to_string(t.s) + ", up to 8 bytes)\r\n";
        size_t at = seenWhileWaiting.rfind(" > ");
        CHECK(at != std::string::npos && seenWhileWaiting.compare(at + 1, std::string::npos, start) == 0,
              "the trace during the wait does not end with \"%s\":\n%s", start.c_str(), seenWhileWaiting.c_str());
        ReadWholeFile(waitingTrace, &text);
        CHECK(text.find("= -1, code 10060 (the callback's end value), ") != std::string::npos,
              "the end line lacks the callback's end value:\n%s", text.c_str());
        WSACleanup();  // the socket is gone: balance _netopen's start-up
        t.s = -1;
        CloseSession(&t);
    }
    UseTrace(wasViaTrace, NULL);
}

// A trace file 200 bytes short of MaxSizeMB=1: one last line, then nothing;
// the host's results stay the module's (TracedSession checks them).
TEST_CASE(max_size_stops_the_trace_with_one_last_line)
{
    std::string path = BuildPath("test_trace-full.trace"), text;
    WriteWholeFile(path.c_str(), std::string((1 << 20) - 200, '.'));
    CHECK(TracedSession(path.c_str(), RAVO_KEY_TRACE_MAX_SIZE, "1") > 0, "no session");
    ReadWholeFile(path.c_str(), &text);
    const std::string last = "--- tracing stopped: the trace file reached MaxSizeMB=1\r\n";
    CHECK(text.size() >= last.size() && text.compare(text.size() - last.size(), last.size(), last) == 0 &&
              CountOf(text, last) == 1 && text.size() < (1 << 20) + 200,
          "expected one last line at the end of a file of about 1 MiB, seen %u bytes ending:\n%s",
          (unsigned)text.size(), text.substr(text.size() > 600 ? text.size() - 600 : 0).c_str());
}

// A folder as the trace file: nothing is traced, nothing changes.
TEST_CASE(unusable_trace_file_leaves_every_result_as_it_is)
{
    CHECK(TracedSession(BuildPath("viatrace")) > 0, "no session");
}

// The drop-in alone: _netopen fails at the start-up stage (network not
// ready), _nettype still answers, and the trace says why.
TEST_CASE(drop_in_without_the_module_fails_at_start_up_and_says_why)
{
    const char* folder = EnterWorkFolder("ravotrace");
    std::string dropIn = std::string(folder ? folder : "") + "\\ravowsok.dll", trace = dropIn + ".trace", text;
    if (!folder || !CHECK(CopyFileA(BuildPath("viatrace\\ravowsok.dll"), dropIn.c_str(), FALSE), "copy failed"))
        return;
    bool wasViaTrace = UseTrace(true, trace.c_str());
    RavoExports x;
    HMODULE dll = LoadLibraryA(dropIn.c_str());
    if (CHECK(dll && ResolveRavoExports(dll, &x, NULL, 0) == 0, "drop-in not loaded: %lu", GetLastError())) {
        LONG error = 0;
        CHECK_EQ(NET_TYPE_TCPIP, x._nettype(), "_nettype");
        CHECK_EQ(-1, x._netopen("127.0.0.1", "ravotest1", 0, 0, &error, 0, NULL), "_netopen");
        CHECK_EQ(NET_ERR_STARTUP + WSASYSNOTREADY, error, "_netopen's code");
        CHECK_EQ(WSASYSNOTREADY, x._netclose(1, 0), "_netclose");
        FreeLibrary(dll);
    }
    ReadWholeFile(trace.c_str(), &text);
    CHECK(text.find("cannot be used: LoadLibrary error 126") != std::string::npos &&
              text.find("= -1, code 10241 NET_ERR_STARTUP+WSASYSNOTREADY") != std::string::npos,
          "the trace does not say why:\n%s", text.c_str());
    UseTrace(wasViaTrace, NULL);
    RemoveProfile();
}

int main(int argc, char** argv)
{
    return RunAllTests(argc, argv);
}
