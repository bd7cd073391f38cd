// Records and constants shared by the whole module: the host's connection
// record, the module-wide state and the error-code scheme.
#pragma once
#include <winsock.h>
#include <windows.h>
#include <stddef.h>

// Every failure reaches the host as one integer: the socket library's error
// number plus an offset that names the stage that failed. Connect, bind,
// send, receive and close errors carry no offset.
enum {
    NET_ERR_STARTUP  = 150,  // WSAStartup returned non-zero (returned value + 150)
    NET_ERR_SELECT   = 150,  // the readiness poll failed
    NET_ERR_SERVICE  = 300,  // getservbyname found no entry
    NET_ERR_HOST     = 450,  // gethostbyname found no entry
    NET_ERR_SOCKET   = 600,  // socket creation failed
    NET_ERR_NONBLOCK = 750,  // switching to non-blocking mode failed
    NET_ERR_SOCKOPT  = 900,  // SO_DEBUG refused with anything but WSAENOPROTOOPT
};

// A wait result above this is an error code; at or below it the call goes on.
enum { WAIT_RESULT_ERROR_ABOVE = 20 };

enum { NET_OPEN_BIND = 2 };

typedef LONG(__stdcall *WaitCallback)(LONG phase);
typedef void (*IdleRoutine)(void);

// The host's connection record. Only these five fields belong to the module;
// their byte offsets are part of the interface, the rest is the host's.
struct ConnBlock {
    BYTE hostOwnedHead[116];
    LONG interruptRequest;      // 116: host asks for the urgent byte
    WaitCallback waitCallback;  // 120: host's wait callback, or 0
    HHOOK keyboardHook;         // 124: written while keyboard input is blocked
    HHOOK mouseHook;            // 128: written while mouse input is blocked
    BYTE hostOwnedMiddle[12];
    LONG sockOptRefused;        // 144: set when SO_DEBUG is unsupported
};
static_assert(offsetof(ConnBlock, interruptRequest) == 116, "ConnBlock layout");
static_assert(offsetof(ConnBlock, waitCallback) == 120, "ConnBlock layout");
static_assert(offsetof(ConnBlock, keyboardHook) == 124, "ConnBlock layout");
static_assert(offsetof(ConnBlock, mouseHook) == 128, "ConnBlock layout");
static_assert(offsetof(ConnBlock, sockOptRefused) == 144, "ConnBlock layout");

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
