// ravobench: the module's transfers against a hand-written floor and plain
// blocking WinSock, measured in one run under the same conditions.
#pragma once
#include <winsock.h>
#include <windows.h>

#include "ravowsok.h"

// --- Test data -----------------------------------------------------------
// Every byte sent comes from one repeating pattern. Its period is prime and
// not a multiple of a write, so a lost, doubled or shifted piece of the
// stream no longer matches the pattern at its offset.
enum { PATTERN_PERIOD = 65521, BULK_WRITE = 65536, PATTERN_SIZE = PATTERN_PERIOD + BULK_WRITE };
extern char pattern[PATTERN_SIZE];
void FillPattern(void);
// The pattern as it continues at stream offset `offset`; at least
// BULK_WRITE bytes are readable from there.
const char* PatternAt(unsigned long long offset);

// The first byte of a connection says what the peer does with it.
enum { PEER_MODE_ECHO = 'E', PEER_MODE_DISCARD = 'D', PEER_MODE_SILENT = 'S' };
// Silent connections: for each 4-byte hold time (milliseconds, little-endian)
// the peer stays silent that long, then sends one byte.
enum { SILENT_HOLD_MAX_MS = 60000 };
// Discard connections: after the mode byte, the size of a piece (4 bytes,
// little-endian); after each piece the peer answers with a BulkAck.
struct BulkAck {
    unsigned long received;     // bytes of the piece
    unsigned long mismatches;   // write-sized parts that did not match the pattern
};

// --- The peer process ----------------------------------------------------
// Runs the peer (ravobench --peer PORT PARENT_PID) until the parent sets
// the stop event or ends. Returns the exit code.
int RunPeer(u_short port, DWORD parentPid);
// Starts this program as the peer on port and waits (bounded) until it
// listens. False with a message on failure.
bool StartPeerProcess(u_short port);
// Asks the peer to end and waits for it (bounded); ends it otherwise.
void StopPeerProcess(void);

// --- The contenders ------------------------------------------------------
// The contenders from VIA_TRACE on go through the tracing drop-in
// (build/viatrace): VIA_TRACE with tracing off, what the drop-in costs a
// host left in place; TRACE_LINES tracing with Data=0, TRACE_DATA with
// Data=1 (DataBytes as its default), each into a trace file of its own.
// IDLE_ROUTINE: a copy of the module (build/viaidle) in block mode 3 with
// ravoidle.dll as its idle routine.
enum Contender { MODULE, HAND_LOOP, PLAIN, VIA_TRACE, TRACE_LINES, TRACE_DATA, IDLE_ROUTINE, CONTENDER_COUNT };
// True for the contenders that call the module's exports.
bool CallsModule(Contender who);
extern const char* const contenderName[CONTENDER_COUNT];

// One connection of one contender.
struct Link {
    Contender who;
    SOCKET s;
    char host[256];              // the host's record, for the module's calls
    unsigned long long streamed; // bulk bytes sent so far (pattern offset)
};

// Loads ravowsok.dll from beside this program, the drop-in with the module
// behind it from build/viatrace and from build/bench-trace-lines and
// build/bench-trace-data, one for each tracing contender, and the module's
// copy in build/viaidle; false with a message. UnloadModule deletes the
// tracing contenders' trace files.
// dataBytes: DataBytes for the Data=1 contender (NULL: the drop-in's
// default).
bool LoadModule(const char* dataBytes);
void UnloadModule(void);
// Opens a connection to the service (module) or to 127.0.0.1:port.
bool OpenLink(Link* link, Contender who, const char* service, u_short port);
void CloseLink(Link* link);
// One send or one receive in the contender's own way: the count moved, 0
// when a send took nothing, or -1 with *error set.
int SendSome(Link* link, const char* data, int length, int* error);
int ReadSome(Link* link, char* buffer, int size, int* error);

// The hand-written floor: the module's platform calls for one wait
// (NET_WAIT_WRITE or NET_WAIT_READ), made directly. Returns 0 when ready, or
// the poll's WinSock error.
int HandWait(SOCKET s, int direction);
// Chooses the idle turn the module's settings give (pump or nothing) and
// finds the owner of the hook procedure, once.
void SetUpHandLoop(int blockMode);
// True for the block modes whose idle turn does nothing.
bool QuietBlockMode(int blockMode);
// The hand loop's keyboard and mouse hook procedure: discards the input.
LRESULT CALLBACK SwallowInput(int code, WPARAM wParam, LPARAM lParam);
// Polls and idle turns the hand loop has made so far.
extern unsigned long handPolls, handWaits;

