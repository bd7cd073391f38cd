// Input blocking with real input: while _netread waits in pump mode, a
// second thread types and clicks into the waiting thread's focused window
// with SendInput. The module's thread hooks must swallow all of it, beeping
// on key messages and button presses; after the wait the window gets its
// input again. Also the two hook procedures called directly.
#include "check.h"
#include "idle_routine.h"
#include "intercept.h"
#include "peer.h"
#include "ravo.h"
#include <stdio.h>
#include <string.h>

enum {
    WINDOW_X = 100, WINDOW_Y = 100, WINDOW_W = 400, WINDOW_H = 300,
    SETTLE_MS = 3000,   // bound for the window to become active and the cursor to arrive
    STEP_MS = 5000,     // bound for each hand-over between the threads
    QUIET_MS = 100,     // a queue this long without messages is taken as drained
    MAX_PROBED = 64,
};
static const char REPLY[] = "input: done";

// --- The host's window: counts the input messages that reach it ----------

struct WindowSeen {
    int keyDown, keyUp, chars, leftDown, leftUp, leftDouble, moves, timers;
};
static WindowSeen seenInWait, seenAfter;
static WindowSeen* seen = &seenAfter;
static HANDLE ticksArrived;  // set when the window got ticksWanted timer ticks in a wait
static int ticksWanted;

static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_KEYDOWN: seen->keyDown++; break;
    case WM_KEYUP: seen->keyUp++; break;
    case WM_CHAR: seen->chars++; break;
    case WM_LBUTTONDOWN: seen->leftDown++; break;
    case WM_LBUTTONUP: seen->leftUp++; break;
    case WM_LBUTTONDBLCLK: seen->leftDouble++; break;
    case WM_MOUSEMOVE: seen->moves++; break;
    case WM_TIMER:
        if (++seen->timers == ticksWanted && seen == &seenInWait)
            SetEvent(ticksArrived);
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

static HWND window;

// Takes the thread's messages until none came for QUIET_MS (bounded).
static void DrainMessages(void)
{
    DWORD start = GetTickCount(), lastMessage = start;
    while (GetTickCount() - lastMessage < QUIET_MS && GetTickCount() - start < SETTLE_MS) {
        MSG msg;
        if (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            lastMessage = GetTickCount();
        } else {
            Sleep(1);
        }
    }
}

// Absolute SendInput coordinates for a screen point.
static LONG NormalX(int x)
{
    int w = GetSystemMetrics(SM_CXSCREEN);
    return (LONG)(((LONGLONG)x * 65536 + w - 1) / w);
}
static LONG NormalY(int y)
{
    int h = GetSystemMetrics(SM_CYSCREEN);
    return (LONG)(((LONGLONG)y * 65536 + h - 1) / h);
}

static POINT InWindow(int dx, int dy)
{
    POINT p = {WINDOW_X + WINDOW_W / 2 + dx, WINDOW_Y + WINDOW_H / 2 + dy};
    return p;
}

static INPUT MouseAt(POINT p, DWORD buttons)
{
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = NormalX(p.x);
    in.mi.dy = NormalY(p.y);
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | buttons;
    return in;
}

static INPUT Key(WORD vk, bool up)
{
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = (WORD)MapVirtualKeyA(vk, 0);
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
}

