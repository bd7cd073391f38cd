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
enum {
    PEER_MODE_ECHO = 'E',
    PEER_MODE_ECHO_LATE = 'L',  // echoes each piece about PEER_LATE_US after it came
    PEER_MODE_DISCARD = 'D',
    PEER_MODE_STREAM = 'R',
    PEER_MODE_SILENT = 'S',
};
enum { PEER_LATE_US = 1000 };
// Silent connections: for each 4-byte hold time (milliseconds, little-endian)
// the peer stays silent that long, then sends the performance counter's
// reading as it sends (8 bytes, little-endian): under Wine the counter is
// the same clock in every process.
enum { SILENT_HOLD_MAX_MS = 60000 };
// Discard connections: after the mode byte, the size of a piece (4 bytes,
// little-endian); after each piece the peer answers with a BulkAck.
struct BulkAck {
    unsigned long received;     // bytes of the piece
    unsigned long mismatches;   // write-sized parts that did not match the pattern
};
// Stream connections: after the mode byte, the size of a piece (4 bytes,
// little-endian); for each byte the host sends, the peer sends the next
// piece of the pattern.

// --- The peer process ----------------------------------------------------
// Runs the peer (ravobench --peer PORT PARENT_PID) until the parent sets
// the stop event or ends. Returns the exit code.
int RunPeer(u_short port, DWORD parentPid);
// Starts this program as the peer on port and waits (bounded) until it
// listens. False with a message on failure.
bool StartPeerProcess(u_short port);
// Asks the peer to end and waits for it (bounded); ends it otherwise.
void StopPeerProcess(void);

// --- The contenders (contender_table.cpp) --------------------------------------
// Each contender is one row of a table: its name, how it moves bytes, the
// library it loads, the settings that library reads, its set-up, and how it
// is measured. A new contender is a new row.
// Round trips of 1 and 64 bytes; bulk sends in writes of BULK_WRITE to a
// discarding peer; bulk reads of up to BULK_READ from a streaming one.
enum Workload { ROUND_TRIP_1, ROUND_TRIP_64, BULK_SENDS, BULK_READS, WORKLOAD_COUNT };
enum {
    ALL_WORKLOADS = (1 << WORKLOAD_COUNT) - 1,
    ROUND_TRIPS = 1 << ROUND_TRIP_1 | 1 << ROUND_TRIP_64,
    BULK_READ = 8192,  // a host's usual read, as a PostgreSQL host's
};

enum Transport {
    VIA_EXPORTS,  // the module's exports, in the row's library
    HAND_LOOP,    // the module's platform calls written out (handloop.cpp)
    PLAIN,        // plain blocking WinSock calls
};

// A profile key the row's library reads on its first _netopen. The
// profile holds it for that call only and is put back afterwards.
struct Setting {
    const char* section;
    const char* key;
    const char* value;
};
enum { MAX_SETTINGS = 3, MAX_CONTENDERS = 16 };

struct Contender {
    const char* name = NULL;
    Transport transport = VIA_EXPORTS;
    // VIA_EXPORTS: the library under build/ that the row loads as a host
    // does. Rows with different settings need libraries of their own: each
    // load reads the profile once.
    const char* library = NULL;
    Setting settings[MAX_SETTINGS] = {};
    // [Trace] File for the first _netopen (under build/, deleted before
    // and after the run; the --data-bytes option is written beside it).
    const char* traceFile = NULL;
    // Runs before the first _netopen, with the settings written, for what
    // only the run can tell; false (with a message) stops the run.
    bool (*setUp)(void) = NULL;
    unsigned workloads = ALL_WORKLOADS;  // bit 1 << Workload for each workload it runs
    char echoMode = PEER_MODE_ECHO;      // how the peer answers its round trips
    // The row whose time its own is divided by (NULL: none). For a floor
    // the ratio is taken the other way: the reference over the floor.
    const char* reference = NULL;
    bool floor = false;
    bool waitsLong = false;  // one of the long waits' contenders (idlewait.cpp)
};
extern const Contender contenders[];
extern const int contenderCount;
// The row of that name, or -1.
int ContenderIndex(const char* name);
// Leaves out every row not named in the comma-separated list (--only);
// false with a message for a name that is no row's.
bool ChooseContenders(const char* names);
// True when the row was not left out, and when it runs workload w.
bool Chosen(int who);
bool Runs(int who, Workload w);

// One connection of one contender.
struct Link {
    int who;                     // its row
    SOCKET s;
    char host[256];              // the host's record, for the module's calls
    unsigned long long streamed; // bulk bytes sent so far (pattern offset)
};

