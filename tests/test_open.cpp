// _netopen through the real module: the order of its steps, every failure
// code with its stage offset, the socket closed where it must be, the
// blocking hook around the look-ups, and the block-mode settings it loads.
#include "check.h"
#include "intercept.h"
#include "peer.h"
#include "ravo.h"
#include <string.h>

static const LONG UNTOUCHED = 0x5EED;

struct OpenResult {
    LONG socket;
    LONG error;
};

static OpenResult Open(Ravo* r, const char* host, const char* service, LONG mode, TestConn* conn)
{
    OpenResult result = {0, UNTOUCHED};
    result.socket = r->_netopen(host, service, mode, 0x1111, &result.error, 0x2222, conn);
    return result;
}

// True when closesocket was called on the socket that socket() returned,
// after the error had been read.
static bool ClosedAfterErrorRead(void)
{
    int made = CallIndex("socket", 1);
    int closed = CallIndex("closesocket", 1);
    int read = CallIndex("WSAGetLastError", 1);
    return made >= 0 && closed > read && read > made && CallAt(closed)->arg[0] == CallAt(made)->result;
}

static bool SetUp(Ravo* r, TestConn* conn, const char* profile)
{
    WriteProfile(profile);
    InitConn(conn);
    return LoadRavo(r);
}

static void TearDown(Ravo* r, TestConn* conn)
{
    CHECK(ConnPatternKept(conn), "the host record changed outside the module's five fields");
    UnloadRavo(r);
    RemoveProfile();
}

TEST_CASE(open_connects_a_nonblocking_socket_in_order_and_leaves_the_error_untouched)
{
    Peer peer;
    Ravo r;
    TestConn conn;
    if (!StartPeer(&peer, "ravotest1", PEER_ECHO) || !SetUp(&r, &conn, NULL))
        return;
    OpenResult o = Open(&r, "127.0.0.1", "ravotest1", 0, &conn);
    CHECK(o.socket > 0, "socket: expected a socket, seen %ld (error %ld)", o.socket, o.error);
    CHECK_EQ(UNTOUCHED, o.error, "error code after a successful open");
    CHECK(strcmp(CallLogText(), "WSAStartup GetPrivateProfileIntA GetPrivateProfileIntA getservbyname "
                                "gethostbyname socket connect setsockopt ioctlsocket") == 0,
          "calls: %s", CallLogText());
    const CallRecord* start = CallAt(CallIndex("WSAStartup", 1));
    CHECK(start && start->arg[0] == 0x0101, "WSAStartup asked for 0x%lx", start ? start->arg[0] : 0);
    const CallRecord* service = CallAt(CallIndex("getservbyname", 1));
    CHECK(service && strcmp((const char*)service->arg[1], "tcp") == 0, "service looked up with the wrong protocol");
    const CallRecord* made = CallAt(CallIndex("socket", 1));
    CHECK(made && made->arg[0] == AF_INET && made->arg[1] == SOCK_STREAM && made->arg[2] == 0, "socket(%ld, %ld, %ld)",
          made ? made->arg[0] : 0, made ? made->arg[1] : 0, made ? made->arg[2] : 0);
    const CallRecord* option = CallAt(CallIndex("setsockopt", 1));
    CHECK(option && option->arg[1] == SOL_SOCKET && option->arg[2] == SO_DEBUG, "option set is not SO_DEBUG");
    const CallRecord* mode = CallAt(CallIndex("ioctlsocket", 1));
    CHECK(mode && (DWORD)mode->arg[1] == FIONBIO && mode->arg[2] == 1, "ioctlsocket is not FIONBIO 1");
    CHECK_EQ(0, ConnField(&conn, CONN_SOCKOPT_REFUSED), "sockOptRefused on a stack that supports SO_DEBUG");

    // Non-blocking: a receive with nothing to read says it would block.
    char byte;
    CHECK(recv((SOCKET)o.socket, &byte, 1, 0) == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK,
          "recv on the opened socket did not report WSAEWOULDBLOCK: %d", WSAGetLastError());
    CHECK_EQ(0, r._netclose(o.socket, 0), "_netclose");
    TearDown(&r, &conn);
    StopPeer(&peer);
}

TEST_CASE(startup_failure_reports_value_plus_150_before_the_settings_are_read)
{
    Ravo r;
    TestConn conn;
    if (!SetUp(&r, &conn, NULL))
        return;
    InjectFailure("WSAStartup", 1, WSAVERNOTSUPPORTED, 0);
    OpenResult o = Open(&r, "127.0.0.1", "ravotest1", 0, &conn);
    CHECK_EQ(-1, o.socket, "socket");
    CHECK_EQ(WSAVERNOTSUPPORTED + NET_ERR_STARTUP, o.error, "error code");
    CHECK_EQ(1, CallLogSize(), "platform calls after a failed start-up");
    // The settings are read by the next open that starts the library.
    Open(&r, "127.0.0.1", "no-such-service", 0, &conn);
    CHECK_EQ(2, CallCount("GetPrivateProfileIntA"), "settings read on the next open");
    TearDown(&r, &conn);
}

