// Long waits on a silent server, the module in pump mode against the module
// with ravoidle.dll: the CPU a waiting host costs (its own and the Wine
// server's), in silence and while window messages are posted to the
// waiting thread, how late the wait ends after the answer left the peer,
// and how soon the posted messages are dispatched.
#include "bench.h"
#include <stdio.h>

static Link silentLink[MAX_WAITERS];

// A host's other threads post to its windows now and then; 23 ms apart
// keeps the posts out of step with any timer tick.
enum { POSTED_MESSAGE = WM_APP + 1, POSTER_END_MS = 5000 };

bool OpenSilentLinks(LongWaits* w, const char* service, u_short port)
{
    const char silentMode = PEER_MODE_SILENT;
    w->waiters = 0;
    for (int c = 0; c < contenderCount && w->waiters < MAX_WAITERS; c++)
        if (contenders[c].waitsLong && Chosen(c))
            w->who[w->waiters++] = c;
    for (int i = 0; i < w->waiters; i++)
        if (!OpenLink(&silentLink[i], w->who[i], service, port) || !SendAllOnLink(&silentLink[i], &silentMode, 1))
            return false;
    return true;
}

void CloseSilentLinks(const LongWaits* w)
{
    for (int i = 0; i < w->waiters; i++)
        CloseLink(&silentLink[i]);
}

// The posting thread and the window it posts to.
struct Posting {
    HWND window;
    HANDLE stop;
    double postedAt[MAX_POSTS];
    LongWait* into;  // the wait in progress; NULL while the queue is drained
};
static Posting posting;

static LRESULT CALLBACK CountPosted(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    LongWait* w = posting.into;
    if (message != POSTED_MESSAGE)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    if (w && wParam < MAX_POSTS && w->posts < MAX_POSTS)
        w->postLatencyMs[w->posts++] = (Seconds() - posting.postedAt[wParam]) * 1e3;
    return 0;
}

static DWORD WINAPI PostMessages(LPVOID)
{
    for (WPARAM n = 0; n < MAX_POSTS && WaitForSingleObject(posting.stop, POST_INTERVAL_MS) == WAIT_TIMEOUT; n++) {
        posting.postedAt[n] = Seconds();
        PostMessageA(posting.window, POSTED_MESSAGE, n, 0);
    }
    return 0;
}

static double ProcessCpu(void)
{
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}}, u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return (double)(k.QuadPart + u.QuadPart) / 1e7;
}

// The performance counter's reading in milliseconds.
static double CounterMs(LONGLONG counter)
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    return (double)counter * 1e3 / (double)frequency.QuadPart;
}

// One wait of holdMs for the waiter's answer, messages posted meanwhile
// when asked.
static bool OneWait(int i, int holdMs, int serverPid, bool posts, LongWait* w)
{
    unsigned char hold[4] = {(unsigned char)holdMs, (unsigned char)(holdMs >> 8), (unsigned char)(holdMs >> 16),
                             (unsigned char)(holdMs >> 24)};
    if (!SendAllOnLink(&silentLink[i], (const char*)hold, sizeof hold))
        return false;
    w->posts = 0;
    posting.into = w;
    ResetEvent(posting.stop);
    HANDLE poster = posts ? CreateThread(NULL, 0, PostMessages, NULL, 0, NULL) : NULL;
    double serverBefore = serverPid ? UnixProcessCpu(serverPid) : -1;
    double hostBefore = ProcessCpu();
    double start = Seconds();
    unsigned char stamp[8];
    bool ok = ReadExact(&silentLink[i], (char*)stamp, sizeof stamp);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    w->seconds = Seconds() - start;
    w->hostCpu = ProcessCpu() - hostBefore;
    double serverAfter = serverPid ? UnixProcessCpu(serverPid) : -1;
    w->serverCpu = serverBefore >= 0 && serverAfter >= 0 ? serverAfter - serverBefore : -1;
    LONGLONG sentAt = 0;
    for (int b = 7; b >= 0; b--)
        sentAt = sentAt << 8 | stamp[b];
    w->lateMs = CounterMs(now.QuadPart - sentAt);
    SetEvent(posting.stop);
    if (poster) {
        WaitForSingleObject(poster, POSTER_END_MS);
        CloseHandle(poster);
    }
    // Posts still queued after the wait are not the wait's.
    posting.into = NULL;
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    return ok;
}

bool RunLongWaits(LongWaits* w)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CountPosted;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "RavoBenchPosted";
    RegisterClassA(&wc);
    posting.window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
    posting.stop = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!posting.window || !posting.stop) {
        printf("cannot make the window or event for the long waits: error %lu\n", GetLastError());
        return false;
    }
    w->serverPid = FindWineServer();
    bool ok = true;
    // They take turns, the first rotating, as in the rounds.
    for (int n = 0; ok && n < w->waits; n++) {
        for (int turn = 0; ok && turn < w->waiters; turn++) {
            int i = (n + turn) % w->waiters;
            for (int kind = 0; ok && kind < WAIT_KINDS; kind++) {
                Progress("long waits");
                ok = OneWait(i, w->holdMs, w->serverPid, kind == POSTED, &w->wait[kind][i][n]);
            }
        }
        printf("long waits %d of %d done\n", n + 1, w->waits);
        fflush(stdout);
    }
    DestroyWindow(posting.window);
    CloseHandle(posting.stop);
    return ok;
}