// A visible window of this thread that is foreground, active and focused,
// with the cursor over it and the queue drained. The class asks for double
// clicks. The window is made once and kept for all cases: destroying a
// focused window costs Wine about two seconds. False (reported) when the
// platform would not make it so in time.
static bool PrepareWindow(void)
{
    if (!window) {
        WNDCLASSA wc = {};
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.hCursor = LoadCursor(NULL, IDC_ARROW);
        wc.lpszClassName = "RavoInputTest";
        RegisterClassA(&wc);
        window = CreateWindowExA(WS_EX_TOPMOST, "RavoInputTest", "input", WS_POPUP | WS_VISIBLE, WINDOW_X, WINDOW_Y,
                                 WINDOW_W, WINDOW_H, NULL, NULL, GetModuleHandleA(NULL), NULL);
        if (!CHECK(window != NULL, "CreateWindowEx failed: error %lu", GetLastError()))
            return false;
        UpdateWindow(window);
    }
    POINT centre = InWindow(0, 0);
    DWORD start = GetTickCount();
    bool ready = false;
    while (!ready && GetTickCount() - start < SETTLE_MS) {
        SetForegroundWindow(window);
        SetFocus(window);
        INPUT move = MouseAt(centre, 0);
        SendInput(1, &move, sizeof move);
        DrainMessages();
        POINT cursor;
        GetCursorPos(&cursor);
        ready = GetForegroundWindow() == window && GetActiveWindow() == window && GetFocus() == window &&
                cursor.x == centre.x && cursor.y == centre.y;
    }
    POINT cursor;
    GetCursorPos(&cursor);
    memset(&seenInWait, 0, sizeof seenInWait);
    memset(&seenAfter, 0, sizeof seenAfter);
    return CHECK(ready, "window %p not ready in %d ms: foreground %p, active %p, focus %p, cursor (%ld,%ld) for (%ld,%ld)",
                 (void*)window, SETTLE_MS, (void*)GetForegroundWindow(), (void*)GetActiveWindow(), (void*)GetFocus(),
                 cursor.x, cursor.y, centre.x, centre.y);
}

// --- Probes: our own thread hooks, installed over the module's ----------
// Thread hooks run newest first, so these see every input message the
// waiting thread retrieves, pass it on to the module's hook and return its
// verdict. They tell the input thread when its last message was taken.

struct Probed {
    bool key;
    WPARAM wParam;  // virtual key, or mouse message
    LPARAM info;    // key information, or 0
    POINT pt;
};
static Probed probed[MAX_PROBED];
static volatile LONG probedCount;
static HHOOK keyboardProbe, mouseProbe;

// The message that ends an input sequence: the nth of its kind.
static bool awaitKeyUp;         // a key release (bit 31), else a mouse message
static WPARAM awaitMessage;     // mouse message awaited
static int awaitCount;
static int awaitSeen;
static HANDLE inputTaken;       // set when the awaited message was retrieved

static void Probe(bool key, WPARAM wParam, LPARAM info, POINT pt)
{
    if (probedCount < MAX_PROBED)
        probed[probedCount++] = {key, wParam, info, pt};
    bool last = key ? awaitKeyUp && (info & 0x80000000) : !awaitKeyUp && wParam == awaitMessage;
    if (last && ++awaitSeen == awaitCount)
        SetEvent(inputTaken);
}

static LRESULT CALLBACK KeyboardProbe(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION)
        Probe(true, wParam, lParam, POINT{0, 0});
    return CallNextHookEx(keyboardProbe, code, wParam, lParam);
}

static LRESULT CALLBACK MouseProbe(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION)
        Probe(false, wParam, 0, ((MOUSEHOOKSTRUCT*)lParam)->pt);
    return CallNextHookEx(mouseProbe, code, wParam, lParam);
}

static int ProbedMouse(WPARAM message)
{
    int n = 0;
    for (int i = 0; i < probedCount; i++)
        n += !probed[i].key && probed[i].wParam == message;
    return n;
}

static int ProbedKeys(void)
{
    int n = 0;
    for (int i = 0; i < probedCount; i++)
        n += probed[i].key;
    return n;
}

// --- The wait and the input thread -------------------------------------

static Peer peer;
static HANDLE hooked;           // set once the module's hooks are in place
static bool mouseHookCalled;
static volatile LONG beeps;

