// ravoprobe.exe run as an administrator runs it, as separate processes with
// their output read through a pipe: explain over every stage offset, settings
// in each block mode, send through the real module against the probe's own
// echo server, a silent peer, a resetting peer, a closed port and a connect
// that hangs, --count and --quiet with every exit status, the version's
// checksum and the services look-up. Every wait is bounded.
#include "check.h"
#include "child.h"
#include "exit_status.h"
#include "idle_routine.h"
#include "loopback.h"
#include "peer.h"
#include "ravo.h"
#include "workfolder.h"
#include <wincrypt.h>
#include <stdio.h>
#include <string.h>

enum { RUN_MS = 30000, LISTEN_MS = 20000 };

// Starts build/ravoprobe.exe with the arguments, stdout and stderr merged.
static bool StartProbe(Child* c, const char* args)
{
    return StartChild(c, BuildPath("ravoprobe.exe"), args, NULL, CHILD_MERGED);
}

static void RunProbe(Child* c, const char* args)
{
    if (StartProbe(c, args))
        FinishChild(c, RUN_MS);
}

// Checks that the output holds every one of the texts (NULL-terminated).
static bool OutputHas(const Child* c, const char* args, const char* const* texts)
{
    bool all = true;
    for (; *texts; texts++)
        all &= CHECK(strstr(c->text, *texts) != NULL, "ravoprobe %s: expected \"%s\" in its output, seen:\n%s",
                     args, *texts, c->text);
    return all;
}

// The text of the line that starts with "1. " (the most likely reading).
static const char* FirstReading(const Child* c)
{
    static char line[512];
    const char* at = strstr(c->text, "1. ");
    line[0] = 0;
    if (at) {
        size_t n = strcspn(at, "\r\n");
        if (n >= sizeof line)
            n = sizeof line - 1;
        memcpy(line, at, n);
        line[n] = 0;
    }
    return line;
}

struct ExplainCase {
    const char* code;
    const char* firstReading;  // in the line of reading 1
    const char* texts[4];      // anywhere in the output
};

TEST_CASE(explain_reads_every_stage_offset_and_ranks_the_readings)
{
    static const ExplainCase cases[] = {
        // 150 is start-up or the poll: the error decides which comes first.
        {"10241", "NET_ERR_STARTUP", {"WSASYSNOTREADY", "NET_ERR_SELECT", "wait callback", NULL}},
        {"10188", "NET_ERR_SELECT", {"WSAENOTSOCK", "NET_ERR_STARTUP", NULL}},
        {"11301", "NET_ERR_SERVICE", {"WSAHOST_NOT_FOUND", "services file", NULL}},
        {"11451", "NET_ERR_HOST", {"WSAHOST_NOT_FOUND", "gethostbyname", NULL}},
        {"10624", "NET_ERR_SOCKET", {"WSAEMFILE", NULL}},
        {"10788", "NET_ERR_NONBLOCK", {"WSAENOTSOCK", "ioctlsocket", NULL}},
        {"10922", "NET_ERR_SOCKOPT", {"WSAEINVAL", "setsockopt", NULL}},
        {"10061", "no stage offset", {"WSAECONNREFUSED", "connect in _netopen", "wait callback", NULL}},
        {"10054", "no stage offset", {"WSAECONNRESET", "recv in _netread", NULL}},
        // Only a host's callback gives these; 10361 is arithmetically the
        // service stage with a connect error, which comes after the callback.
        {"25", "wait callback", {"no stage of the module", NULL}},
        {"10361", "wait callback", {"NET_ERR_SERVICE", "unusual at this stage", NULL}},
        {"0x2A", "wait callback", {"42", NULL}},
    };
    for (const ExplainCase& e : cases) {
        char args[64];
        sprintf(args, "explain %s", e.code);
        Child c;
        RunProbe(&c, args);
        CHECK_EQ(PROBE_OK, c.exitCode, args);
        CHECK(strstr(FirstReading(&c), e.firstReading) != NULL, "%s: expected \"%s\" first, seen \"%s\" in:\n%s",
              args, e.firstReading, FirstReading(&c), c.text);
        OutputHas(&c, args, e.texts);
    }
    // 20 or less lets the call go on: never an error code.
    Child c;
    RunProbe(&c, "explain 5");
    CHECK(c.exitCode == PROBE_OK && strstr(c.text, "not an error code") && !strstr(c.text, "WSAE"),
          "explain 5: expected exit 0 and \"not an error code\", seen %lu:\n%s", c.exitCode, c.text);
}

