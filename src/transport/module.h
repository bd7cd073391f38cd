// Records and constants shared by the whole module: the host's connection
// record, the module-wide state and the error-code scheme.
#pragma once
#include <winsock.h>
#include <windows.h>

// The contract with the host (exports, record offsets, error-code offsets,
// phases, block modes) is declared once, in the public header.
#include "ravowsok.h"

typedef void (*IdleRoutine)(void);

// The host's connection record is ConnBlock of the public header: only its
// five fields belong to the module, the rest is the host's.

// Module-wide state: zeroed at load, written at attach, by the first
// _netopen that starts the socket library, and by the first wait.
struct ModuleState {
    HINSTANCE moduleHandle;
    LONG useBlockingHook;   // mcHook
    LONG blockMode;         // mcBlockMode, 0 after a failed user routine load
    LONG settingsLoaded;
    IdleRoutine idleRoutine;
    HMODULE userDll;        // library of the user idle routine
    HOOKPROC keyboardProc;  // our own KybdBlockProc, looked up on first wait
    HOOKPROC mouseProc;     // our own MouseBlockProc
};

extern ModuleState moduleState;
