// The host's view of ravowsok.dll: the signatures of its exports, for
// programs that load it with LoadLibrary and GetProcAddress. Every export is
// __stdcall; all arguments and results are 32-bit.
#pragma once
#include <windows.h>

typedef LONG(__stdcall* NetOpenFn)(const char* host, const char* service, LONG mode, LONG reserved1,
                                    LONG* errorCode, LONG reserved2, void* conn);
typedef LONG(__stdcall* NetSendFn)(LONG s, const char* buffer, LONG length, LONG* errorCode, void* conn);
typedef LONG(__stdcall* NetReadFn)(LONG s, char* buffer, LONG size, LONG* errorCode, void* conn);
typedef LONG(__stdcall* NetCloseFn)(LONG s, LONG reserved);
typedef LONG(__stdcall* NetTypeFn)(void);
typedef LONG(__stdcall* WepFn)(LONG reserved);
typedef LRESULT(__stdcall* HookProcFn)(int code, WPARAM wParam, LPARAM lParam);
typedef BOOL(__stdcall* BlockingHookFn)(void);

// The host's wait callback, stored at byte 120 of its connection record:
// called with the phase (1 first idle turn, 2 later ones, 0 at the end).
typedef LONG(__stdcall* WaitCallbackFn)(LONG phase);
