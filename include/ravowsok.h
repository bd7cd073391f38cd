/* ravowsok.h: what a host needs to call ravowsok.dll, the TCP/IP transport.
 *
 * One header for C89, C99 and C++, for mingw-w64 and for compilers in
 * Microsoft mode, 32-bit. It needs no other header: every value crossing the
 * boundary is 32-bit, and `long` is 32 bits on Windows.
 *
 * Linking: include this header and link the import library beside the
 * module (libravowsok.dll.a for GNU linkers, ravowsok.lib for Microsoft-style
 * linkers), or load the module with LoadLibraryA and look the exports up with
 * GetProcAddress through the pointer types below.
 *
 * Calling order: _netopen first on each connection; then any number of
 * _netsend and _netread on the socket it returned, each with the host's
 * connection record; then _netclose; WEP once, as the very last call.
 * _nettype at any time. Call the module from one thread at a time.
 */
#ifndef RAVOWSOK_H
#define RAVOWSOK_H

/* --- The dialog resource the module carries (usable from .rc files too) --- */

/* Name of the module's cancel dialog: CreateDialogA(module, ABORTDLG_NAME, ...).
 * No code of the module creates it; it is there for hosts. */
#define ABORTDLG_NAME "ABORTDLG"
#define ABORTDLG_CANCEL 2  /* the push button "Cancel" (IDCANCEL) */
#define ABORTDLG_TEXT 1001 /* the static text line, empty */

/* --- The host's connection record -----------------------------------------
 * The record belongs to the host; the module reads and writes five 32-bit
 * fields at these byte offsets and touches no other byte. It keeps no pointer
 * to the record after a call returns. The type ConnBlock below lays them out;
 * the offsets serve hosts that keep a record of their own. */
#define CONN_INTERRUPT_REQUEST 116 /* non-zero: send the urgent byte "B" on the next idle turn; cleared once sent */
#define CONN_WAIT_CALLBACK 120     /* the host's RavoWaitCallback, or 0 */
#define CONN_KEYBOARD_HOOK 124     /* written by the module while keyboard input is blocked */
#define CONN_MOUSE_HOOK 128        /* written by the module while mouse input is blocked */
#define CONN_SOCKOPT_REFUSED 144   /* set to 1 when the stack refuses SO_DEBUG as unsupported */
#define CONN_BLOCK_MIN_SIZE 148    /* the smallest record that holds every field */

/* --- Error codes ------------------------------------------------------------
 * Every failure reaches the host as one integer: for the set-up stages and
 * the readiness poll, the WinSock error number plus the offset of the stage
 * that failed; connect, bind, send, receive and close errors come bare. */
#define NET_ERR_STARTUP 150  /* WSAStartup returned non-zero: that value + 150 */
#define NET_ERR_SELECT 150   /* the readiness poll (select) failed */
#define NET_ERR_SERVICE 300  /* getservbyname found no entry */
#define NET_ERR_HOST 450     /* gethostbyname found no entry */
#define NET_ERR_SOCKET 600   /* socket creation failed */
#define NET_ERR_NONBLOCK 750 /* switching to non-blocking mode failed */
#define NET_ERR_SOCKOPT 900  /* SO_DEBUG refused with anything but WSAENOPROTOOPT */

/* _netopen's mode: bind the socket to the address instead of connecting. */
#define NET_OPEN_BIND 2

/* The direction a wait is for. */
#define NET_WAIT_WRITE 1
#define NET_WAIT_READ 2

/* --- The wait callback --------------------------------------------------------
 * Before each send and receive the module polls the socket (select, 10 us).
 * While it is not ready, every idle turn: the urgent byte goes out when
 * interruptRequest is set; then the callback is called with WAIT_PHASE_FIRST
 * on the first turn and WAIT_PHASE_AGAIN after, with the input hooks off.
 * A non-zero result means "this turn is done"; 0 lets the module run its own
 * idle turn. Once the socket is ready (or the poll failed), a wait that
 * called the callback calls it once more with WAIT_PHASE_END; that result is
 * the wait's: above WAIT_RESULT_ERROR_ABOVE the send or receive fails with it
 * as the error code without touching the socket.
 *
 * The callback cannot end the wait itself, and it must not call _netsend or
 * _netread with the same record, _netclose on the socket, or _netopen.
 *
 * Bounding a wait against a server that never answers and ignores the urgent
 * byte: once the host's deadline has passed, the callback closes the socket
 * with WinSock's own closesocket and returns non-zero. Returning non-zero
 * matters: the module goes straight to its next poll, which fails on the
 * closed socket (no window message runs in between that could open a new
 * socket under the same number); the wait then calls WAIT_PHASE_END, where
 * the callback returns the host's own code (10060, WSAETIMEDOUT, say), and
 * the call fails with it. The socket is gone, so the host does not call
 * _netclose on it; it calls WSACleanup once instead, balancing the start-up
 * of _netopen, and WEP at the end as usual. A shutdown() from the callback is
 * not enough: the poll reports the socket ready only once the peer answers
 * (after a shutdown of sending, a server that closes its own end in reply
 * does; a hung one never does; a shutdown of receiving alone changes nothing).
 * examples/host.c does all of this. */
