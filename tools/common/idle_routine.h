// ravoidle.dll, the idle routine shipped for block mode 3: its names as an
// administrator writes them in the settings, and the numbers it waits by.
// The library, the probe, the benchmark and the tests take them from here.
#pragma once

#define RAVO_IDLE_DLL "ravoidle.dll"
#define RAVO_IDLE_FUNC "IdleTurn"

// Chosen with the benchmark (docs/maintainers.md, "Benchmark"), under Wine
// 8 on 2 shared cores:
// - the first IDLE_POLL_WINDOW_US of a wait only poll, as pump mode does, so
//   that a quick answer is not slept past. Under Wine that is the wait's
//   first idle turn (a poll that finds nothing lasts 0.2 to 1.1 ms there),
//   on Windows a few dozen turns. 1500 us kept round trips no faster and
//   left long waits costing as much CPU as pump mode: every call the gap
//   rule below takes for a new wait then polls for 1.5 ms;
// - after that each idle turn with an empty queue blocks for at most
//   IDLE_SLICE_US, or until input or a message arrives, so the socket is seen
//   ready at most one slice (and one poll) after the data came;
// - the routine has no arguments, so a call that comes more than
//   IDLE_NEW_WAIT_GAP_US after the last one returned begins a new wait.
//   Within a wait the calls are one poll apart; between two waits of a
//   round trip come a receive, a send and two polls. Under Wine one poll
//   that finds nothing can last as long as all of that, so no gap tells the
//   two apart every time: a longer gap makes round trips sleep through
//   answers (900 us: 1.2 times pump mode's time, 1 ms: 1.8 times), a
//   shorter one makes long waits poll more.
enum {
    IDLE_POLL_WINDOW_US = 300,
    IDLE_SLICE_US = 1000,
    IDLE_NEW_WAIT_GAP_US = 600,
};
