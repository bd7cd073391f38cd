// ravobench: the module's round trips, bulk sends and bulk reads against a
// hand-written loop that makes its own platform calls (the floor of this
// design) and plain blocking WinSock, through the tracing drop-in, and with
// ravoidle.dll (block mode 3), each a row of contender_table.cpp, in one
// run; then long waits on a silent server: CPU, lateness and how soon
// posted window messages are dispatched. It prints the tables the docs show.
//
//   ravobench [--rounds N] [--trips N] [--mib N] [--hold-ms N] [--waits N]
//             [--service NAME] [--data-bytes N] [--only NAME,NAME...] [--quick]
//
// The contenders take turns in short slices of each round, in an order
// shuffled for each slice, so that the machine's drift and any advantage of
// going first, last or after another fall on all of them alike. The first
// round warms up and is not counted. No figure is judged here: the program
// fails only when bytes come back changed or a call fails.
#include "bench.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// A round's bulk bytes go in BULK_PIECES pieces, each ended by the peer's
// acknowledgement; ROUND_SLICES is a multiple of it.
enum { STUCK_MS = 60000, ROUND_SLICES = 8, BULK_PIECES = 4 };

struct Options {
    int rounds;
    int roundTrips;
    unsigned long bulkMiB;
    int holdMs;  // of each long wait
    int waits;   // long waits per contender
    const char* service;
    const char* dataBytes;  // DataBytes of the Data=1 contender; NULL: its default
    const char* only;       // the contenders to run; NULL: all
};

static bool ParseOptions(int argc, char** argv, Options* o)
{
    o->rounds = 15;
    o->roundTrips = 1000;
    o->bulkMiB = 16;
    o->holdMs = 5000;
    o->waits = 3;
    o->service = "ravotest5";
    o->dataBytes = NULL;
    o->only = NULL;
    for (int i = 1; i < argc; i++) {
        bool more = i + 1 < argc;
        if (strcmp(argv[i], "--quick") == 0) {
            o->rounds = 3;
            o->roundTrips = 50;
            o->bulkMiB = 1;
            o->holdMs = 300;
            o->waits = 1;
        } else if (strcmp(argv[i], "--hold-ms") == 0 && more) {
            o->holdMs = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--waits") == 0 && more) {
            o->waits = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--rounds") == 0 && more) {
            o->rounds = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--trips") == 0 && more) {
            o->roundTrips = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--mib") == 0 && more) {
            o->bulkMiB = strtoul(argv[++i], NULL, 10);
        } else if (strcmp(argv[i], "--service") == 0 && more) {
            o->service = argv[++i];
        } else if (strcmp(argv[i], "--data-bytes") == 0 && more) {
            o->dataBytes = argv[++i];
        } else if (strcmp(argv[i], "--only") == 0 && more) {
            o->only = argv[++i];
        } else {
            printf("usage: ravobench [--rounds N] [--trips N] [--mib N] [--hold-ms N] [--waits N] [--service NAME] "
                   "[--data-bytes N] [--only NAME,NAME...] [--quick]\n");
            return false;
        }
    }
    if (o->rounds < 1 || o->rounds > MAX_ROUNDS || o->roundTrips < 1 || o->bulkMiB < 1 || o->bulkMiB > 1024) {
        printf("expected 1-%d rounds, at least 1 round trip and 1-1024 MiB, seen %d, %d, %lu\n", MAX_ROUNDS,
               o->rounds, o->roundTrips, o->bulkMiB);
        return false;
    }
    // A long wait fills at most MAX_POSTS posts and stays within the watchdog's patience.
    if (o->holdMs < 100 || o->holdMs > 20000 || o->waits < 1 || o->waits > MAX_WAITS) {
        printf("expected a hold of 100-20000 ms and 1-%d waits, seen %d and %d\n", MAX_WAITS, o->holdMs, o->waits);
        return false;
    }
    return !o->only || ChooseContenders(o->only);
}