// Watches the module's calls on the waiting thread: once the mouse hook has
// been installed and the next poll comes, both hooks are in; the probes go
// over them and the input thread may start.
static void Observe(const char* name, const LONG* args)
{
    if (strcmp(name, "MessageBeep") == 0) {
        beeps++;
    } else if (strcmp(name, "SetWindowsHookExA") == 0 && args[0] == WH_MOUSE) {
        mouseHookCalled = true;
    } else if (strcmp(name, "select") == 0 && mouseHookCalled && !keyboardProbe) {
        keyboardProbe = SetWindowsHookExA(WH_KEYBOARD, KeyboardProbe, NULL, GetCurrentThreadId());
        mouseProbe = SetWindowsHookExA(WH_MOUSE, MouseProbe, NULL, GetCurrentThreadId());
        SetEvent(hooked);
    }
}

static BOOL WINAPI NoBeep(UINT)
{
    return TRUE;  // counted by the observer; a test makes no sound
}

struct InputPlan {
    INPUT inputs[8];
    int count;
    bool sent;
    bool taken;
    bool afterTicks;  // send only once the window got ticksWanted timer ticks
};

// The input thread: waits until the hooks are in (and the ticks, when the
// plan asks for them), sends the input, waits
// until the waiting thread has retrieved the last of it, then lets the
// peer answer so that the read ends. The peer is released on every way
// out, so the read always ends.
static DWORD WINAPI InputThread(LPVOID arg)
{
    InputPlan* plan = (InputPlan*)arg;
    if (WaitForSingleObject(hooked, STEP_MS) == WAIT_OBJECT_0 &&
        (!plan->afterTicks || WaitForSingleObject(ticksArrived, STEP_MS) == WAIT_OBJECT_0)) {
        plan->sent = SendInput(plan->count, plan->inputs, sizeof(INPUT)) == (UINT)plan->count;
        plan->taken = plan->sent && WaitForSingleObject(inputTaken, STEP_MS) == WAIT_OBJECT_0;
    }
    SetEvent(peer.go);
    return 0;
}

struct WaitResult {
    LONG got;
    LONG error;
    int beeps;
};

// Runs one _netread in pump mode while the input thread sends the plan; the
// read ends when the input was taken. Removes the probes afterwards, then
// runs afterWait (if any) while the module is still loaded.
static bool ReadDuringInput(InputPlan* plan, WaitResult* w, void (*afterWait)(void))
{
    Ravo r;
    TestConn conn;
    InitConn(&conn);
    memset(w, 0, sizeof *w);
    probedCount = 0;
    awaitSeen = 0;
    beeps = 0;
    mouseHookCalled = false;
    ResetEvent(hooked);
    ResetEvent(inputTaken);
    ResetEvent(peer.go);
    if (!LoadRavo(&r))
        return false;
    OverrideCall("MessageBeep", (void*)NoBeep);
    SetCallObserver(Observe);
    LONG error = 0;
    LONG s = r._netopen("127.0.0.1", "ravotest1", 0, 0, &error, 0, &conn);
    bool ok = CHECK(s != -1, "_netopen failed with %ld", error);
    if (ok) {
        HANDLE thread = CreateThread(NULL, 0, InputThread, plan, 0, NULL);
        seen = &seenInWait;
        char buffer[64];
        w->got = r._netread(s, buffer, sizeof buffer, &w->error, &conn);
        seen = &seenAfter;
        ok = CHECK(WaitForSingleObject(thread, STEP_MS) == WAIT_OBJECT_0, "the input thread did not end");
        CloseHandle(thread);
        CHECK_EQ((LONG)sizeof REPLY - 1, w->got, "_netread result after the input");
        ok = CHECK(plan->sent, "the input was not sent: the hooks (or the timer ticks awaited) were not seen within %d ms, or SendInput failed",
                   STEP_MS) && ok;
        ok = CHECK(plan->taken, "the waiting thread did not retrieve the last input within %d ms; probed %ld messages",
                   STEP_MS, probedCount) && ok;
        CHECK_EQ(0, r._netclose(s, 0), "_netclose");
        WaitConnectionEnded(&peer, STEP_MS);
    }
    SetCallObserver(NULL);
    w->beeps = beeps;
    UnhookWindowsHookEx(keyboardProbe);
    UnhookWindowsHookEx(mouseProbe);
    keyboardProbe = mouseProbe = NULL;
    if (ok && afterWait)
        afterWait();
    UnloadRavo(&r);
    return ok;
}

