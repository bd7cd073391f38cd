// Programs run as child processes with their output read through pipes, as
// an administrator would run them from a console. Every wait is bounded.
#pragma once
#include <winsock2.h>
#include <windows.h>

enum { CHILD_OUTPUT_SIZE = 32768, CHILD_NOT_RUN = 999 };

enum ChildStreams {
    CHILD_MERGED,    // stderr goes into text with stdout, in the order written
    CHILD_SEPARATE,  // stderr goes into errorText
};

struct Child {
    HANDLE process;
    HANDLE output;  // read end of stdout (and stderr when merged)
    HANDLE errors;  // read end of stderr when separate, else NULL
    char text[CHILD_OUTPUT_SIZE];
    int length;
    char errorText[CHILD_OUTPUT_SIZE];
    int errorLength;
    DWORD exitCode;  // CHILD_NOT_RUN when it did not start
    bool ended;      // false: killed after its time ran out
    char name[64];   // the program's file name, for messages
};

// Starts the program (a full path) with the arguments, in folder (NULL: this
// process's current folder). Fails a check and returns false when it cannot.
bool StartChild(Child* c, const char* program, const char* arguments, const char* folder, ChildStreams streams);

// Waits at most ms until text (stdout, or both when merged) holds the text.
bool WaitForChildOutput(Child* c, const char* text, DWORD ms);

// Collects the rest of the output and the exit code; kills the child when it
// is still running after ms (a failed check). Returns true when it ended.
bool FinishChild(Child* c, DWORD ms);

// StartChild and FinishChild in one.
bool RunChild(Child* c, const char* program, const char* arguments, const char* folder, ChildStreams streams,
              DWORD ms);
