#include "child.h"
#include "check.h"
#include <stdio.h>
#include <string.h>

// Makes a pipe whose write end the child inherits; false on failure.
static bool MakePipe(HANDLE* readEnd, HANDLE* writeEnd)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    if (!CHECK(CreatePipe(readEnd, writeEnd, &inherit, 0), "CreatePipe failed: %lu", GetLastError()))
        return false;
    SetHandleInformation(*readEnd, HANDLE_FLAG_INHERIT, 0);
    return true;
}

bool StartChild(Child* c, const char* program, const char* arguments, const char* folder, ChildStreams streams)
{
    memset(c, 0, sizeof *c);
    c->exitCode = CHILD_NOT_RUN;
    const char* slash = strrchr(program, '\\');
    snprintf(c->name, sizeof c->name, "%s", slash ? slash + 1 : program);
    HANDLE outWrite, errWrite = NULL;
    if (!MakePipe(&c->output, &outWrite))
        return false;
    if (streams == CHILD_SEPARATE && !MakePipe(&c->errors, &errWrite)) {
        CloseHandle(c->output);
        CloseHandle(outWrite);
        return false;
    }
    char commandLine[2048];
    snprintf(commandLine, sizeof commandLine, "\"%s\" %s", program, arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite ? errWrite : outWrite;
    PROCESS_INFORMATION info;
    BOOL made = CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, folder, &startup, &info);
    DWORD error = GetLastError();
    // Only the child holds the write ends now, so a read sees its end.
    CloseHandle(outWrite);
    if (errWrite)
        CloseHandle(errWrite);
    if (!CHECK(made, "CreateProcess(%s) failed: %lu", commandLine, error)) {
        CloseHandle(c->output);
        if (c->errors)
            CloseHandle(c->errors);
        return false;
    }
    CloseHandle(info.hThread);
    c->process = info.hProcess;
    return true;
}

// Appends what one pipe holds now; false once its writer has gone.
static bool ReadPipe(HANDLE pipe, char* text, int* length)
{
    DWORD waiting = 0;
    if (!PeekNamedPipe(pipe, NULL, 0, NULL, &waiting, NULL))
        return false;
    while (waiting > 0 && *length < CHILD_OUTPUT_SIZE - 1) {
        DWORD got = 0;
        if (!ReadFile(pipe, text + *length, CHILD_OUTPUT_SIZE - 1 - *length, &got, NULL))
            return false;
        *length += got;
        text[*length] = 0;
        waiting = waiting > got ? waiting - got : 0;
    }
    return true;
}

// Reads what the pipes hold now; false once stdout's writer has gone.
static bool ReadAvailable(Child* c)
{
    if (c->errors)
        ReadPipe(c->errors, c->errorText, &c->errorLength);
    return ReadPipe(c->output, c->text, &c->length);
}

bool WaitForChildOutput(Child* c, const char* text, DWORD ms)
{
    DWORD start = GetTickCount();
    while (!strstr(c->text, text)) {
        if (!ReadAvailable(c) || GetTickCount() - start > ms)
            return strstr(c->text, text) != NULL;
        Sleep(10);
    }
    return true;
}

bool FinishChild(Child* c, DWORD ms)
{
    if (!c->process)
        return false;
    DWORD start = GetTickCount();
    // Reading while waiting keeps a chatty child from blocking on a full pipe.
    while (GetTickCount() - start < ms && WaitForSingleObject(c->process, 10) == WAIT_TIMEOUT)
        ReadAvailable(c);
    c->ended = WaitForSingleObject(c->process, 0) == WAIT_OBJECT_0;
    if (!c->ended) {
        TerminateProcess(c->process, CHILD_NOT_RUN);
        WaitForSingleObject(c->process, 5000);
    }
    ReadAvailable(c);  // what it wrote just before ending
    GetExitCodeProcess(c->process, &c->exitCode);
    CloseHandle(c->process);
    CloseHandle(c->output);
    if (c->errors)
        CloseHandle(c->errors);
    c->process = c->output = c->errors = NULL;
    return CHECK(c->ended, "%s was still running after %lu ms; output so far:\n%s%s", c->name, ms, c->text,
                 c->errorText);
}

bool RunChild(Child* c, const char* program, const char* arguments, const char* folder, ChildStreams streams,
              DWORD ms)
{
    return StartChild(c, program, arguments, folder, streams) && FinishChild(c, ms);
}