// The profile's [Environment] lines; NULL: none, pump mode.
static bool SetUp(const char* profile = NULL)
{
    WriteProfile(profile);
    if (!hooked) {
        hooked = CreateEventA(NULL, TRUE, FALSE, NULL);
        inputTaken = CreateEventA(NULL, TRUE, FALSE, NULL);
        ticksArrived = CreateEventA(NULL, TRUE, FALSE, NULL);
    }
    if (!StartPeer(&peer, "ravotest1", PEER_REPLY_ON_EVENT))
        return false;
    memcpy(peer.reply, REPLY, sizeof REPLY - 1);
    peer.replyLength = sizeof REPLY - 1;
    if (PrepareWindow())
        return true;
    StopPeer(&peer);
    return false;
}

static void TearDown(void)
{
    DrainMessages();
    StopPeer(&peer);
    RemoveProfile();
}

static void AwaitKeyUps(int n)
{
    awaitKeyUp = true;
    awaitCount = n;
}

static void AwaitMouse(WPARAM message, int n)
{
    awaitKeyUp = false;
    awaitMessage = message;
    awaitCount = n;
}

TEST_CASE(a_key_press_during_the_wait_beeps_twice_and_reaches_no_window)
{
    if (!SetUp())
        return;
    InputPlan plan = {{Key('A', false), Key('A', true)}, 2, false, false, false};
    AwaitKeyUps(1);
    WaitResult w;
    if (ReadDuringInput(&plan, &w, NULL)) {
        CHECK_EQ(2, ProbedKeys(), "key messages retrieved during the wait");
        CHECK_EQ(2, w.beeps, "beeps for a key press (down and up)");
        CHECK(seenInWait.keyDown == 0 && seenInWait.chars == 0 && seenInWait.keyUp == 0,
              "the window got key messages during the wait: %d down, %d char, %d up", seenInWait.keyDown,
              seenInWait.chars, seenInWait.keyUp);
    }
    TearDown();
}

TEST_CASE(a_left_click_during_the_wait_beeps_once_on_the_press)
{
    if (!SetUp())
        return;
    POINT p = InWindow(-60, -40);
    InputPlan plan = {{MouseAt(p, MOUSEEVENTF_LEFTDOWN), MouseAt(p, MOUSEEVENTF_LEFTUP)}, 2, false, false, false};
    AwaitMouse(WM_LBUTTONUP, 1);
    WaitResult w;
    if (ReadDuringInput(&plan, &w, NULL)) {
        CHECK(ProbedMouse(WM_LBUTTONDOWN) == 1 && ProbedMouse(WM_LBUTTONUP) == 1,
              "button messages retrieved: expected 1 down and 1 up, seen %d and %d", ProbedMouse(WM_LBUTTONDOWN),
              ProbedMouse(WM_LBUTTONUP));
        CHECK_EQ(1, w.beeps, "beeps for a left click");
        CHECK(seenInWait.leftDown == 0 && seenInWait.leftUp == 0 && seenInWait.moves == 0,
              "the window got mouse messages during the wait: %d down, %d up, %d moves", seenInWait.leftDown,
              seenInWait.leftUp, seenInWait.moves);
    }
    TearDown();
}