TEST_CASE(bad_usage_exits_with_2_and_every_command_has_help)
{
    static const char* const bad[] = {"", "frobnicate", "explain", "explain abc", "explain 1 2", "open 127.0.0.1",
                                      "send 127.0.0.1 ravotest8", "open 127.0.0.1 ravotest8 --bogus",
                                      "send 127.0.0.1 ravotest8 x --timeout", "echo-server ravotest6 --seconds x"};
    for (const char* args : bad) {
        Child c;
        RunProbe(&c, args);
        CHECK(c.exitCode == PROBE_USAGE && strstr(c.text, "ravoprobe") != NULL,
              "ravoprobe %s: expected exit 2 with a message, seen %lu:\n%s", args, c.exitCode, c.text);
    }
    static const char* const commands[] = {"settings", "explain", "open", "send", "echo-server", "version", "services"};
    for (const char* command : commands) {
        char args[64], usage[64];
        sprintf(args, "%s --help", command);
        sprintf(usage, "usage: ravoprobe %s", command);
        Child c;
        RunProbe(&c, args);
        CHECK(c.exitCode == PROBE_OK && strstr(c.text, usage), "ravoprobe %s: expected exit 0 and \"%s\", seen %lu:\n%s",
              args, usage, c.exitCode, c.text);
    }
}

struct SettingsCase {
    const char* profile;  // NULL: no profile file
    DWORD exitCode;
    const char* texts[5];
    const char* absent = NULL;  // a text the output must not hold
};

TEST_CASE(settings_shows_each_block_mode_as_the_module_reads_it)
{
    static const SettingsCase cases[] = {
        {NULL, PROBE_OK, {"missing", "mcBlockMode:   0 (not set", "BLOCK_MODE_PUMP", "PumpOneMessage", NULL}},
        {"mcBlockMode=1", PROBE_OK, {"mcBlockMode:   1", "BLOCK_MODE_QUIET", "IdleNothing ", "mcHook:        0", NULL}},
        {"mcBlockMode=2\r\nmcHook=1", PROBE_OK,
         {"mcBlockMode:   2", "BLOCK_MODE_QUIET2", "IdleNothing2", "mcHook:        1", NULL}},
        {"mcBlockMode=3\r\nmcUserDll=ravotestidle.dll\r\nmcUserFunc=TestIdle", PROBE_OK,
         {"BLOCK_MODE_USER", "library:     loads", "TestIdle is exported", "run the probe from the host's folder",
          NULL}},
        {"mcBlockMode=3\r\nmcUserDll=ravotestmissing.dll\r\nmcUserFunc=TestIdle", PROBE_FAILED,
         {"does NOT load",
          "Error loading function (TestIdle) from dll (ravotestmissing.dll) - using default mcBlockMode",
          "BLOCK_MODE_PUMP (mcBlockMode 0)", NULL}},
        {"mcBlockMode=3\r\nmcUserDll=ravotestidle.dll\r\nmcUserFunc=NoSuchRoutine", PROBE_FAILED,
         {"library:     loads", "NoSuchRoutine is NOT exported", "stays loaded", NULL}},
        {"mcBlockMode=7", PROBE_OK, {"mcBlockMode:   7", "BLOCK_MODE_PUMP", "PumpOneMessage", NULL}},
        // A full path is not searched for; a trace file that cannot be opened fails the check.
        {"mcBlockMode=3\r\nmcUserDll=C:\\ravoidle\\" RAVO_IDLE_DLL "\r\nmcUserFunc=" RAVO_IDLE_FUNC, PROBE_FAILED,
         {"does NOT load", NULL}, "host's folder"},
        {"mcBlockMode=1\r\n[" RAVO_TRACE_SECTION "]\r\n" RAVO_KEY_TRACE_FILE "=C:\\no-such-folder\\host.trace",
         PROBE_FAILED, {"cannot be opened (error 3, the folder does not exist)", "mcBlockMode:   1", NULL}},
        {"mcBlockMode=3\r\nmcUserDll=" RAVO_IDLE_DLL "\r\nmcUserFunc=" RAVO_IDLE_FUNC, PROBE_OK,
         {RAVO_IDLE_FUNC " is exported", "the idle routine shipped with the module", "give the full path", NULL}},
    };
    for (const SettingsCase& s : cases) {
        WriteProfile(s.profile);
        Child c;
        RunProbe(&c, "settings");
        char what[160];
        _snprintf(what, sizeof what, "settings exit status with profile \"%s\"", s.profile ? s.profile : "(none)");
        what[sizeof what - 1] = 0;
        CHECK_EQ(s.exitCode, c.exitCode, what);
        OutputHas(&c, "settings", s.texts);
        CHECK(s.profile == NULL || strstr(c.text, "(present)"), "profile file not seen as present:\n%s", c.text);
        if (s.absent)
            CHECK(!strstr(c.text, s.absent), "settings: \"%s\" not expected in:\n%s", s.absent, c.text);
    }
    RemoveProfile();
}