// Loads the library of every VIA_EXPORTS row, once per path, and checks
// that rows of different paths got libraries of their own; false with a
// message. UnloadContenders frees them and deletes the rows' trace files.
// dataBytes: DataBytes for the tracing rows (NULL: the drop-in's default).
bool LoadContenders(const char* dataBytes);
void UnloadContenders(void);
// The size of the row's trace file so far, in bytes; 0 without one.
double TraceSize(int who);
// Opens a connection to the service (module) or to 127.0.0.1:port. The
// row's first one is made with its settings in the profile.
bool OpenLink(Link* link, int who, const char* service, u_short port);
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

// --- The rows' settings (idleprofile.cpp) ---------------------------------------
// Writes the row's settings (and its trace file, and DataBytes when given)
// into the profile, keeping what the file held; RestoreProfile puts the
// file back as it was.
bool UseSettingsOf(int who, const char* dataBytes);
void RestoreProfile(void);
// Set-up of the ravoidle rows: checks that build/ravoidle.dll loads as the
// module will load it and names it in mcUserDll: its full path when it
// fits in 49 characters, else the bare name (found in this program's
// folder). False with a message (the module would show its box and fall
// back to pump mode).
bool UseIdleRoutine(void);

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
// Starts a bulk connection (PEER_MODE_DISCARD or PEER_MODE_STREAM): mode
// byte and piece size.
bool StartBulk(Link* link, char mode, unsigned long pieceBytes);
// One bulk piece of `bytes` in 64 KiB writes, ended by the peer's ack.
bool RunBulkPiece(Link* link, unsigned long bytes);
// One piece of `bytes` asked of a streaming peer, read in reads of up to
// BULK_READ, each checked against the pattern.
bool RunStreamPiece(Link* link, unsigned long bytes);

double Seconds(void);
// Marks progress for the watchdog that ends a stuck run.
void Progress(const char* what);
void StartWatchdog(DWORD stuckMs);

// --- Long waits on a silent server (idlewait.cpp) -----------------------------
// The contenders whose long waits are measured: the rows marked waitsLong.
enum { MAX_WAITERS = 4, MAX_WAITS = 20, MAX_POSTS = 1024 };

// One wait of holdMs on a silent connection: CPU of this process and of the
// prefix's wineserver, how late the read returned after the peer's answer
// left, and (in the waits with posts) how long window messages posted
// during it took to be dispatched.
struct LongWait {
    double seconds;
    double hostCpu, serverCpu;  // CPU seconds; serverCpu < 0: not measured
    double lateMs;
    double postLatencyMs[MAX_POSTS];
    int posts;
};
// Each waiter waits `waits` times in silence and `waits` times while
// another thread posts to its window every POST_INTERVAL_MS.
enum { QUIET, POSTED, WAIT_KINDS, POST_INTERVAL_MS = 23 };
struct LongWaits {
    int holdMs, waits;
    int waiters;
    int who[MAX_WAITERS];  // their rows
    LongWait wait[WAIT_KINDS][MAX_WAITERS][MAX_WAITS];
    int serverPid;  // 0: no wineserver of this prefix found
};
// Picks the waiters and opens their silent connections (after
// LoadContenders).
bool OpenSilentLinks(LongWaits* w, const char* service, u_short port);
void CloseSilentLinks(const LongWaits* w);
// Runs the waits, the two contenders taking turns.
bool RunLongWaits(LongWaits* w);
// The wineserver of this program's prefix (WINEPREFIX), found through
// /proc; 0 when there is none.
int FindWineServer(void);
// CPU seconds the process has used (user and system), or -1.
double UnixProcessCpu(int pid);
// The machine's load average (1, 5 and 15 minutes) as Linux gives it, or
// "not known".
void LoadAverage(char* out, int size);

// --- Figures ---------------------------------------------------------------
enum { MAX_ROUNDS = 200 };
enum CallCostKind { COST_SELECT_IDLE, COST_SELECT_READY, COST_HOOKS, COST_PEEK, COST_COUNT };

// What one run measured: per workload, contender and round, the cost of
// the work (seconds per round trip, or seconds per bulk round).
struct Results {
    int rounds;
    int roundTrips;          // per round and message size
    unsigned long bulkBytes; // per round
    int blockMode;
    double cost[WORKLOAD_COUNT][MAX_CONTENDERS][MAX_ROUNDS];
    unsigned long handPolls[WORKLOAD_COUNT], handWaits[WORKLOAD_COUNT];
    double totalSeconds;
    char loadBefore[32], loadAfter[32];  // the machine's load averages
    double traceBytes[MAX_CONTENDERS];   // size of each tracing row's trace at the end
    double callCost[COST_COUNT];  // microseconds per call (hooks: on and off)
    LongWaits longWaits;
};

// Times the wait's platform calls one by one on a connection of its own to
// the echo peer, with nothing to read; false with a message.
bool MeasureCallCosts(u_short port, Results* r);

// Prints the figures per contender, the ratios, and a Markdown table.
void PrintReport(const Results* results);
void PrintLongWaits(const LongWaits* w);