TEST_CASE(a_double_click_during_the_wait_beeps_on_the_double_click_message_too)
{
    if (!SetUp())
        return;
    POINT p = InWindow(60, 40);
    InputPlan plan = {{MouseAt(p, MOUSEEVENTF_LEFTDOWN), MouseAt(p, MOUSEEVENTF_LEFTUP), MouseAt(p, MOUSEEVENTF_LEFTDOWN),
                       MouseAt(p, MOUSEEVENTF_LEFTUP)},
                      4, false, false, false};
    AwaitMouse(WM_LBUTTONUP, 2);
    WaitResult w;
    if (ReadDuringInput(&plan, &w, NULL)) {
        CHECK(ProbedMouse(WM_LBUTTONDOWN) == 1 && ProbedMouse(WM_LBUTTONDBLCLK) == 1 && ProbedMouse(WM_LBUTTONUP) == 2,
              "button messages retrieved: expected 1 down, 1 double-click, 2 up; seen %d, %d, %d",
              ProbedMouse(WM_LBUTTONDOWN), ProbedMouse(WM_LBUTTONDBLCLK), ProbedMouse(WM_LBUTTONUP));
        CHECK_EQ(2, w.beeps, "beeps for a double click (press and double-click)");
        CHECK(seenInWait.leftDown == 0 && seenInWait.leftDouble == 0 && seenInWait.leftUp == 0,
              "the window got button messages during the wait: %d down, %d double, %d up", seenInWait.leftDown,
              seenInWait.leftDouble, seenInWait.leftUp);
    }
    TearDown();
}

TEST_CASE(a_mouse_move_during_the_wait_is_silent_and_reaches_no_window)
{
    if (!SetUp())
        return;
    InputPlan plan = {{MouseAt(InWindow(30, 20), 0), MouseAt(InWindow(50, 35), 0)}, 2, false, false, false};
    AwaitMouse(WM_MOUSEMOVE, 2);
    WaitResult w;
    if (ReadDuringInput(&plan, &w, NULL)) {
        CHECK(ProbedMouse(WM_MOUSEMOVE) >= 2, "moves retrieved during the wait: expected 2, seen %d",
              ProbedMouse(WM_MOUSEMOVE));
        CHECK_EQ(0, w.beeps, "beeps for mouse moves");
        CHECK_EQ(0, seenInWait.moves, "mouse moves that reached the window during the wait");
    }
    TearDown();
}

// Through ravoidle.dll the module's hooks still swallow the input: the
// routine wakes for it from its slice and takes it off the queue with the
// hooks in place.
TEST_CASE(through_ravoidle_a_key_press_and_a_click_are_swallowed_with_their_beeps)
{
    if (!SetUp("mcBlockMode=3\r\nmcUserDll=" RAVO_IDLE_DLL "\r\nmcUserFunc=" RAVO_IDLE_FUNC))
        return;
    POINT p = InWindow(-80, 50);
    InputPlan plan = {{Key('C', false), Key('C', true), MouseAt(p, MOUSEEVENTF_LEFTDOWN), MouseAt(p, MOUSEEVENTF_LEFTUP)},
                      4, false, false, false};
    AwaitMouse(WM_LBUTTONUP, 1);
    WaitResult w;
    if (ReadDuringInput(&plan, &w, NULL)) {
        CHECK(GetModuleHandleA(RAVO_IDLE_DLL), "%s was not loaded by the module", RAVO_IDLE_DLL);
        CHECK_EQ(3, w.beeps, "beeps for a key press and a click (key down, key up, button press)");
        CHECK(seenInWait.keyDown + seenInWait.chars + seenInWait.keyUp + seenInWait.leftDown + seenInWait.leftUp == 0,
              "the window got input during the wait: %d down, %d char, %d up, %d press, %d release", seenInWait.keyDown,
              seenInWait.chars, seenInWait.keyUp, seenInWait.leftDown, seenInWait.leftUp);
    }
    TearDown();
}