// Each contender has a connection for the round trips and one for each
// bulk workload it runs, open for the whole run.
static Link echoLink[MAX_CONTENDERS], sendLink[MAX_CONTENDERS], streamLink[MAX_CONTENDERS];

static bool OpenBulk(Link* link, int c, Workload w, char mode, const Options* o, u_short port, unsigned long piece)
{
    return !Runs(c, w) || (OpenLink(link, c, o->service, port) && StartBulk(link, mode, piece));
}

static bool OpenLinks(const Options* o, u_short port, unsigned long pieceBytes)
{
    for (int c = 0; c < contenderCount; c++) {
        const char echoMode = contenders[c].echoMode;
        if (!Chosen(c))
            continue;
        if (!OpenLink(&echoLink[c], c, o->service, port) || !SendAllOnLink(&echoLink[c], &echoMode, 1) ||
            !OpenBulk(&sendLink[c], c, BULK_SENDS, PEER_MODE_DISCARD, o, port, pieceBytes) ||
            !OpenBulk(&streamLink[c], c, BULK_READS, PEER_MODE_STREAM, o, port, pieceBytes))
            return false;
    }
    return true;
}

static void CloseLinks(void)
{
    for (int c = 0; c < contenderCount; c++) {
        CloseLink(&echoLink[c]);
        CloseLink(&sendLink[c]);
        CloseLink(&streamLink[c]);
    }
}

static bool RunShare(Workload w, int c, int trips, unsigned long pieceBytes)
{
    switch (w) {
    case ROUND_TRIP_1:
    case ROUND_TRIP_64:
        return RunRoundTrips(&echoLink[c], w == ROUND_TRIP_1 ? 1 : 64, trips);
    case BULK_SENDS:
        return RunBulkPiece(&sendLink[c], pieceBytes);
    default:
        return RunStreamPiece(&streamLink[c], pieceBytes);
    }
}

// Runs a share of one workload for one contender and adds its cost to the
// round's; false when the run must stop.
static bool Measure(Workload w, int c, int trips, int round, Results* r)
{
    unsigned long pollsBefore = handPolls, waitsBefore = handWaits;
    double start = Seconds();
    bool ok = RunShare(w, c, trips, r->bulkBytes / BULK_PIECES);
    double cost = Seconds() - start;
    if (round >= 0) {
        r->cost[w][c][round] += cost;
        r->handPolls[w] += handPolls - pollsBefore;
        r->handWaits[w] += handWaits - waitsBefore;
    }
    return ok;
}

// Gives each contender that runs the workload its turn at one share of it,
// in an order shuffled afresh for each share (a fixed sequence, the same in
// every run): with a fixed order each contender would always follow the
// same one and inherit what it leaves behind (a busy Wine server, a peer
// still at work, an idle core).
static bool TakeTurns(Workload w, int trips, int round, Results* r)
{
    static const char* const phase[WORKLOAD_COUNT] = {"1-byte round trips", "64-byte round trips", "bulk sends",
                                                      "bulk reads"};
    static unsigned long shuffle = 12345;
    int order[MAX_CONTENDERS];
    for (int c = 0; c < contenderCount; c++)
        order[c] = c;
    for (int c = contenderCount - 1; c > 0; c--) {
        shuffle = shuffle * 1103515245u + 12345u;
        int pick = (int)((shuffle >> 16) % (unsigned long)(c + 1)), kept = order[c];
        order[c] = order[pick];
        order[pick] = kept;
    }
    for (int turn = 0; turn < contenderCount; turn++) {
        Progress(phase[w]);
        if (Runs(order[turn], w) && !Measure(w, order[turn], trips, round, r))
            return false;
    }
    return true;
}

