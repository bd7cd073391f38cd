// A PostgreSQL session over the module's exports, with bounded waits.
//
// Bounding: the module's wait has no time limit. Once the link's deadline has
// passed, the wait callback closes the socket with WinSock's closesocket and
// returns non-zero, so the module's next poll fails on the closed socket; the
// end of that wait is answered with WSAETIMEDOUT, which the module reports
// as the call's error code.
#include "pg_link.h"
#include "check.h"
#include "intercept.h"
#include "session.h"  // JUNK: shows whether a call wrote the error code
#include <stdio.h>
#include <string.h>

enum { READ_SIZE = 8192 };

// The module calls the callback with the phase alone: the link it serves.
static PgLink* waitingLink;

static bool DeadlinePassed(const PgLink* link)
{
    return (LONG)(GetTickCount() - link->deadline) >= 0;
}

static LONG __stdcall BoundedWait(LONG phase)
{
    PgLink* link = waitingLink;
    if (phase == WAIT_PHASE_END)
        return link->socketGone ? WSAETIMEDOUT : 0;
    if (phase == WAIT_PHASE_FIRST)
        link->traffic.waits++;
    if (!link->socketGone && DeadlinePassed(link)) {
        closesocket((SOCKET)link->s);
        link->socketGone = true;
    }
    // After a close, straight to the next poll; else the module's own turn.
    return link->socketGone ? 1 : 0;
}

static const char* TimeoutNote(const PgLink* link)
{
    return link->socketGone ? " (the deadline passed: the wait callback closed the socket)" : "";
}

bool PgSendAll(PgLink* link, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        if (!CHECK(!DeadlinePassed(link), "send: %lu of %lu bytes sent when the deadline passed", (unsigned long)done,
                   (unsigned long)bytes.size()))
            return false;
        LONG offered = (LONG)(bytes.size() - done);
        LONG error = JUNK;
        LONG took = link->r._netsend(link->s, bytes.data() + done, offered, &error, &link->conn);
        link->traffic.sends++;
        if (!CHECK(took >= 0 && took <= offered && error == 0,
                   "_netsend of %ld bytes: expected 0 to %ld and error 0, seen %ld and error %ld%s", offered, offered,
                   took, error, TimeoutNote(link)))
            return false;
        if (took == 0)
            link->traffic.emptySends++;
        else if (took < offered)
            link->traffic.partialSends++;
        done += (size_t)took;
        link->traffic.bytesSent += took;
    }
    return true;
}

// One _netread into the inbox. False (reported) on an error or a close.
static bool ReadSome(PgLink* link)
{
    static char buffer[READ_SIZE];
    if (!CHECK(!DeadlinePassed(link), "read: the deadline passed with %lu bytes of a message pending",
               (unsigned long)(link->inbox.bytes.size() - link->inbox.start)))
        return false;
    LONG error = JUNK;
    LONG got = link->r._netread(link->s, buffer, sizeof buffer, &error, &link->conn);
    link->traffic.reads++;
    if (!CHECK(got > 0 && got <= (LONG)sizeof buffer && error == 0,
               "_netread: expected 1 to %u bytes and error 0, seen %ld and error %ld%s%s", (unsigned)sizeof buffer,
               got, error, got == 0 ? " (the server closed the connection)" : "", TimeoutNote(link)))
        return false;
    link->traffic.bytesRead += got;
    PgInboxAdd(&link->inbox, buffer, (size_t)got);
    if (PgInboxEndsInsideMessage(&link->inbox))
        link->traffic.readsEndingInMessage++;
    return true;
}