// A quit pending when the wait starts must not stop the pump: the timer's
// ticks go on reaching the window, keys are still swallowed with beeps, and
// the host's own loop finds the quit, once, after the call.
TEST_CASE(a_pending_quit_does_not_stop_the_pump_and_is_posted_back_once)
{
    if (!SetUp())
        return;
    enum { TICK_MS = 15, QUIT_CODE = 7 };
    ticksWanted = 3;
    ResetEvent(ticksArrived);
    SetTimer(window, 1, TICK_MS, NULL);
    PostQuitMessage(QUIT_CODE);
    InputPlan plan = {{Key('Q', false), Key('Q', true)}, 2, false, false, true};
    AwaitKeyUps(1);
    WaitResult w;
    if (ReadDuringInput(&plan, &w, NULL)) {
        CHECK(seenInWait.timers >= ticksWanted, "timer ticks that reached the window during the wait: expected %d or "
              "more, seen %d", ticksWanted, seenInWait.timers);
        CHECK_EQ(2, w.beeps, "beeps for a key press with a quit pending");
        CHECK(seenInWait.keyDown == 0 && seenInWait.chars == 0 && seenInWait.keyUp == 0,
              "the window got key messages during the wait: %d down, %d char, %d up", seenInWait.keyDown,
              seenInWait.chars, seenInWait.keyUp);
    }
    KillTimer(window, 1);
    ticksWanted = 0;
    MSG msg;
    BOOL quit = PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE);
    CHECK(quit && msg.wParam == QUIT_CODE, "WM_QUIT after the call: expected code %d, seen %s %u", QUIT_CODE,
          quit ? "code" : "none", quit ? (unsigned)msg.wParam : 0);
    CHECK(!PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE), "a second WM_QUIT was queued");
    TearDown();
}

// With the module still loaded and its wait over, the same kinds of input
// reach the window: a key press (with its character) and a click.
static void InputReachesTheWindow(void)
{
    int beepsInWait = beeps;
    POINT p = InWindow(-100, 60);
    INPUT again[] = {Key('B', false), Key('B', true), MouseAt(p, MOUSEEVENTF_LEFTDOWN), MouseAt(p, MOUSEEVENTF_LEFTUP)};
    CHECK_EQ(4, SendInput(4, again, sizeof(INPUT)), "inputs sent after the wait");
    SetCallObserver(Observe);  // counts any beep
    DWORD start = GetTickCount();
    while (seenAfter.leftUp == 0 && GetTickCount() - start < STEP_MS) {
        MSG msg;
        if (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } else {
            Sleep(1);
        }
    }
    SetCallObserver(NULL);
    CHECK(seenAfter.keyDown == 1 && seenAfter.chars == 1 && seenAfter.keyUp == 1,
          "key messages after the wait: expected 1 down, 1 char, 1 up; seen %d, %d, %d", seenAfter.keyDown,
          seenAfter.chars, seenAfter.keyUp);
    CHECK(seenAfter.leftDown == 1 && seenAfter.leftUp == 1,
          "button messages after the wait: expected 1 down and 1 up; seen %d and %d", seenAfter.leftDown,
          seenAfter.leftUp);
    CHECK_EQ(beepsInWait, beeps, "beeps: none after the wait");
}

TEST_CASE(after_the_wait_keys_and_clicks_reach_the_window_again)
{
    if (!SetUp())
        return;
    InputPlan plan = {{Key('B', false), Key('B', true)}, 2, false, false, false};
    AwaitKeyUps(1);
    WaitResult w;
    if (ReadDuringInput(&plan, &w, InputReachesTheWindow))
        CHECK_EQ(2, w.beeps, "beeps for the key press during the wait");
    TearDown();
}

// --- The hook procedures called directly ---------------------------------

struct HookCall {
    int ordinal;  // 1 KybdBlockProc, 2 MouseBlockProc
    int code;
    WPARAM wParam;
    LPARAM lParam;
    int beeps;
};

