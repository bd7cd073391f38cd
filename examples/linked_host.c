/* A host that links the module's import library: it includes ravowsok.h and
 * nothing else and calls the exports by name through the linker, with no
 * GetProcAddress. The same source is built as C89 and as C++ by mingw-w64 and
 * by clang in Microsoft mode with no C runtime and no Windows headers, so it
 * declares the few KERNEL32 routines it needs itself and has its own entry
 * point. A wrong import name would stop the program from loading; a wrong
 * calling convention would return the wrong values or crash. The project's
 * tests build and run it; docs/hosts.md shows the commands.
 *
 * It opens service CLOSED_SERVICE on 127.0.0.1, which must name a port where
 * nothing listens (a line "ravotest8 PORT/tcp" in the services file).
 * Exit status 0 when every call answered as documented, 1 otherwise. */
#include "ravowsok.h"

#ifdef __cplusplus
extern "C" {
#endif
__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* bytes, unsigned long length,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
void HostEntry(void);
#ifdef __cplusplus
}
#endif

#define STD_OUTPUT ((unsigned long)-11)
#define CONNECTION_REFUSED 10061L /* WSAECONNREFUSED */
#define CLOSED_SERVICE "ravotest8" /* nothing listens on it in the tests */

static ConnBlock conn; /* the host's record, zeroed: no callback */

static void Print(const char* text)
{
    unsigned long length = 0, written = 0;
    while (text[length] != 0)
        length++;
    WriteFile(GetStdHandle(STD_OUTPUT), text, length, &written, 0);
}

/* Prints "what: seen (expected N)" with the numbers in decimal; returns
 * whether they agree. */
static int Report(const char* what, long seen, long expected)
{
    char digits[16];
    long values[2];
    int v, i;
    values[0] = seen;
    values[1] = expected;
    Print(what);
    for (v = 0; v < 2; v++) {
        unsigned long magnitude = values[v] < 0 ? 0UL - (unsigned long)values[v] : (unsigned long)values[v];
        i = sizeof digits - 1;
        digits[i] = 0;
        do {
            digits[--i] = (char)('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (values[v] < 0)
            digits[--i] = '-';
        Print(v == 0 ? ": " : " (expected ");
        Print(digits + i);
    }
    Print(seen == expected ? ")\n" : "), WRONG\n");
    return seen == expected;
}

static int RunChecks(void)
{
    long error = 0;
    long s;
    int ok = Report("_nettype()", _nettype(), 2);
    s = _netopen("127.0.0.1", CLOSED_SERVICE, 0, 0, &error, 0, &conn);
    ok &= Report("_netopen to a closed port", s, -1);
    ok &= Report("its error code", error, CONNECTION_REFUSED);
    ok &= Report("WEP(0)", WEP(0), 1);
    return ok ? 0 : 1;
}

int main(void)
{
    return RunChecks();
}

/* The entry point when there is no C runtime to call main. */
void HostEntry(void)
{
    ExitProcess((unsigned int)RunChecks());
}
