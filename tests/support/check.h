// A small test harness: named cases, checks whose messages say what was
// expected and what was seen, and a closing "N passed, N failed" line.
#pragma once
#include <winsock2.h>
#include <windows.h>
#include <string>

typedef void (*TestFunc)(void);

struct TestCase {
    const char* name;
    TestFunc func;
    TestCase* next;
};

// Registers a case at start-up; cases run in the order of their definition.
struct TestRegistrar {
    TestRegistrar(TestCase* c);
};

#define TEST_CASE(name)                                                      \
    static void name(void);                                                  \
    static TestCase name##_case = {#name, name, 0};                          \
    static TestRegistrar name##_registrar(&name##_case);                     \
    static void name(void)

// Records one check: on failure prints file, line, the expression and the
// formatted message (expected and seen). Returns the condition.
bool CheckResult(bool ok, const char* file, int line, const char* expr, const char* fmt, ...)
    __attribute__((format(printf, 5, 6)));

#define CHECK(cond, ...) CheckResult(!!(cond), __FILE__, __LINE__, #cond, __VA_ARGS__)

// Compares two integers and reports both when they differ; returns whether
// they were equal.
bool CheckEqual(long long expected, long long seen, const char* file, int line, const char* expr, const char* what);
#define CHECK_EQ(expected, seen, what) \
    CheckEqual((long long)(expected), (long long)(seen), __FILE__, __LINE__, #seen, what)

// Runs every registered case (or those whose name contains argv[1]), prints
// each case's verdict and the closing line; returns 0 when all passed.
int RunAllTests(int argc, char** argv);

// Failed checks in the case now running; lets a case stop early.
int FailuresInCurrentCase(void);

// Puts the whole file at path in out (empty when it cannot be opened).
// Returns false when the file cannot be opened or read to its end.
bool ReadWholeFile(const char* path, std::string* out);
// Replaces the file at path with text. Returns false when it cannot.
bool WriteWholeFile(const char* path, const std::string& text);