TEST_CASE(hook_procedures_called_directly_return_1_and_beep_as_the_table_says)
{
    static const HookCall calls[] = {
        // Keyboard: only bit 15 of the key information silences the beep.
        {1, HC_ACTION, 'A', 0x001E0001, 1},           // key down
        {1, HC_ACTION, 'A', (LPARAM)0xC01E0001, 1},   // key up: bit 31 does not silence it
        {1, HC_ACTION, 'A', 0x00008000, 0},           // bit 15
        {1, HC_ACTION, 'A', (LPARAM)0xC0008001, 0},   // bit 15 with key up
        {1, HC_ACTION, 'A', 0x00007FFF, 1},           // repeat count just below bit 15
        {1, HC_NOREMOVE, VK_RETURN, 0x00010001, 1},   // code and key are not looked at
        {1, -1, 0, 1, 1},
        // Mouse: presses and double-clicks beep, nothing else does.
        {2, HC_ACTION, WM_LBUTTONDOWN, 0, 1},
        {2, HC_ACTION, WM_LBUTTONDBLCLK, 0, 1},
        {2, HC_ACTION, WM_RBUTTONDOWN, 0, 1},
        {2, HC_ACTION, WM_RBUTTONDBLCLK, 0, 1},
        {2, HC_ACTION, WM_MBUTTONDOWN, 0, 1},
        {2, HC_NOREMOVE, WM_MBUTTONDBLCLK, 0, 1},
        {2, HC_ACTION, WM_MOUSEMOVE, 0, 0},
        {2, HC_ACTION, WM_LBUTTONUP, 0, 0},
        {2, HC_ACTION, WM_RBUTTONUP, 0, 0},
        {2, HC_ACTION, WM_MBUTTONUP, 0, 0},
        {2, HC_ACTION, WM_NCLBUTTONDOWN, 0, 0},
        {2, HC_ACTION, WM_NCLBUTTONDBLCLK, 0, 0},
        {2, HC_ACTION, WM_MOUSEWHEEL, 0, 0},
        {2, HC_ACTION, 0x020B, 0, 0},  // WM_XBUTTONDOWN
        {2, HC_ACTION, 0, 0, 0},
    };
    Ravo r;
    if (!LoadRavo(&r))
        return;
    OverrideCall("MessageBeep", (void*)NoBeep);
    HookProcFn procs[3] = {NULL, (HookProcFn)(void*)GetProcAddress(r.dll, MAKEINTRESOURCEA(1)),
                           (HookProcFn)(void*)GetProcAddress(r.dll, MAKEINTRESOURCEA(2))};
    if (CHECK(procs[1] && procs[2], "ordinals 1 and 2 missing") &&
        CHECK(procs[1] == r.KybdBlockProc && procs[2] == r.MouseBlockProc,
              "ordinals 1 and 2 are not KybdBlockProc and MouseBlockProc")) {
        for (const HookCall& c : calls) {
            ClearCallLog();
            LRESULT result = procs[c.ordinal](c.code, c.wParam, c.lParam);
            const char* name = c.ordinal == 1 ? "KybdBlockProc" : "MouseBlockProc";
            CHECK(result == 1, "%s(%d, 0x%lx, 0x%lx): expected 1, seen %ld", name, c.code, (long)c.wParam,
                  (long)c.lParam, (long)result);
            CHECK(CallCount("MessageBeep") == c.beeps, "%s(%d, 0x%lx, 0x%lx): expected %d beeps, seen %d (calls: %s)",
                  name, c.code, (long)c.wParam, (long)c.lParam, c.beeps, CallCount("MessageBeep"), CallLogText());
            const CallRecord* beep = CallAt(CallIndex("MessageBeep", 1));
            if (beep)
                CHECK_EQ(0xFFFFFFFF, (DWORD)beep->arg[0], "MessageBeep type (the standard beep)");
        }
    }
    UnloadRavo(&r);
}

int main(int argc, char** argv)
{
    return RunAllTests(argc, argv);
}