// Starts the probe's echo server on a service and waits until it listens.
static bool StartEchoServer(Child* server, const char* args)
{
    if (!StartProbe(server, args))
        return false;
    if (CHECK(WaitForChildOutput(server, "listening on 127.0.0.1", LISTEN_MS),
              "echo-server (%s) did not listen within %d ms; output:\n%s", args, LISTEN_MS, server->text))
        return true;
    FinishChild(server, 0);
    return false;
}

TEST_CASE(send_reads_back_the_echo_through_the_module)
{
    Child server, c;
    if (!StartEchoServer(&server, "echo-server ravotest6 --once --seconds 60"))
        return;
    const char* args = "send 127.0.0.1 ravotest6 hello probe";
    RunProbe(&c, args);
    CHECK_EQ(PROBE_OK, c.exitCode, "send exit status");
    static const char* const texts[] = {"_nettype 2", "_netopen(\"127.0.0.1\", \"ravotest6\", connect)",
                                        "_netsend(", "-> 11, error code 0", "read: \"hello probe\"",
                                        "the same as sent", "-> 0 ", "WEP(0)", NULL};
    OutputHas(&c, args, texts);
    FinishChild(&server, RUN_MS);
    CHECK_EQ(PROBE_OK, server.exitCode, "echo-server exit status");
    static const char* const seen[] = {"received 11 bytes: \"hello probe\"", "echoed 11 bytes",
                                       "the client closed the connection", NULL};
    OutputHas(&server, "echo-server", seen);
}

// The server holds its answer until an urgent byte arrives, so the answer
// itself shows that the module sent "B" while the probe's read waited.
TEST_CASE(interrupt_during_a_wait_reaches_the_server_as_an_urgent_byte)
{
    Child server, c;
    if (!StartEchoServer(&server, "echo-server ravotest6 --once --seconds 60 --delay 50000"))
        return;
    const char* args = "send 127.0.0.1 ravotest6 cancel me --interrupt-after 50 --timeout 20000";
    RunProbe(&c, args);
    CHECK_EQ(PROBE_OK, c.exitCode, "send --interrupt-after exit status");
    static const char* const texts[] = {"wait: callback phases 1, 2 x", "the module sent the urgent byte \"B\"",
                                        "read: \"cancel me\"", NULL};
    OutputHas(&c, args, texts);
    FinishChild(&server, RUN_MS);
    static const char* const seen[] = {"urgent byte 'B' received", "echoed 9 bytes", NULL};
    OutputHas(&server, "echo-server", seen);
}

