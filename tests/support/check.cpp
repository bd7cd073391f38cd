// The harness behind check.h.
#include "check.h"
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static TestCase* firstCase;
static TestCase** lastLink = &firstCase;
static int currentFailures;

TestRegistrar::TestRegistrar(TestCase* c)
{
    *lastLink = c;
    lastLink = &c->next;
}

bool CheckResult(bool ok, const char* file, int line, const char* expr, const char* fmt, ...)
{
    if (ok)
        return true;
    currentFailures++;
    const char* base = strrchr(file, '/');
    printf("  %s:%d: check failed: %s\n    ", base ? base + 1 : file, line, expr);
    va_list args;
    va_start(args, fmt);
    vprintf(fmt, args);
    va_end(args);
    printf("\n");
    fflush(stdout);
    return false;
}

bool CheckEqual(long long expected, long long seen, const char* file, int line, const char* expr, const char* what)
{
    int wsaError = WSAGetLastError();
    return CheckResult(expected == seen, file, line, expr, "%s: expected %lld, seen %lld (WSA error %d)", what,
                       expected, seen, wsaError);
}

int FailuresInCurrentCase(void)
{
    return currentFailures;
}

int RunAllTests(int argc, char** argv)
{
    // A crash must end the program, never wait for a dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    setvbuf(stdout, NULL, _IONBF, 0);
    const char* filter = argc > 1 ? argv[1] : NULL;
    int passed = 0, failed = 0;
    for (TestCase* c = firstCase; c; c = c->next) {
        if (filter && !strstr(c->name, filter))
            continue;
        currentFailures = 0;
        printf("case %s\n", c->name);
        DWORD start = GetTickCount();
        c->func();
        DWORD took = GetTickCount() - start;
        if (currentFailures) {
            failed++;
            printf("FAIL %s (%d failed checks, %lu ms)\n", c->name, currentFailures, took);
        } else {
            passed++;
            printf("ok   %s (%lu ms)\n", c->name, took);
        }
    }
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}

bool ReadWholeFile(const char* path, std::string* out)
{
    out->clear();
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        out->append(chunk, got);
    bool ok = !ferror(file);
    fclose(file);
    return ok;
}

bool WriteWholeFile(const char* path, const std::string& text)
{
    FILE* file = fopen(path, "wb");
    if (!file)
        return false;
    bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && ok;
}