// --- The ravoidle contender's settings (idleprofile.cpp) --------------------
// The name its copy of the module is given in mcUserDll: the full path of
// build/ravoidle.dll when it fits, else the bare name (found in this
// program's folder).
const char* IdleRoutineName(void);
// Loads ravoidle.dll as the module will and checks its routine; false with
// a message (the module would show its box and fall back to pump mode).
bool CheckIdleRoutine(void);
// Makes the profile name ravoidle.dll in block mode 3, for the copy's
// _netopen, and puts back what it held before.
void UseIdleRoutineProfile(void);
void RestoreProfile(void);

// --- Work and measurement ------------------------------------------------
// Sends all bytes / receives exactly `size` bytes; false with a message.
// This is the host's loop around one contender's send, not SendAllBytes of
// the test support (one blocking socket, where a send of 0 means the
// connection is gone): the module's _netsend returns 0 when the socket took
// nothing just now, and the host sends again.
bool SendAllOnLink(Link* link, const char* data, int length);
bool ReadExact(Link* link, char* buffer, int size);
// `count` echo round trips of `size` bytes; false when an echo differed.
bool RunRoundTrips(Link* link, int size, int count);
// One bulk piece of `bytes` in 64 KiB writes, ended by the peer's ack.
bool RunBulkPiece(Link* link, unsigned long bytes);
// Starts a bulk connection: mode byte and piece size.
bool StartBulk(Link* link, unsigned long pieceBytes);

double Seconds(void);
// Marks progress for the watchdog that ends a stuck run.
void Progress(const char* what);
void StartWatchdog(DWORD stuckMs);

// --- Long waits on a silent server (idlewait.cpp) -----------------------------
// The contenders whose long waits are measured: the module in pump mode and
// the module with ravoidle.dll.
enum { WAITERS = 2, MAX_WAITS = 20, MAX_POSTS = 1024 };
extern const Contender waiter[WAITERS];

// One wait of holdMs on a silent connection: CPU of this process and of the
// prefix's wineserver, how late the read returned after the peer's byte was
// due, and how long window messages posted during it took to be dispatched.
struct LongWait {
    double seconds;
    double hostCpu, serverCpu;  // CPU seconds; serverCpu < 0: not measured
    double lateMs;
    double postLatencyMs[MAX_POSTS];
    int posts;
};
struct LongWaits {
    int holdMs, waits;
    LongWait wait[WAITERS][MAX_WAITS];
    int serverPid;  // 0: no wineserver of this prefix found
};
// Opens the silent connections (after LoadModule).
bool OpenSilentLinks(const char* service, u_short port);
void CloseSilentLinks(void);
// Runs the waits, the two contenders taking turns.
bool RunLongWaits(LongWaits* w);
// The wineserver of this program's prefix (WINEPREFIX), found through
// /proc; 0 when there is none.
int FindWineServer(void);
// CPU seconds the process has used (user and system), or -1.
double UnixProcessCpu(int pid);

// --- Figures ---------------------------------------------------------------
enum Workload { ROUND_TRIP_1, ROUND_TRIP_64, BULK, WORKLOAD_COUNT };
enum { MAX_ROUNDS = 200 };
enum CallCostKind { COST_SELECT_IDLE, COST_SELECT_READY, COST_HOOKS, COST_PEEK, COST_COUNT };

// What one run measured: per workload, contender and round, the cost of
// the work (seconds per round trip, or seconds per bulk round).
struct Results {
    int rounds;
    int roundTrips;          // per round and message size
    unsigned long bulkBytes; // per round
    int blockMode;
    double cost[WORKLOAD_COUNT][CONTENDER_COUNT][MAX_ROUNDS];
    unsigned long handPolls[WORKLOAD_COUNT], handWaits[WORKLOAD_COUNT];
    double totalSeconds;
    double callCost[COST_COUNT];  // microseconds per call (hooks: on and off)
    LongWaits longWaits;
};

// Times the wait's platform calls one by one on a socket with nothing to read.
void MeasureCallCosts(SOCKET idle, Results* r);

// Prints the figures per contender, the ratios, and a Markdown table.
void PrintReport(const Results* results);
void PrintLongWaits(const LongWaits* w);