// A peer that reads, never answers and ignores the urgent byte: the wait
// must end by the probe's own callback (socket closed, 10060, WSACleanup
// balancing the module's WSAStartup, WEP), not by the watchdog; --count stops
// there, as the connection is gone, and the exit status says "no answer".
TEST_CASE(send_to_a_silent_peer_ends_by_closing_the_socket_not_by_the_watchdog)
{
    Peer peer;
    if (!StartPeer(&peer, "ravotest6", PEER_COLLECT))
        return;
    const char* args = "send 127.0.0.1 ravotest6 anyone --timeout 500 --interrupt-after 50 --count 3 --interval 0";
    Child c;
    RunProbe(&c, args);
    CHECK_EQ(PROBE_NO_ANSWER, c.exitCode, "send to a silent peer: exit status");
    static const char* const texts[] = {"-> -1, error code 10060", "no answer within 500 ms",
                                        "the module sent the urgent byte \"B\"", "answer: 0 of 6 bytes",
                                        "1 round trip of 6 bytes on one connection, 0 answered",
                                        "stopped after round trip 1 of 3: the time-out closed the connection",
                                        "WSACleanup() (the socket is already closed)    -> 0",
                                        "every WSAStartup is matched by a WSACleanup", "WEP(0)", NULL};
    OutputHas(&c, args, texts);
    CHECK(strstr(c.text, "giving up") == NULL, "%s: the watchdog ended the probe instead of its callback:\n%s",
          args, c.text);
    CHECK(peer.receivedLength == 6 && peer.urgentCount == 1,
          "the silent peer: expected 6 bytes and 1 urgent byte, seen %ld and %ld", peer.receivedLength,
          peer.urgentCount);
    StopPeer(&peer);
}

// --count repeats and summarises by nearest rank; --quiet answers by the
// exit status alone (no answer: the silent and hanging cases).
TEST_CASE(count_summarises_and_quiet_answers_by_exit_status_alone)
{
    Peer peer;
    if (!StartPeer(&peer, "ravotest6", PEER_ECHO))
        return;
    Child counted;
    RunProbe(&counted, "open 127.0.0.1 ravotest6 --count 3 --interval 0");
    CHECK_EQ(PROBE_OK, counted.exitCode, "open --count 3: exit status");
    static const char* const countTexts[] = {"open 3: answered", "3 opens, 3 answered, 0 failed",
                                             "_netopen min / median / 95th percentile / max", NULL};
    OutputHas(&counted, "open --count 3", countTexts);
    Child trips;
    RunProbe(&trips, "send 127.0.0.1 ravotest6 again --count 2 --interval 0");
    CHECK_EQ(PROBE_OK, trips.exitCode, "send --count 2: exit status");
    static const char* const tripTexts[] = {"2 round trips of 5 bytes on one connection, 2 answered",
                                            "round trip min / median", NULL};
    OutputHas(&trips, "send --count 2", tripTexts);
    // Of two times, the median at rank ceil(2/2) is the lower one, not their mean.
    double first, second;
    const char* one = strstr(trips.text, "round trip 1: answered, ");
    const char* two = strstr(trips.text, "round trip 2: answered, ");
    if (CHECK(one && two && sscanf(one + 24, "%lf", &first) == 1 && sscanf(two + 24, "%lf", &second) == 1,
              "send --count 2: expected a time on each round trip's line, seen:\n%s", trips.text)) {
        double low = first < second ? first : second, high = first < second ? second : first;
        char summary[96];
        sprintf(summary, "= %.2f / %.2f / %.2f / %.2f ms", low, low, high, high);
        CHECK(strstr(trips.text, summary), "send --count 2: expected the summary \"%s\" (nearest rank), seen:\n%s",
              summary, trips.text);
    }

    struct {
        const char* args;
        DWORD exitCode;
        bool silent;  // usage errors still go to stderr
    } cases[] = {
        {"open 127.0.0.1 ravotest6 --quiet --count 2 --interval 0", PROBE_OK, true},
        {"send 127.0.0.1 ravotest6 hello --quiet", PROBE_OK, true},
        {"open 127.0.0.1 ravotest8 --quiet", PROBE_FAILED, true},
        {"send 127.0.0.1 no-such-service hello --quiet", PROBE_NO_NAME, true},
        {"open 127.0.0.1 ravotest6 --quiet --count 0", PROBE_USAGE, false},
        {"open 127.0.0.1 ravotest6 --quiet --dll no-such-folder\\ravowsok.dll", PROBE_NO_MODULE, true},
    };
    for (const auto& q : cases) {
        Child c;
        RunProbe(&c, q.args);
        CHECK(c.exitCode == q.exitCode && (!q.silent || c.length == 0),
              "ravoprobe %s: expected exit %lu%s, seen %lu with output:\n%s", q.args, q.exitCode,
              q.silent ? " and no output" : "", c.exitCode, c.text);
    }
    StopPeer(&peer);
}

