// The nine exports of the drop-in. Each passes the call on to the real
// module with the host's own arguments; when tracing is on it times the
// call and writes its line before returning. The host gets the last error
// that the real call left.
#include "trace.h"

// A traced call: when it began, the last error it left, its line.
struct TracedCall {
    LONGLONG start;  // ticks since the drop-in was loaded
    LONGLONG took;
    DWORD lastError;
    TraceLine line;
};

static void BeginCall(TracedCall* c)
{
    c->start = NowTicks();
}

// Marks the end of the real call and starts its line. The last error is
// read before anything else can change it.
static void EndCall(TracedCall* c, const char* name)
{
    c->lastError = GetLastError();
    c->took = NowTicks() - c->start;
    StartLine(&c->line, c->start, name);
}

// Ends the line with the call's time and its wait (when it had one),
// writes it with the bytes to dump, and restores the call's last error.
static void FinishLine(TracedCall* c, const WaitWatch* watch, const char* dumpTitle, const void* bytes, LONG count)
{
    AppendText(&c->line, ", ");
    AppendMs(&c->line, c->took);
    AppendText(&c->line, " ms");
    if (watch)
        AppendWaitShape(&c->line, watch);
    WriteLine(&c->line, dumpTitle, bytes, count);
    SetLastError(c->lastError);
}

// Ends the line of a call with a plain result: "NAME(ARGS) = R".
static long FinishPlainLine(TracedCall* c, long result, bool withCode)
{
    AppendText(&c->line, " = %ld", result);
    if (withCode)
        AppendCode(&c->line, result, FROM_CLOSE);
    FinishLine(c, NULL, NULL, NULL, 0);
    return result;
}

// _netopen (5)
extern "C" long __stdcall Trace_netopen(const char* hostName, const char* serviceName, long mode, long reserved1,
                                       long* errorCode, long reserved2, void* conn)
{
    const RavoExports* real = UseRealModule();
    if (!TracingOn())
        return real->netopen(hostName, serviceName, mode, reserved1, errorCode, reserved2, conn);
    TracedCall c;
    BeginCall(&c);
    long result = real->netopen(hostName, serviceName, mode, reserved1, errorCode, reserved2, conn);
    EndCall(&c, "_netopen");
    AppendText(&c.line, "(\"%.200s\", \"%.200s\", mode %ld) = %ld", hostName, serviceName, mode, result);
    if (result == -1)  // the code is written only on failure
        AppendCode(&c.line, *errorCode, FROM_OPEN);
    FinishLine(&c, NULL, NULL, NULL, 0);
    return result;
}

// _netsend and _netread: the call, its code, its time, how its wait went
// and, with Data=1, the bytes that went out or came in.
static long TraceDataCall(bool sending, long s, char* buffer, long length, long* errorCode, void* conn)
{
    WaitWatch watch;
    BeginWatch(&watch, conn);
    TracedCall c;
    BeginCall(&c);
    long result = sending ? realModule->netsend(s, buffer, length, errorCode, conn)
                          : realModule->netread(s, buffer, length, errorCode, conn);
    const char* call = sending ? "_netsend" : "_netread";
    EndCall(&c, call);
    EndWatch(&watch);
    AppendText(&c.line, "(%ld, %ld bytes) = %ld,", s, length, result);
    if (IsCallbackEndValue(*errorCode, watch.calls[WAIT_PHASE_END] != 0, watch.endAnswer))
        AppendText(&c.line, " code %ld, the callback's end value", *errorCode);
    else
        AppendCode(&c.line, *errorCode, FROM_DATA_CALL);
    FinishLine(&c, &watch, call, buffer, result);
    return result;
}

// _netsend (7)
extern "C" long __stdcall Trace_netsend(long s, const char* buffer, long length, long* errorCode, void* conn)
{
    const RavoExports* real = UseRealModule();
    if (!TracingOn())
        return real->netsend(s, buffer, length, errorCode, conn);
    return TraceDataCall(true, s, (char*)buffer, length, errorCode, conn);
}

// _netread (6)
extern "C" long __stdcall Trace_netread(long s, char* buffer, long size, long* errorCode, void* conn)
{
    const RavoExports* real = UseRealModule();
    if (!TracingOn())
        return real->netread(s, buffer, size, errorCode, conn);
    return TraceDataCall(false, s, buffer, size, errorCode, conn);
}

// _netclose (4)
extern "C" long __stdcall Trace_netclose(long s, long reserved)
{
    const RavoExports* real = UseRealModule();
    if (!TracingOn())
        return real->netclose(s, reserved);
    TracedCall c;
    BeginCall(&c);
    long result = real->netclose(s, reserved);
    EndCall(&c, "_netclose");
    AppendText(&c.line, "(%ld)", s);
    // 0, or the bare error of closesocket, or -1 when WSACleanup failed.
    return FinishPlainLine(&c, result, result != 0 && result != -1);
}

// _nettype, WEP and mcWSAHook: no argument or one that is ignored, and a
// plain result.
enum PlainCall { CALL_NETTYPE, CALL_WEP, CALL_BLOCKING_HOOK };

static long CallPlain(const RavoExports* real, PlainCall which, long reserved)
{
    switch (which) {
    case CALL_NETTYPE: return real->nettype();
    case CALL_WEP: return real->wep(reserved);
    default: return real->mcWSAHook();
    }
}

static long TracePlainCall(PlainCall which, const char* lineStart, long reserved)
{
    const RavoExports* real = UseRealModule();
    if (!TracingOn())
        return CallPlain(real, which, reserved);
    TracedCall c;
    BeginCall(&c);
    long result = CallPlain(real, which, reserved);
    EndCall(&c, lineStart);
    return FinishPlainLine(&c, result, false);
}

// _nettype (8)
extern "C" long __stdcall Trace_nettype(void)
{
    return TracePlainCall(CALL_NETTYPE, "_nettype()", 0);
}

// WEP (3)
extern "C" long __stdcall TraceWEP(long reserved)
{
    return TracePlainCall(CALL_WEP, "WEP()", reserved);
}

// A hook procedure of the real module, called through the drop-in.
static long TraceHookProc(const char* name, HookProcFn proc, int code, unsigned int wParam, long lParam)
{
    if (!TracingOn())
        return proc(code, wParam, lParam);
    TracedCall c;
    BeginCall(&c);
    long result = proc(code, wParam, lParam);
    EndCall(&c, name);
    AppendText(&c.line, "(%d, 0x%x, 0x%lx)", code, wParam, lParam);
    return FinishPlainLine(&c, result, false);
}

// KybdBlockProc (1)
extern "C" long __stdcall TraceKybdBlockProc(int code, unsigned int virtualKey, long keyInfo)
{
    return TraceHookProc("KybdBlockProc", UseRealModule()->kybdBlockProc, code, virtualKey, keyInfo);
}

// MouseBlockProc (2)
extern "C" long __stdcall TraceMouseBlockProc(int code, unsigned int mouseMessage, long data)
{
    return TraceHookProc("MouseBlockProc", UseRealModule()->mouseBlockProc, code, mouseMessage, data);
}

// mcWSAHook (9)
extern "C" int __stdcall TracemcWSAHook(void)
{
    return (int)TracePlainCall(CALL_BLOCKING_HOOK, "mcWSAHook()", 0);
}
