// One open connection of a case: a loopback peer, the module loaded fresh
// and a socket opened to the peer with _netopen.
#pragma once
#include "peer.h"
#include "ravo.h"
#include "waitlimit.h"

// Not a value the module writes: shows whether a call set the error code.
static const LONG JUNK = 0x7777;

struct Session {
    Ravo r;
    TestConn conn;
    Peer peer;
    LONG s;                // -1 once the case closed it itself
    bool wepBeforeUnload;  // CloseSession calls WEP first, as an ending host does
    WaitLimit limit;       // bounds the waits of the data calls in outcome.h
};

// Starts a peer on service (reply: what PEER_REPLY_ON_EVENT sends, NULL for
// none), loads the module and opens a connection to the peer. The call log
// starts empty after the open. The call observer is set to bound the
// session's waits; a case that sets its own observer calls
// EnforceWaitLimit(&t->limit, name) from it. False when any step failed.
bool OpenSession(Session* t, const char* service, PeerMode mode, const char* reply);

// Checks the host record, closes the socket unless the case already did,
// unloads the module and stops the peer.
void CloseSession(Session* t);
