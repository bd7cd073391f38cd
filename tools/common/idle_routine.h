// ravoidle.dll, the idle routine shipped for block mode 3: its names as an
// administrator writes them in the settings, and the numbers it waits by.
// The library, the probe, the benchmark and the tests take them from here.
#pragma once

#define RAVO_IDLE_DLL "ravoidle.dll"
#define RAVO_IDLE_FUNC "IdleTurn"

// Chosen with the benchmark (docs/maintainers.md, "Benchmark"), under Wine
// 8 on 2 shared cores.
//
// The routine sees the module's polls (a wrapper in the calling module's
// import entry for select), so it knows the socket, the direction and
// where a wait begins:
// - the first IDLE_POLLING_TURNS turns of a wait return at once, as pump
//   mode's do: under Wine the module's next poll itself waits in the Wine
//   server and wakes when the data comes, which is cheaper for a quick
//   answer than the requests that make and remove an event association
//   (with 0, round trips took 1.26 and 1.33 times pump mode's time; with 1
//   to 3, within the machine's spread of pump mode's);
// - later turns of a read wait block on the socket's FD_READ and FD_CLOSE
//   and the thread's messages, for at most IDLE_WAIT_BOUND_MS. The bound is
//   how late a request made outside the thread's messages (a host thread
//   setting interruptRequest) can be seen; one from the host's callback or
//   a window procedure, such as the user's Cancel, is seen at once. Each
//   bound that passes costs a turn and a poll of the module, about five
//   requests to the Wine server: a silent wait took 4.0 to 4.2% of a core
//   (host process and wineserver) with 20 ms, 1.2 to 3.0% with 50 ms, 0.8%
//   with 100 ms, where a process blocked in recv took 0.4 to 0.8%;
// - write waits are not woken by the socket: FD_WRITE comes only after a
//   send failed, which the module's polled sends rarely do (measured under
//   Wine: no FD_WRITE after a drain once the buffers filled without a
//   failed send). After the same polling turns they block in slices of
//   IDLE_SLICE_US instead (8 polling turns for write waits measured bulk
//   sends no faster: 1.013 and 1.032 times pump mode's time, against 0.966
//   and 0.971 with 1);
//
// Where the wrapper cannot be put in (no select entry, no WS2_32) the
// routine guesses as it did before it could see the polls: a call more
// than IDLE_NEW_WAIT_GAP_US after the last one returned begins a new wait,
// the first IDLE_POLL_WINDOW_US of a wait only poll, then slices.
enum {
    IDLE_POLLING_TURNS = 1,
    IDLE_WAIT_BOUND_MS = 100,
    IDLE_SLICE_US = 1000,
    IDLE_POLL_WINDOW_US = 300,
    IDLE_NEW_WAIT_GAP_US = 600,
};