// A round is cut into slices, and the contenders take turns share by share
// (a slice of the round trips of each size, and every other slice a piece of
// the bulk transfer): the machine's drift and the other load on it then fall
// on all contenders alike, even within a round.
static bool RunRounds(Results* r)
{
    for (int round = -1; round < r->rounds; round++) {  // round -1 warms up
        for (int slice = 0; slice < ROUND_SLICES; slice++) {
            int trips = r->roundTrips * (slice + 1) / ROUND_SLICES - r->roundTrips * slice / ROUND_SLICES;
            if (trips > 0 && (!TakeTurns(ROUND_TRIP_1, trips, round, r) || !TakeTurns(ROUND_TRIP_64, trips, round, r)))
                return false;
            if (slice % (ROUND_SLICES / BULK_PIECES) == 0 &&
                (!TakeTurns(BULK_SENDS, 0, round, r) || !TakeTurns(BULK_READS, 0, round, r)))
                return false;
        }
        printf(round < 0 ? "warm-up done\n" : "round %d of %d done\n", round + 1, r->rounds);
        fflush(stdout);
    }
    return true;
}

static int RunBench(const Options* o)
{
    static Results results;
    Results* r = &results;
    r->rounds = o->rounds;
    r->roundTrips = o->roundTrips;
    r->bulkBytes = o->bulkMiB << 20;
    r->longWaits.holdMs = o->holdMs;
    r->longWaits.waits = o->waits;

    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
        printf("WSAStartup(1.1) failed\n");
        return 2;
    }
    FillPattern();
    // The hand loop idles as the module's settings make the module idle.
    r->blockMode = (int)GetPrivateProfileIntA(RAVO_PROFILE_SECTION, RAVO_KEY_BLOCK_MODE, BLOCK_MODE_PUMP,
                                              RAVO_PROFILE_FILE);
    if (r->blockMode == BLOCK_MODE_USER) {
        printf(RAVO_PROFILE_FILE " sets mcBlockMode=3 (a user idle routine), which the hand loop does not copy; "
               "remove it or choose 0, 1 or 2\n");
        return 2;
    }
    SetUpHandLoop(r->blockMode);
    char traceFile[MAX_PATH];
    GetPrivateProfileStringA(RAVO_TRACE_SECTION, RAVO_KEY_TRACE_FILE, "", traceFile, sizeof traceFile,
                             RAVO_PROFILE_FILE);
    if (traceFile[0]) {
        printf(RAVO_PROFILE_FILE " sets [%s] %s=%s: the drop-in is measured with tracing off; remove it\n",
               RAVO_TRACE_SECTION, RAVO_KEY_TRACE_FILE, traceFile);
        return 2;
    }

    struct servent* entry = getservbyname(o->service, "tcp");
    if (!entry) {
        printf("service %s/tcp not in the services file of the Wine prefix: WSA error %d\n", o->service,
               WSAGetLastError());
        return 2;
    }
    u_short port = ntohs(entry->s_port);
    printf("ravobench: service %s (port %u), %d rounds, %d round trips, %lu MiB bulk\n", o->service, port,
           o->rounds, o->roundTrips, o->bulkMiB);
    fflush(stdout);
    if (!StartPeerProcess(port))
        return 2;
    StartWatchdog(STUCK_MS);

    LoadAverage(r->loadBefore, sizeof r->loadBefore);
    double start = Seconds();
    bool ok = LoadContenders(o->dataBytes) && OpenLinks(o, port, r->bulkBytes / BULK_PIECES) &&
              OpenSilentLinks(&r->longWaits, o->service, port) && RunRounds(r);
    ok = ok && MeasureCallCosts(port, r) && RunLongWaits(&r->longWaits);
    r->totalSeconds = Seconds() - start;
    LoadAverage(r->loadAfter, sizeof r->loadAfter);
    CloseSilentLinks(&r->longWaits);
    CloseLinks();
    for (int c = 0; c < contenderCount; c++)
        r->traceBytes[c] = TraceSize(c);
    UnloadContenders();
    StopPeerProcess();
    if (!ok) {
        printf("FAILED: the run stopped early (see above)\n");
        return 1;
    }
    PrintReport(r);
    PrintLongWaits(&r->longWaits);
    printf("all bytes arrived intact\n");
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "--peer") == 0)
        return RunPeer((u_short)atoi(argv[2]), strtoul(argv[3], NULL, 10));
    Options options;
    if (!ParseOptions(argc, argv, &options))
        return 2;
    return RunBench(&options);
}
