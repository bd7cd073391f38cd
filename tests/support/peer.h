// Loopback peers on threads: the server side of the module's connections.
#pragma once
#include <winsock2.h>
#include <windows.h>

enum PeerMode {
    PEER_ECHO,            // sends back every byte it receives
    PEER_COLLECT,         // keeps what it receives, answers nothing
    PEER_REPLY_ON_EVENT,  // sends `reply` once `go` is set (replyDelayMs later), then collects
    PEER_DRAIN_ON_EVENT,  // reads nothing until `go` is set, then collects
    PEER_CLOSE,           // closes each connection at once (orderly)
    PEER_RESET,           // resets each connection at once
};

enum { PEER_BUFFER_SIZE = 1 << 20, PEER_URGENT_SIZE = 64 };

struct Peer {
    PeerMode mode;
    SOCKET listener;
    u_short port;             // host byte order
    HANDLE thread;
    HANDLE go;                // PEER_REPLY_ON_EVENT: set to send the reply
    HANDLE connectionEnded;   // set each time a connection is over
    volatile LONG stop;
    char reply[256];
    int replyLength;
    DWORD replyDelayMs;        // PEER_REPLY_ON_EVENT: from `go` to the reply
    PeerMode afterReply;       // PEER_CLOSE or PEER_RESET: ends the connection so once the reply went out
    volatile DWORD repliedAt;  // PEER_REPLY_ON_EVENT: GetTickCount as the reply began to go out
    char* received;           // in-band bytes of all connections, in order
    volatile LONG receivedLength;
    char urgent[PEER_URGENT_SIZE];  // urgent bytes, in order
    volatile LONG urgentCount;
    volatile LONG acceptCount;
};

// Listens on 127.0.0.1 at the port of the service (from the prefix's services
// file) and serves connections one at a time until StopPeer.
bool StartPeer(Peer* peer, const char* service, PeerMode mode);
// Waits (bounded) until a connection has ended; false on time-out.
bool WaitConnectionEnded(Peer* peer, DWORD ms);
// Waits (bounded) until the peer holds count in-band bytes, or count urgent
// bytes; false on time-out.
bool WaitPeerReceived(Peer* peer, LONG count, DWORD ms);
bool WaitPeerUrgent(Peer* peer, LONG count, DWORD ms);
// Stops the thread (bounded) and frees the peer's resources.
void StopPeer(Peer* peer);

// The port of a "tcp" service in host byte order, or 0.
u_short ServicePort(const char* service);