TEST_CASE(unknown_service_reports_error_plus_300_and_skips_the_host)
{
    Ravo r;
    TestConn conn;
    if (!SetUp(&r, &conn, NULL))
        return;
    OpenResult o = Open(&r, "127.0.0.1", "no-such-service", 0, &conn);
    CHECK_EQ(-1, o.socket, "socket");
    CHECK(LastErrorRead() > 0, "no socket error was read");
    CHECK_EQ(LastErrorRead() + NET_ERR_SERVICE, o.error, "error code");
    CHECK_EQ(0, CallCount("gethostbyname"), "host look-ups");
    CHECK_EQ(0, CallCount("socket"), "sockets made");
    CHECK_EQ(0, CallCount("WSACleanup"), "library releases on failure");

    // A port number is a name like any other: it has no entry of its own.
    char port[16];
    wsprintfA(port, "%u", ServicePort("ravotest1"));
    o = Open(&r, "127.0.0.1", port, 0, &conn);
    CHECK_EQ(-1, o.socket, "socket for a service given as a port number");
    CHECK_EQ(LastErrorRead() + NET_ERR_SERVICE, o.error, "error code for a port number");
    TearDown(&r, &conn);
}

TEST_CASE(unknown_host_reports_error_plus_450_and_makes_no_socket)
{
    Ravo r;
    TestConn conn;
    if (!SetUp(&r, &conn, NULL))
        return;
    OpenResult o = Open(&r, "no-such-host.invalid", "ravotest1", 0, &conn);
    CHECK_EQ(-1, o.socket, "socket");
    CHECK(LastErrorRead() > 0, "no socket error was read");
    CHECK_EQ(LastErrorRead() + NET_ERR_HOST, o.error, "error code");
    CHECK_EQ(0, CallCount("socket"), "sockets made");
    TearDown(&r, &conn);
}

TEST_CASE(refused_connection_reports_the_bare_error_and_closes_the_socket)
{
    Ravo r;
    TestConn conn;
    if (!SetUp(&r, &conn, NULL))
        return;
    OpenResult o = Open(&r, "127.0.0.1", "ravotest8", 0, &conn);
    CHECK_EQ(-1, o.socket, "socket");
    CHECK_EQ(WSAECONNREFUSED, o.error, "error code");
    CHECK(ClosedAfterErrorRead(), "socket not closed after the error was read: %s", CallLogText());
    CHECK_EQ(0, CallCount("setsockopt"), "options set on a failed socket");
    TearDown(&r, &conn);
}

TEST_CASE(bind_mode_binds_local_addresses_and_reports_foreign_ones_bare)
{
    Ravo r;
    TestConn conn;
    if (!SetUp(&r, &conn, NULL))
        return;
    OpenResult o = Open(&r, "127.0.0.1", "ravotest7", 2, &conn);
    CHECK(o.socket > 0, "bind to a local address: socket %ld, error %ld", o.socket, o.error);
    CHECK_EQ(1, CallCount("bind"), "bind calls");
    CHECK_EQ(0, CallCount("connect"), "connect calls in bind mode");
    struct sockaddr_in bound;
    int length = sizeof bound;
    getsockname((SOCKET)o.socket, (struct sockaddr*)&bound, &length);
    CHECK_EQ(ServicePort("ravotest7"), ntohs(bound.sin_port), "bound port");
    r._netclose(o.socket, 0);

    ClearCallLog();
    o = Open(&r, "192.0.2.1", "ravotest7", 2, &conn);
    CHECK_EQ(-1, o.socket, "bind to an address that is not local");
    CHECK_EQ(WSAEADDRNOTAVAIL, o.error, "error code");
    CHECK(ClosedAfterErrorRead(), "socket not closed after the error was read: %s", CallLogText());
    TearDown(&r, &conn);
}

// One injected failure of a set-up call: the code and whether the socket was closed.
struct InjectedCase {
    const char* call;
    LONG result;
    int error;
    LONG expectedCode;
    bool socketClosed;
};