#define WAIT_PHASE_END 0
#define WAIT_PHASE_FIRST 1
#define WAIT_PHASE_AGAIN 2
#define WAIT_RESULT_ERROR_ABOVE 20

/* --- What the administrator's mcBlockMode chooses for the module's idle turns */
#define BLOCK_MODE_PUMP 0   /* dispatch one window message per idle turn (also every unknown value) */
#define BLOCK_MODE_QUIET 1  /* do nothing */
#define BLOCK_MODE_QUIET2 2 /* do nothing (a second routine, same behaviour) */
#define BLOCK_MODE_USER 3   /* call mcUserFunc from mcUserDll */

/* The settings: section "Environment" of the profile file "quorvane.ini". */
#define RAVO_PROFILE_FILE "quorvane.ini"
#define RAVO_PROFILE_SECTION "Environment"
#define RAVO_KEY_HOOK "mcHook"
#define RAVO_KEY_BLOCK_MODE "mcBlockMode"
#define RAVO_KEY_USER_DLL "mcUserDll"
#define RAVO_KEY_USER_FUNC "mcUserFunc"

/* The tracing drop-in, ravotrace.dll installed as ravowsok.dll, reads section
 * "Trace" of the same profile file: File names the trace file (none: nothing
 * is traced), Data=1 adds the bytes of every send and read, DataBytes=N shows
 * at most N of them per call, MaxSizeMB=N stops tracing once the file holds N
 * MiB (0: no limit), Stable=1 writes placeholders for what changes from run
 * to run (times, ids, addresses). A value that is not a whole number of 0 or
 * more counts as its default. It loads the module itself from its own
 * folder, renamed to RAVO_TRACE_REAL_MODULE. */
#define RAVO_TRACE_SECTION "Trace"
#define RAVO_KEY_TRACE_FILE "File"
#define RAVO_KEY_TRACE_DATA "Data"
#define RAVO_KEY_TRACE_DATA_BYTES "DataBytes"
#define RAVO_KEY_TRACE_MAX_SIZE "MaxSizeMB"
#define RAVO_KEY_TRACE_STABLE "Stable"
#define RAVO_TRACE_DATA_BYTES_DEFAULT 4096
#define RAVO_TRACE_MAX_SIZE_DEFAULT 0
#define RAVO_TRACE_REAL_MODULE "ravowsok-real.dll"
/* When that file is missing or lacks an export, the drop-in fails each
 * _netopen, _netsend and _netread with this code (10091 WSASYSNOTREADY at
 * the start-up stage: the network subsystem is not ready). */
#define RAVO_TRACE_NO_MODULE_CODE (NET_ERR_STARTUP + 10091)
/* The drop-in's FileDescription in its version resource (the module has no
 * version resource). */
#define RAVO_TRACE_DESCRIPTION "ravotrace.dll, the tracing drop-in in front of ravowsok-real.dll"

#ifndef RC_INVOKED