// The module's SHA-256 as CryptoAPI computes it from the file, in hex.
static bool FileSha256(const char* path, char* hex)
{
    std::string bytes;
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    BYTE digest[32];
    DWORD size = sizeof digest;
    bool ok = ReadWholeFile(path, &bytes) &&
              CryptAcquireContextA(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
              CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
              CryptHashData(hash, (const BYTE*)bytes.data(), (DWORD)bytes.size(), 0) &&
              CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == sizeof digest;
    if (hash)
        CryptDestroyHash(hash);
    if (provider)
        CryptReleaseContext(provider, 0);
    for (int i = 0; ok && i < 32; i++)
        sprintf(hex + 2 * i, "%02x", digest[i]);
    return CHECK(ok, "hashing %s with CryptoAPI failed: error %lu", path, GetLastError());
}

TEST_CASE(version_shows_the_module_checksum_and_services_resolve_names)
{
    char hex[65], line[MAX_PATH + 32];
    if (FileSha256(BuildPath("ravowsok.dll"), hex)) {
        sprintf(line, "sha256:      %s", hex);
        for (const char* args : {"--version", "version"}) {
            Child c;
            RunProbe(&c, args);
            CHECK_EQ(PROBE_OK, c.exitCode, args);
            const std::string all = "all " + std::to_string(RAVO_EXPORT_COUNT) + " at their ordinals";
            const char* texts[] = {"ravoprobe 1.", line, all.c_str(), NULL};
            OutputHas(&c, args, texts);
        }
    }
    // The drop-in checks the real module beside it: only the module will do.
    const char* work = EnterWorkFolder("ravoprobe");
    const std::string folder = work ? work : ".";
    const std::string dropIn = folder + "\\ravowsok.dll", real = folder + "\\" RAVO_TRACE_REAL_MODULE;
    CopyFileA(BuildPath("ravotrace.dll"), dropIn.c_str(), FALSE);
    static const struct {
        const char* real;  // the file copied beside the drop-in, or NULL
        DWORD exitCode;
        const char* verdict;
    } reals[] = {{NULL, PROBE_NO_MODULE, "NOT the module: it cannot be loaded"},
                 {"ravoprobe.exe", PROBE_NO_MODULE, "NOT the module: it is not a 32-bit DLL"},
                 {"ravotrace.dll", PROBE_NO_MODULE, "NOT the module: it is a tracing drop-in too"},
                 {"ravowsok.dll", PROBE_OK, "the real module, which the drop-in loads"}};
    sprintf(line, "version --dll %s", dropIn.c_str());
    for (const auto& r : reals) {
        DeleteFileA(real.c_str());
        if (r.real)
            CopyFileA(BuildPath(r.real), real.c_str(), FALSE);
        Child c;
        RunProbe(&c, line);
        CHECK_EQ(r.exitCode, c.exitCode, r.real ? r.real : "the drop-in alone");
        const char* texts[] = {"kind:        the tracing drop-in ravotrace.dll", real.c_str(), r.verdict, NULL};
        OutputHas(&c, line, texts);
    }
    Child known;
    RunProbe(&known, "services ravotest6");
    sprintf(line, "ravotest6/tcp -> port %u", ServicePort("ravotest6"));
    CHECK_EQ(PROBE_OK, known.exitCode, "services ravotest6: exit status");
    const char* knownTexts[] = {line, "drivers\\etc\\services", NULL};
    OutputHas(&known, "services ravotest6", knownTexts);
    Child unknown;
    RunProbe(&unknown, "services no-such-service");
    CHECK_EQ(PROBE_NO_NAME, unknown.exitCode, "services no-such-service: exit status");
    static const char* const unknownTexts[] = {"no entry", "11304", NULL};
    OutputHas(&unknown, "services no-such-service", unknownTexts);
    Child listing;
    RunProbe(&listing, "services");
    CHECK_EQ(PROBE_OK, listing.exitCode, "services: exit status");
    static const char* const listed[] = {"ravotest6", "ravodemo", NULL};
    OutputHas(&listing, "services", listed);
}

// The sample trace in administrators.md is this run's trace in the stable
// form: a round trip through the drop-in against the probe's echo server,
// which answers once the urgent byte has come, then an unknown service.
TEST_CASE(trace_sample_in_the_docs_is_what_the_drop_in_writes)
{
    std::string trace = BuildPath("test_probe-sample.trace"), doc, text, sample;
    DeleteFileA(trace.c_str());
    const char* const keys[][2] = {{RAVO_KEY_TRACE_FILE, trace.c_str()}, {RAVO_KEY_TRACE_DATA, "1"},
                                   {RAVO_KEY_TRACE_STABLE, "1"}};
    for (const auto& k : keys)
        WritePrivateProfileStringA(RAVO_TRACE_SECTION, k[0], k[1], RAVO_PROFILE_FILE);
    const std::string dll = std::string(" --dll ") + BuildPath("viatrace\\ravowsok.dll");
    Child server, send, open;
    if (StartEchoServer(&server, "echo-server ravotest6 --once --seconds 60 --delay 50000")) {
        RunProbe(&send, ("send 127.0.0.1 ravotest6 SELECT 1 --interrupt-after 100" + dll).c_str());
        FinishChild(&server, RUN_MS);
    }
    RunProbe(&open, ("open 127.0.0.1 no-such-service" + dll).c_str());
    WritePrivateProfileStringA(RAVO_TRACE_SECTION, NULL, NULL, RAVO_PROFILE_FILE);
    ReadWholeFile(trace.c_str(), &text);
    // The indented block that follows the marker line, without its indent.
    ReadWholeFile(BuildPath("..\\docs\\administrators.md"), &doc);
    size_t at = doc.find("<!-- the stable trace sample -->\n\n");
    for (at = at == std::string::npos ? doc.size() : doc.find('\n', at) + 2; doc.compare(at, 4, "    ") == 0;) {
        size_t end = doc.find('\n', at);
        sample += doc.substr(at + 4, end - at - 4) + "\r\n";
        at = end + 1;
    }
    CHECK(!sample.empty() && text == sample, "the sample in administrators.md:\n%s\nthe trace of this run:\n%s",
          sample.c_str(), text.c_str());
}

// The probe is the host: its callback returns 0 at the end of a wait, or is
// not called at all, so no failure it sees is read as a callback's value.
TEST_CASE(failures_exit_by_kind_and_are_explained_by_what_happened)
{
    Peer reset;
    if (!StartPeer(&reset, "ravotest5", PEER_RESET))
        return;
    struct {
        const char* args;
        DWORD exitCode;
        const char* texts[4];
    } cases[] = {
        // Nothing listens on ravotest8 in these tests.
        {"send 127.0.0.1 ravotest8 hello", PROBE_FAILED, {"-> -1, error code 10061", "WSAECONNREFUSED", "connect in _netopen", NULL}},
        {"open 127.0.0.1 ravotest8", PROBE_FAILED, {"-> -1, error code 10061", "one reading", "WSAECONNREFUSED", NULL}},
        {"open 127.0.0.1 no-such-service", PROBE_NO_NAME, {"NET_ERR_SERVICE", "services file", NULL}},
        {"send 127.0.0.1 54339 hi", PROBE_NO_NAME, {"\n       (a port number", "add a line \"NAME 54339/tcp\"", NULL}},
        // The reset meets the open, the send or the read (10054, or 0 under Wine 8).
        {"send 127.0.0.1 ravotest5 hello", PROBE_FAILED, {"_netopen(\"127.0.0.1\", \"ravotest5\", connect)", NULL}},
    };
    for (const auto& f : cases) {
        Child c;
        RunProbe(&c, f.args);
        CHECK_EQ(f.exitCode, c.exitCode, f.args);
        OutputHas(&c, f.args, f.texts);
        CHECK(strstr(c.text, "wait callback") == NULL, "%s: a failure offered a wait-callback reading:\n%s", f.args,
              c.text);
    }
    StopPeer(&reset);
    Child c;
    RunProbe(&c, "open 127.0.0.1 ravotest6 --dll no-such-folder\\ravowsok.dll");
    CHECK_EQ(PROBE_NO_MODULE, c.exitCode, "open with a missing module: exit status");
    // --bind asks for mode 2: bound to the local address, nothing to refuse.
    Child bound;
    RunProbe(&bound, "open 127.0.0.1 ravotest8 --bind");
    CHECK_EQ(PROBE_OK, bound.exitCode, "open --bind on a local address: exit status");
    static const char* const boundTexts[] = {"\"ravotest8\", bind)", "-> socket", "-> 0 ", NULL};
    OutputHas(&bound, "open --bind", boundTexts);
}

// Mode 3 with a missing library: the module's message box would wait for a
// click; the probe reports its text, closes it and goes on.
TEST_CASE(open_closes_the_settings_message_box_instead_of_hanging)
{
    WriteProfile("mcBlockMode=3\r\nmcUserDll=ravotestmissing.dll\r\nmcUserFunc=TestIdle");
    Child c;
    RunProbe(&c, "open 127.0.0.1 ravotest8");
    CHECK_EQ(PROBE_FAILED, c.exitCode, "open (refused) under a failing mode 3: exit status");
    static const char* const texts[] = {
        "warning: mcBlockMode 3 falls back to pump mode: mcUserDll \"ravotestmissing.dll\" does not load",
        "message box \"mcBlockMode Init\"",
        "Error loading function (TestIdle) from dll (ravotestmissing.dll) - using default mcBlockMode",
        "error code 10061", NULL};
    OutputHas(&c, "open under mode 3", texts);
    RemoveProfile();
}

// A listener that never accepts, its queue full: the next connect gets no
// answer (its SYN is dropped) and hangs inside _netopen, where no callback
// runs. The probe names the address and port and ends itself with 5.
TEST_CASE(a_connect_that_hangs_is_named_and_exits_with_5)
{
    u_short port = ServicePort("ravotest7");
    sockaddr_in at = LoopbackAddress(port);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0), fillers[16];
    int filled = 0;
    bool pending = false;
    if (CHECK(bind(listener, (sockaddr*)&at, sizeof at) == 0 && listen(listener, 0) == 0,
              "listening on ravotest7 (port %u): WinSock error %d", port, WSAGetLastError())) {
        // Connect until one stays unanswered: that one's SYN was dropped.
        while (!pending && filled < 16) {
            SOCKET s = fillers[filled++] = socket(AF_INET, SOCK_STREAM, 0);
            u_long nonBlocking = 1;
            ioctlsocket(s, FIONBIO, &nonBlocking);
            connect(s, (sockaddr*)&at, sizeof at);
            fd_set done;
            FD_ZERO(&done);
            FD_SET(s, &done);
            timeval wait = {2, 0};
            pending = select(0, NULL, &done, NULL, &wait) == 0;
        }
    }
    if (CHECK(pending, "%d connects to a full listen queue were all answered: no hanging connect to probe", filled)) {
        Child c;
        RunProbe(&c, "open 127.0.0.1 ravotest7 --timeout 500");
        CHECK_EQ(PROBE_NO_ANSWER, c.exitCode, "open to a connect that hangs: exit status");
        char address[64];
        sprintf(address, "the connect to 127.0.0.1 port %u itself hangs", port);
        const char* texts[] = {address, "listen queue is full", "cannot end that call", NULL};
        OutputHas(&c, "open to a connect that hangs", texts);
    }
    for (int i = 0; i < filled; i++)
        closesocket(fillers[i]);
    closesocket(listener);
}

int main(int argc, char** argv)
{
    return RunAllTests(argc, argv);
}
