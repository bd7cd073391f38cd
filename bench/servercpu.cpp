// The CPU the Wine server spends for this program. Under Wine every wait
// call is a request to the prefix's wineserver, so a waiting host's cost is
// its own CPU and the server's together. The server is a Linux process:
// found and read through /proc, which Wine shows as Z:\proc.
#include "bench.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { PROC_FILE_SIZE = 16384, LINUX_TICKS_PER_SECOND = 100 };  // USER_HZ on Linux

// Reads a small /proc file whole; its length, or -1.
static int ReadProcFile(const char* path, char* out, int size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    int length = 0;
    DWORD got;
    while (length < size - 1 && ReadFile(file, out + length, size - 1 - length, &got, NULL) && got > 0)
        length += (int)got;
    CloseHandle(file);
    out[length] = 0;
    return length;
}

// True when the NUL-separated environment holds WINEPREFIX=prefix (a
// trailing slash on either side does not count).
static bool HasPrefix(const char* entries, int length, const char* prefix)
{
    size_t want = strlen(prefix);
    while (want > 1 && prefix[want - 1] == '/')
        want--;
    for (const char* entry = entries; entry < entries + length; entry += strlen(entry) + 1) {
        if (strncmp(entry, "WINEPREFIX=", 11) != 0)
            continue;
        const char* value = entry + 11;
        size_t have = strlen(value);
        while (have > 1 && value[have - 1] == '/')
            have--;
        return have == want && strncmp(value, prefix, want) == 0;
    }
    return false;
}

int FindWineServer(void)
{
    char prefix[MAX_PATH];
    if (!GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix))
        return 0;
    static char text[PROC_FILE_SIZE];
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA("Z:\\proc\\*", &found);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    int server = 0;
    do {
        int pid = atoi(found.cFileName);
        if (pid <= 0)
            continue;
        char path[64];
        snprintf(path, sizeof path, "Z:\\proc\\%d\\comm", pid);
        // Debian's is wineserver32 or wineserver64.
        if (ReadProcFile(path, text, sizeof text) <= 0 || strncmp(text, "wineserver", 10) != 0)
            continue;
        snprintf(path, sizeof path, "Z:\\proc\\%d\\environ", pid);
        int length = ReadProcFile(path, text, sizeof text);
        if (length > 0 && HasPrefix(text, length, prefix))
            server = pid;
    } while (!server && FindNextFileA(find, &found));
    FindClose(find);
    return server;
}

double UnixProcessCpu(int pid)
{
    char path[64], stat[1024];
    snprintf(path, sizeof path, "Z:\\proc\\%d\\stat", pid);
    if (ReadProcFile(path, stat, sizeof stat) <= 0)
        return -1;
    // After the name in brackets: state, then 10 fields, then utime and stime.
    const char* after = strrchr(stat, ')');
    unsigned long user, system;
    if (!after || sscanf(after + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &system) != 2)
        return -1;
    return (double)(user + system) / LINUX_TICKS_PER_SECOND;
}

void LoadAverage(char* out, int size)
{
    char text[128];
    float one, five, fifteen;
    if (ReadProcFile("Z:\\proc\\loadavg", text, sizeof text) > 0 && sscanf(text, "%f %f %f", &one, &five, &fifteen) == 3)
        snprintf(out, size, "%.2f %.2f %.2f", one, five, fifteen);
    else
        snprintf(out, size, "not known");
}