TEST_CASE(injected_setup_failures_report_their_stage_and_close_the_socket)
{
    static const InjectedCase cases[] = {
        {"socket", (LONG)INVALID_SOCKET, WSAEMFILE, WSAEMFILE + NET_ERR_SOCKET, false},
        {"setsockopt", SOCKET_ERROR, WSAEINVAL, WSAEINVAL + NET_ERR_SOCKOPT, true},
        {"ioctlsocket", SOCKET_ERROR, WSAENOTSOCK, WSAENOTSOCK + NET_ERR_NONBLOCK, true},
        {"gethostbyname", 0, WSAHOST_NOT_FOUND, WSAHOST_NOT_FOUND + NET_ERR_HOST, false},
        {"getservbyname", 0, WSANO_DATA, WSANO_DATA + NET_ERR_SERVICE, false},
    };
    Peer peer;
    if (!StartPeer(&peer, "ravotest1", PEER_ECHO))
        return;
    for (const InjectedCase& c : cases) {
        Ravo r;
        TestConn conn;
        if (!SetUp(&r, &conn, NULL))
            break;
        InjectFailure(c.call, 1, c.result, c.error);
        OpenResult o = Open(&r, "127.0.0.1", "ravotest1", 0, &conn);
        CHECK(o.socket == -1, "%s failing: socket %ld", c.call, o.socket);
        CHECK(o.error == c.expectedCode, "%s failing: expected code %ld, seen %ld", c.call, c.expectedCode, o.error);
        if (c.socketClosed)
            CHECK(ClosedAfterErrorRead(), "%s failing: socket not closed after the error read: %s", c.call,
                  CallLogText());
        else
            CHECK(CallCount("closesocket") == 0, "%s failing: closesocket called", c.call);
        CHECK(ConnField(&conn, CONN_SOCKOPT_REFUSED) == 0, "%s failing: sockOptRefused set", c.call);
        TearDown(&r, &conn);
    }
    StopPeer(&peer);
}

TEST_CASE(unsupported_socket_option_is_recorded_and_never_cleared)
{
    Peer peer;
    Ravo r;
    TestConn conn;
    if (!StartPeer(&peer, "ravotest1", PEER_ECHO) || !SetUp(&r, &conn, NULL))
        return;
    InjectFailure("setsockopt", 1, SOCKET_ERROR, WSAENOPROTOOPT);
    OpenResult o = Open(&r, "127.0.0.1", "ravotest1", 0, &conn);
    CHECK(o.socket > 0, "refused option: socket %ld, error %ld", o.socket, o.error);
    CHECK_EQ(UNTOUCHED, o.error, "error code");
    CHECK_EQ(1, ConnField(&conn, CONN_SOCKOPT_REFUSED), "sockOptRefused");
    CHECK_EQ(1, CallCount("ioctlsocket"), "switch to non-blocking after a refused option");
    r._netclose(o.socket, 0);

    // A later open on a stack that takes the option keeps the mark.
    o = Open(&r, "127.0.0.1", "ravotest1", 0, &conn);
    CHECK(o.socket > 0, "second open: socket %ld, error %ld", o.socket, o.error);
    CHECK_EQ(1, ConnField(&conn, CONN_SOCKOPT_REFUSED), "sockOptRefused after a later open");
    r._netclose(o.socket, 0);
    TearDown(&r, &conn);
    StopPeer(&peer);
}

TEST_CASE(mchook_installs_the_blocking_hook_around_the_lookups_only)
{
    Peer peer;
    Ravo r;
    TestConn conn;
    if (!StartPeer(&peer, "ravotest1", PEER_ECHO) || !SetUp(&r, &conn, "mcHook=1"))
        return;
    OpenResult o = Open(&r, "127.0.0.1", "ravotest1", 0, &conn);
    CHECK(o.socket > 0, "open with mcHook=1: socket %ld, error %ld", o.socket, o.error);
    int set = CallIndex("WSASetBlockingHook", 1);
    int unhook = CallIndex("WSAUnhookBlockingHook", 1);
    CHECK(set >= 0 && set < CallIndex("getservbyname", 1), "hook not installed before the service look-up: %s",
          CallLogText());
    CHECK(unhook > CallIndex("gethostbyname", 1) && unhook < CallIndex("socket", 1),
          "default hook not restored between the host look-up and socket: %s", CallLogText());
    // The module's own export, also when a drop-in stands in front of it.
    CHECK(set >= 0 && CallAt(set)->arg[0] == (LONG)(void*)GetProcAddress(r.module, "mcWSAHook"),
          "the hook installed is not mcWSAHook");
    r._netclose(o.socket, 0);

    // A failed look-up restores the default after reading its error.
    ClearCallLog();
    o = Open(&r, "127.0.0.1", "no-such-service", 0, &conn);
    CHECK(CallIndex("WSAUnhookBlockingHook", 1) > CallIndex("WSAGetLastError", 1), "calls: %s", CallLogText());
    ClearCallLog();
    o = Open(&r, "no-such-host.invalid", "ravotest1", 0, &conn);
    CHECK(CallIndex("WSAUnhookBlockingHook", 1) > CallIndex("WSAGetLastError", 1), "calls: %s", CallLogText());
    TearDown(&r, &conn);

    // Without mcHook the blocking hook is never touched.
    if (!SetUp(&r, &conn, "mcHook=0"))
        return;
    o = Open(&r, "127.0.0.1", "ravotest1", 0, &conn);
    CHECK(CallCount("WSASetBlockingHook") + CallCount("WSAUnhookBlockingHook") == 0, "calls: %s", CallLogText());
    r._netclose(o.socket, 0);
    TearDown(&r, &conn);
    StopPeer(&peer);
}