bool PgNext(PgLink* link, PgMessage* message)
{
    for (;;) {
        int taken = PgInboxTake(&link->inbox, message);
        if (!CHECK(taken >= 0, "a message from the server has an impossible length"))
            return false;
        if (taken == 0) {
            if (!ReadSome(link))
                return false;
            continue;
        }
        link->traffic.messagesRead++;
        if (!CHECK(message->type != 'E', "the server reported an error: %s", PgErrorText(message->body).c_str()))
            return false;
        if (message->type == 'N') {
            printf("  server notice: %s\n", PgErrorText(message->body).c_str());
            continue;
        }
        if (message->type == 'S') {  // ParameterStatus: may come at any time
            PgCursor c = PgCursorOn(&message->body);
            std::string name = PgCString(&c), value = PgCString(&c);
            if (name == "server_version")
                link->serverVersion = value;
            continue;
        }
        return true;
    }
}

bool PgExpect(PgLink* link, char type, PgMessage* message)
{
    if (!PgNext(link, message))
        return false;
    return CHECK(message->type == type, "expected message '%c' from the server, seen '%c' (%lu bytes)", type,
                 message->type, (unsigned long)message->body.size());
}

bool PgConnect(PgLink* link, const char* service, const char* user, const char* database, DWORD limitMs)
{
    link->s = -1;
    link->socketGone = false;
    link->deadline = GetTickCount() + limitMs;
    link->inbox.bytes.clear();
    link->inbox.start = 0;
    memset(&link->traffic, 0, sizeof link->traffic);
    link->serverVersion.clear();
    if (!LoadRavo(&link->r))
        return false;
    SetCallLogging(false);  // thousands of polls; the log is not read here
    InitConn(&link->conn);
    SetConnCallback(&link->conn, BoundedWait);
    waitingLink = link;
    LONG error = JUNK;
    link->s = link->r._netopen("127.0.0.1", service, 0, 0, &error, 0, &link->conn);
    if (!CHECK(link->s != -1, "_netopen(\"127.0.0.1\", \"%s\"): expected a socket, seen -1 with code %ld", service,
               error))
        return false;

    std::string startup;
    PgStartupMessage(&startup, user, database);
    if (!PgSendAll(link, startup))
        return false;
    PgMessage m;
    if (!PgExpect(link, 'R', &m))
        return false;
    PgCursor c = PgCursorOn(&m.body);
    long request = PgInt32(&c);
    if (!CHECK(request == 0, "start-up: expected AuthenticationOk (0), the server asks for method %ld", request))
        return false;
    // BackendKeyData, then ReadyForQuery; parameter reports are skipped.
    while (PgNext(link, &m)) {
        if (m.type == 'Z')
            return true;
        if (!CHECK(m.type == 'K', "start-up: unexpected message '%c'", m.type))
            return false;
    }
    return false;
}

void PgDisconnect(PgLink* link)
{
    if (link->s != -1 && !link->socketGone) {
        std::string bye;
        PgTerminateMessage(&bye);
        if (PgSendAll(link, bye)) {
            // The server answers Terminate by closing: a read gives 0.
            char rest[64];
            LONG error = JUNK;
            LONG got = link->r._netread(link->s, rest, sizeof rest, &error, &link->conn);
            CHECK(got == 0 && error == 0, "read after Terminate: expected 0 and error 0, seen %ld and %ld%s", got, error,
                  TimeoutNote(link));
        }
        if (!link->socketGone)
            CHECK_EQ(0, link->r._netclose(link->s, 0), "_netclose");
    }
    if (link->socketGone)
        WSACleanup();  // balances _netopen's start-up; the socket is gone
    CHECK(ConnPatternKept(&link->conn), "the host record changed outside the module's five fields");
    UnloadRavo(&link->r);
    waitingLink = NULL;
}

void PgPrintTraffic(const char* what, const PgTraffic* t, DWORD ms)
{
    printf("  %s: %lu ms; read %lld bytes (%lld messages) in %ld _netread calls, %ld of them ending inside a message;"
           " sent %lld bytes in %ld _netsend calls, %ld partial, %ld took nothing; the module waited on %ld calls\n",
           what, ms, t->bytesRead, t->messagesRead, t->reads, t->readsEndingInMessage, t->bytesSent, t->sends,
           t->partialSends, t->emptySends, t->waits);
}