#ifdef __cplusplus
extern "C" {
#endif

/* The module's own build defines RAVOWSOK_BUILDING_MODULE; hosts import. */
#ifdef RAVOWSOK_BUILDING_MODULE
#define RAVOWSOK_API
#else
#define RAVOWSOK_API __declspec(dllimport)
#endif

/* The host's wait callback, stored at CONN_WAIT_CALLBACK of its record. */
typedef long(__stdcall* RavoWaitCallback)(long phase);

/* The host's connection record as a type: the five fields at the offsets
 * above, with the host's own bytes before and between them (the module never
 * touches those). A host that needs more room puts a ConnBlock first in a
 * record of its own. Zeroed, it asks for nothing and has no callback. */
typedef struct ConnBlock {
    unsigned char hostOwnedHead[CONN_INTERRUPT_REQUEST];
    long interruptRequest;         /* CONN_INTERRUPT_REQUEST */
    RavoWaitCallback waitCallback; /* CONN_WAIT_CALLBACK */
    void* keyboardHook;            /* CONN_KEYBOARD_HOOK: the module's, while it blocks keyboard input */
    void* mouseHook;               /* CONN_MOUSE_HOOK: the module's, while it blocks mouse input */
    unsigned char hostOwnedMiddle[CONN_SOCKOPT_REFUSED - CONN_MOUSE_HOOK - 4];
    long sockOptRefused;           /* CONN_SOCKOPT_REFUSED */
} ConnBlock;

/* Every export is __stdcall (the routine removes its own arguments); the
 * socket is WinSock's SOCKET as a long. Ordinals: RAVO_EXPORTS below. */

/* Opens a non-blocking TCP socket connected to (or, in mode NET_OPEN_BIND,
 * bound to) the host and service. Returns the socket, or -1 with the stage's
 * code in *errorCode (written only on failure). The service is looked up by
 * name with protocol "tcp". */
RAVOWSOK_API long __stdcall _netopen(const char* hostName, const char* serviceName, long mode, long reserved1,
                                     long* errorCode, long reserved2, void* conn);
/* Waits until writable, sends once. Returns the bytes taken (maybe fewer
 * than length: the host sends the rest), 0 when the socket could take
 * nothing just now, or -1. *errorCode is always written (0 unless -1). */
RAVOWSOK_API long __stdcall _netsend(long s, const char* buffer, long length, long* errorCode, void* conn);
/* Waits until readable, receives once. Returns the bytes received, 0 when
 * the server closed the connection, or -1. *errorCode is always written. */
RAVOWSOK_API long __stdcall _netread(long s, char* buffer, long size, long* errorCode, void* conn);
/* Closes the socket and releases WinSock. Returns 0; the WinSock error
 * when the socket cannot be closed (WinSock stays started); -1 when the
 * release failed. */
RAVOWSOK_API long __stdcall _netclose(long s, long reserved);
/* The kind number of this transport, NET_TYPE_TCPIP. */
#define NET_TYPE_TCPIP 2
RAVOWSOK_API long __stdcall _nettype(void);
/* The host's last call; frees the administrator's idle routine library.
 * Returns 1. */
RAVOWSOK_API long __stdcall WEP(long reserved);
/* The module's keyboard and mouse thread hook procedures; they
 * discard the message (result 1). */
RAVOWSOK_API long __stdcall KybdBlockProc(int code, unsigned int virtualKey, long keyInfo);
RAVOWSOK_API long __stdcall MouseBlockProc(int code, unsigned int mouseMessage, long data);
/* The blocking hook installed around _netopen's look-ups when mcHook is
 * on. Retrieves no message; returns 1. */
RAVOWSOK_API int __stdcall mcWSAHook(void);

/* Pointer types of the exports, for hosts that use GetProcAddress. */
typedef long(__stdcall* NetOpenFn)(const char* hostName, const char* serviceName, long mode, long reserved1,
                                   long* errorCode, long reserved2, void* conn);
typedef long(__stdcall* NetSendFn)(long s, const char* buffer, long length, long* errorCode, void* conn);
typedef long(__stdcall* NetReadFn)(long s, char* buffer, long size, long* errorCode, void* conn);
typedef long(__stdcall* NetCloseFn)(long s, long reserved);
typedef long(__stdcall* NetTypeFn)(void);
typedef long(__stdcall* WepFn)(long reserved);
typedef long(__stdcall* HookProcFn)(int code, unsigned int wParam, long lParam);
typedef int(__stdcall* BlockingHookFn)(void);

/* The exports in ordinal order: X(name, ordinal, argument bytes, pointer
 * type) each. The build makes the export tables and import libraries from
 * these lines; tools and hosts can resolve the exports through them. */
#define RAVO_EXPORTS(X)                  \
    X(KybdBlockProc, 1, 12, HookProcFn)  \
    X(MouseBlockProc, 2, 12, HookProcFn) \
    X(WEP, 3, 4, WepFn)                  \
    X(_netclose, 4, 8, NetCloseFn)       \
    X(_netopen, 5, 28, NetOpenFn)        \
    X(_netread, 6, 20, NetReadFn)        \
    X(_netsend, 7, 20, NetSendFn)        \
    X(_nettype, 8, 0, NetTypeFn)         \
    X(mcWSAHook, 9, 0, BlockingHookFn)

#ifdef __cplusplus
}
#endif

#endif /* RC_INVOKED */
#endif /* RAVOWSOK_H */
