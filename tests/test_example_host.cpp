// The example host of docs/hosts.md (examples/host.c) run as a child process
// against loopback peers in this process: an echo, the Cancel path with the
// urgent byte, the bounded wait against a server that never answers, and a
// refused open balanced with one WSACleanup. The
// child writes CR LF, so the expected lines leave the line end out.
#include "check.h"
#include "child.h"
#include "peer.h"
#include "ravo.h"
#include <string.h>

static const char* const SERVICE = "ravotest4"; // also in the host's arguments
enum { CHILD_MS = 30000, EVENT_MS = 15000 };

static bool Contains(const Child* c, const char* text)
{
    return strstr(c->text, text) != NULL;
}

struct DialogSearch {
    DWORD processId;
    HWND box;
};

static BOOL CALLBACK FindDialogOf(HWND window, LPARAM arg)
{
    DialogSearch* search = (DialogSearch*)arg;
    DWORD owner = 0;
    char className[16];
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && GetClassNameA(window, className, sizeof className) &&
        strcmp(className, "#32770") == 0 && IsWindowVisible(window)) {
        search->box = window;
        return FALSE;
    }
    return TRUE;
}

// The child's visible dialog box, waited for at most ms; NULL if none came.
static HWND WaitForDialog(const Child* c, DWORD ms)
{
    DialogSearch search = {GetProcessId(c->process), NULL};
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(20)) {
        EnumWindows(FindDialogOf, (LPARAM)&search);
        if (search.box || WaitForSingleObject(c->process, 0) == WAIT_OBJECT_0)
            break;
    }
    return search.box;
}

TEST_CASE(echo_peer_answers_the_request)
{
    Peer peer;
    if (!StartPeer(&peer, SERVICE, PEER_ECHO))
        return;
    Child c;
    RunChild(&c, BuildPath("example_host.exe"), "127.0.0.1 ravotest4", NULL, CHILD_MERGED, CHILD_MS);
    CHECK(Contains(&c, "reply: hello"), "expected the echoed request, seen: %s", c.text);
    CHECK_EQ(0, c.exitCode, "exit status");
    StopPeer(&peer);
}

// Cancel in the module's box sends "B"; the server answers it, the wait
// ends, and the end value fails the read with the host's code.
TEST_CASE(cancel_sends_the_urgent_byte_and_fails_the_read_with_the_hosts_code)
{
    Peer peer;
    if (!StartPeer(&peer, SERVICE, PEER_REPLY_ON_EVENT))
        return;
    strcpy(peer.reply, "answer to the interrupt");
    peer.replyLength = (int)strlen(peer.reply);
    Child c;
    StartChild(&c, BuildPath("example_host.exe"), "127.0.0.1 ravotest4", NULL, CHILD_MERGED);
    HWND box = WaitForDialog(&c, EVENT_MS);
    if (CHECK(box != NULL, "the host showed no dialog box; its output: %s", c.text)) {
        HWND cancel = GetDlgItem(box, ABORTDLG_CANCEL);
        CHECK(cancel != NULL, "the box has no Cancel button (id %d)", ABORTDLG_CANCEL);
        PostMessageA(cancel, BM_CLICK, 0, 0);
        if (CHECK(WaitPeerUrgent(&peer, 1, EVENT_MS), "no urgent byte reached the peer"))
            CHECK(peer.urgent[0] == 'B', "urgent byte: expected B, seen 0x%02x", (unsigned char)peer.urgent[0]);
    }
    SetEvent(peer.go);
    FinishChild(&c, CHILD_MS);
    CHECK(Contains(&c, "read failed: error 9999 (cancelled)"), "expected the host's code 9999, seen: %s", c.text);
    CHECK(peer.receivedLength == 5 && memcmp(peer.received, "hello", 5) == 0, "the peer did not get the request");
    StopPeer(&peer);
}

// The header's recipe against a peer that never answers: past the deadline
// the callback closes the socket, the read fails with 10060, and the host
// ends with WSACleanup instead of _netclose.
TEST_CASE(deadline_closes_the_socket_and_fails_the_read_with_10060)
{
    Peer peer;
    if (!StartPeer(&peer, SERVICE, PEER_COLLECT))
        return;
    Child c;
    RunChild(&c, BuildPath("example_host.exe"), "127.0.0.1 ravotest4 300", NULL, CHILD_MERGED, CHILD_MS);
    CHECK(Contains(&c, "read failed: error 10060"), "expected 10060 (WSAETIMEDOUT), seen: %s", c.text);
    CHECK_EQ(0, c.exitCode, "exit status");
    CHECK(WaitConnectionEnded(&peer, EVENT_MS), "the peer never saw the connection end");
    StopPeer(&peer);
}

// Nothing listens on ravotest8: the open fails, and the host's one WSACleanup
// finds the start-up the failed _netopen left (else it fails with 10093).
TEST_CASE(refused_open_is_balanced_with_one_cleanup)
{
    Child c;
    RunChild(&c, BuildPath("example_host.exe"), "127.0.0.1 ravotest8", NULL, CHILD_MERGED, CHILD_MS);
    CHECK(Contains(&c, "open failed: error 10061"), "expected 10061 (WSAECONNREFUSED), seen: %s", c.text);
    CHECK(!Contains(&c, "WSACleanup failed"), "the host's WSACleanup found nothing to release: %s", c.text);
    CHECK_EQ(0, c.exitCode, "exit status");
}

int main(int argc, char** argv)
{
    return RunAllTests(argc, argv);
}
