// One PostgreSQL session carried by ravowsok.dll: the module loaded as a
// host loads it, a connection opened by service name, messages sent through
// _netsend (the rest of a partial send offered again, as a host does) and
// read through _netread into the message reader. Every wait is bounded by
// the link's deadline.
#pragma once
#include <string>

#include "pg_wire.h"
#include "ravo.h"

// What went over the connection, for the test's report.
struct PgTraffic {
    long long bytesRead, bytesSent, messagesRead;
    long reads, sends;
    long partialSends;          // took some, not all, of the bytes offered
    long emptySends;            // took nothing: the socket's buffer was full
    long readsEndingInMessage;  // reads after which a message was still incomplete
    long waits;                 // data calls on which the module had to wait
};

struct PgLink {
    Ravo r;
    TestConn conn;
    LONG s;           // -1 when not open
    bool socketGone;  // closed by the wait callback once the deadline passed
    DWORD deadline;   // on the GetTickCount clock
    PgInbox inbox;
    PgTraffic traffic;
    std::string serverVersion;
};

// Loads the module, opens service on 127.0.0.1 and runs the start-up
// exchange to the first ReadyForQuery. limitMs bounds everything the link
// does from now on. False (with the failure reported) when any step failed.
bool PgConnect(PgLink* link, const char* service, const char* user, const char* database, DWORD limitMs);
// Sends every byte, calling _netsend again for what a call did not take.
bool PgSendAll(PgLink* link, const std::string& bytes);
// The next message, notices and parameter reports skipped. An ErrorResponse
// fails the test with the server's own message; so does a closed connection.
bool PgNext(PgLink* link, PgMessage* message);
// The next message, which must be of this type.
bool PgExpect(PgLink* link, char type, PgMessage* message);
// Sends Terminate, sees the server close, closes the socket and unloads the
// module (after a time-out: WSACleanup instead of _netclose).
void PgDisconnect(PgLink* link);
// One line with the figures of traffic.
void PgPrintTraffic(const char* what, const PgTraffic* traffic, DWORD ms);