// One block-mode setting: whether the message box shows and WEP frees.
struct SettingsCase {
    const char* profile;
    const char* boxText;  // NULL: no message box
    bool wepFrees;
};

TEST_CASE(block_mode_settings_choose_the_box_and_what_wep_frees)
{
    static const SettingsCase cases[] = {
        {NULL, NULL, false},
        {"mcBlockMode=1", NULL, false},
        {"mcBlockMode=2", NULL, false},
        {"mcBlockMode=7", NULL, false},
        {"mcBlockMode=-1", NULL, false},
        {"mcBlockMode=3\r\nmcUserDll=ravotestidle.dll\r\nmcUserFunc=TestIdle", NULL, true},
        {"mcBlockMode=3\r\nmcUserDll=no-such-library.dll\r\nmcUserFunc=TestIdle",
         "Error loading function (TestIdle) from dll (no-such-library.dll) - using default mcBlockMode", false},
        {"mcBlockMode=3\r\nmcUserDll=ravotestidle.dll\r\nmcUserFunc=NoSuchRoutine",
         "Error loading function (NoSuchRoutine) from dll (ravotestidle.dll) - using default mcBlockMode", false},
        {"mcBlockMode=3", "Error loading function () from dll () - using default mcBlockMode", false},
    };
    for (const SettingsCase& c : cases) {
        const char* name = c.profile ? c.profile : "no profile file";
        Ravo r;
        TestConn conn;
        if (!SetUp(&r, &conn, c.profile))
            break;
        Open(&r, "127.0.0.1", "no-such-service", 0, &conn);
        if (c.boxText) {
            CHECK(messageBoxSeen.count == 1, "%s: %d message boxes", name, messageBoxSeen.count);
            CHECK(strcmp(messageBoxSeen.text, c.boxText) == 0, "%s: box text \"%s\"", name, messageBoxSeen.text);
            CHECK(strcmp(messageBoxSeen.caption, "mcBlockMode Init") == 0, "%s: caption \"%s\"", name,
                  messageBoxSeen.caption);
            CHECK(messageBoxSeen.style == 0 && messageBoxSeen.owner == NULL, "%s: style 0x%x, owner %p", name,
                  messageBoxSeen.style, (void*)messageBoxSeen.owner);
        } else {
            CHECK(messageBoxSeen.count == 0, "%s: box shown: %s", name, messageBoxSeen.text);
        }
        bool userMode = c.profile && strstr(c.profile, "mcBlockMode=3");
        CHECK(CallCount("GetPrivateProfileStringA") == (userMode ? 2 : 0), "%s: %d text settings read", name,
              CallCount("GetPrivateProfileStringA"));
        HMODULE userDll = GetModuleHandleA("ravotestidle.dll");
        ClearCallLog();
        CHECK(r.WEP(0) == 1, "%s: WEP did not return 1", name);
        CHECK(CallCount("FreeLibrary") == (c.wepFrees ? 1 : 0), "%s: WEP made %d FreeLibrary calls", name,
              CallCount("FreeLibrary"));
        if (c.wepFrees)
            CHECK(CallAt(CallIndex("FreeLibrary", 1))->arg[0] == (LONG)userDll, "%s: WEP freed another library", name);
        TearDown(&r, &conn);
        // A library whose routine was missing stays loaded; unload it for the next case.
        while (GetModuleHandleA("ravotestidle.dll"))
            FreeLibrary(GetModuleHandleA("ravotestidle.dll"));
    }
}

TEST_CASE(settings_are_read_once_per_load)
{
    Ravo r;
    TestConn conn;
    if (!SetUp(&r, &conn, "mcHook=1"))
        return;
    Open(&r, "127.0.0.1", "no-such-service", 0, &conn);
    CHECK_EQ(1, CallCount("WSASetBlockingHook"), "hook installs with mcHook=1");
    WriteProfile("mcHook=0");
    ClearCallLog();
    Open(&r, "127.0.0.1", "no-such-service", 0, &conn);
    CHECK_EQ(0, CallCount("GetPrivateProfileIntA"), "settings read again");
    CHECK_EQ(1, CallCount("WSASetBlockingHook"), "the first settings still hold");
    TearDown(&r, &conn);
}

int main(int argc, char** argv)
{
    return RunAllTests(argc, argv);
}
