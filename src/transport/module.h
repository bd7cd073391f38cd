// Records and constants shared by the whole module: the host's connection
// record, the module-wide state and the error-code scheme.
#pragma once
#include <winsock.h>
#include <windows.h>
#include <stddef.h>

// The contract with the host (exports, record offsets, error-code offsets,
// phases, block modes) is declared once, in the public header.
#include "ravowsok.h"

typedef void (*IdleRoutine)(void);

// The host's connection record. Only these five fields belong to the module;
// their byte offsets are part of the interface, the rest is the host's.
struct ConnBlock {
    BYTE hostOwnedHead[116];
    LONG interruptRequest;          // 116: host asks for the urgent byte
    RavoWaitCallback waitCallback;  // 120: host's wait callback, or 0
    HHOOK keyboardHook;         // 124: written while keyboard input is blocked
    HHOOK mouseHook;            // 128: written while mouse input is blocked
    BYTE hostOwnedMiddle[12];
    LONG sockOptRefused;        // 144: set when SO_DEBUG is unsupported
};
static_assert(offsetof(ConnBlock, interruptRequest) == CONN_INTERRUPT_REQUEST, "ConnBlock layout");
static_assert(offsetof(ConnBlock, waitCallback) == CONN_WAIT_CALLBACK, "ConnBlock layout");
static_assert(offsetof(ConnBlock, keyboardHook) == CONN_KEYBOARD_HOOK, "ConnBlock layout");
static_assert(offsetof(ConnBlock, mouseHook) == CONN_MOUSE_HOOK, "ConnBlock layout");
static_assert(offsetof(ConnBlock, sockOptRefused) == CONN_SOCKOPT_REFUSED, "ConnBlock layout");
static_assert(sizeof(ConnBlock) == CONN_BLOCK_MIN_SIZE, "ConnBlock size");

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
