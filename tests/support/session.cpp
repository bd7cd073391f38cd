// The session behind session.h.
#include "session.h"
#include "check.h"
#include "intercept.h"
#include <string.h>

static Session* openSession;  // the session whose waits the observer bounds

static void BoundSessionWaits(const char* name, const LONG*)
{
    if (openSession)
        EnforceWaitLimit(&openSession->limit, name);
}

bool OpenSession(Session* t, const char* service, PeerMode mode, const char* reply)
{
    InitConn(&t->conn);
    t->s = -1;
    t->wepBeforeUnload = false;
    t->limit = WaitLimit{};
    if (!StartPeer(&t->peer, service, mode))
        return false;
    if (reply) {
        strcpy(t->peer.reply, reply);
        t->peer.replyLength = (int)strlen(reply);
    }
    if (!LoadRavo(&t->r)) {
        StopPeer(&t->peer);
        return false;
    }
    LONG error = JUNK;
    t->s = t->r._netopen("127.0.0.1", service, 0, 0, &error, 0, &t->conn);
    CHECK(t->s > 0, "open: expected a socket, seen %ld (error %ld)", t->s, error);
    ClearCallLog();
    openSession = t;
    SetCallObserver(BoundSessionWaits);
    return t->s > 0;
}

void CloseSession(Session* t)
{
    CHECK(ConnPatternKept(&t->conn), "the host record changed outside the module's five fields");
    if (t->s > 0)
        CHECK_EQ(0, t->r._netclose(t->s, 0), "_netclose");
    if (t->wepBeforeUnload)
        t->r.WEP(0);
    UnloadRavo(&t->r);
    StopPeer(&t->peer);
    openSession = NULL;
}
