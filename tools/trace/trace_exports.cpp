// The exports of the drop-in. Each passes the call on to the real
// module with the host's own arguments; when tracing is on it writes a
// start line before a call that can block, and a line when the call ends.
// The real call starts with the host's last error, and the host gets the
// last error that the real call left.
#include "trace.h"

// A traced call: its name and arguments (written on both of its lines),
// when it began, the last error it left, its end line. Whether its lines
// take the stable form is read once, when it begins, and passed to every
// piece they print.
struct TracedCall {
    bool stable;
    const char* name;
    bool canBlock;  // has a start line
    char args[TRACE_ARGS_SIZE];
    LONGLONG start;  // ticks since the drop-in was loaded
    SYSTEMTIME startedAt;  // of the start line
    LONGLONG took;
    DWORD lastError;
    TraceLine line;
};

// Writes "> NAME(ARGS)" before a call that can block, so that a call that
// never returns still shows, and notes when the call began.
static void BeginCall(TracedCall* c, const char* name, bool canBlock)
{
    c->name = name;
    c->canBlock = canBlock;
    if (canBlock) {
        DWORD hostsError = GetLastError();
        StartLine(&c->line, c->stable, &c->startedAt);
        AppendCallStart(&c->line, name, c->args);
        WriteLine(&c->line, c->stable);
        SetLastError(hostsError);
    }
    c->start = NowTicks();
}

// Marks the end of the real call and starts its line, "< NAME(ARGS) = R".
// The last error is read before anything else can change it.
static void EndCall(TracedCall* c, long result, bool isSocket = false)
{
    c->lastError = GetLastError();
    c->took = NowTicks() - c->start;
    StartLine(&c->line, c->stable);
    AppendCallEnd(&c->line, c->canBlock, c->name, c->args);
    if (isSocket && result != -1)
        AppendNumber(&c->line, result, TRACE_STABLE_SOCKET, c->stable);
    else
        AppendText(&c->line, "%ld", result);
}

// ", D ms", and the wait when it had one.
static void AppendTook(TracedCall* c, const WaitWatch* watch)
{
    AppendText(&c->line, TRACE_NEXT);
    AppendDuration(&c->line, TicksMs(c->took), c->stable);
    if (watch)
        AppendWaitShape(&c->line, watch, c->stable);
}

// Writes the line and restores the call's last error for the host.
static void FinishLine(TracedCall* c, bool out = false, const void* bytes = NULL, LONG count = 0)
{
    WriteLine(&c->line, c->stable, out, bytes, count);
    SetLastError(c->lastError);
}

// _netopen (5)
extern "C" long __stdcall Trace_netopen(const char* hostName, const char* serviceName, long mode, long reserved1,
                                       long* errorCode, long reserved2, void* conn)
{
    const RavoExports* real = UseRealModule();
    if (!TracingOn())
        return real->_netopen(hostName, serviceName, mode, reserved1, errorCode, reserved2, conn);
    TracedCall c;
    c.stable = traceSettings.stable;
    OpenArgs(c.args, hostName, serviceName, mode);
    BeginCall(&c, RAVO_NAME(_netopen), true);
    long result = real->_netopen(hostName, serviceName, mode, reserved1, errorCode, reserved2, conn);
    EndCall(&c, result, true);
    if (result == -1) {  // the code is written only on failure
        AppendText(&c.line, TRACE_NEXT);
        AppendCode(&c.line, *errorCode, FROM_OPEN);
    }
    AppendWhere(&c.line, result, hostName, serviceName, mode, c.stable);
    AppendTook(&c, NULL);
    BeginSummary(result, c.start);
    FinishLine(&c);
    return result;
}

// What a data call's result means, where numbers alone mislead.
static void AppendResultWords(TraceLine* line, bool sending, long length, long result, long code)
{
    if (code != 0)
        return;
    if (!sending && result == 0)
        AppendText(line, " (the server closed the connection)");
    else if (sending && result == 0)
        AppendText(line, " (took nothing just now)");
    else if (sending && result < length)
        AppendText(line, " (took %ld of %ld bytes)", result, length);
}

// _netsend and _netread: the call, its code, its time, how its wait went
// and, with Data=1, the bytes that went out or came in.
static long TraceDataCall(bool sending, long s, char* buffer, long length, long* errorCode, void* conn)
{
    TracedCall c;
    c.stable = traceSettings.stable;
    DataArgs(c.args, s, length, sending, c.stable);
    BeginCall(&c, sending ? RAVO_NAME(_netsend) : RAVO_NAME(_netread), true);
    WaitWatch watch;
    BeginWatch(&watch, conn);
    long result = sending ? realModule->_netsend(s, buffer, length, errorCode, conn)
                          : realModule->_netread(s, buffer, length, errorCode, conn);
    EndWatch(&watch);
    EndCall(&c, result);
    AppendResultWords(&c.line, sending, length, result, *errorCode);
    if (IsCallbackEndValue(*errorCode, watch.calls[WAIT_PHASE_END] != 0, watch.endAnswer))
        AppendText(&c.line, TRACE_NEXT TRACE_CODE "%ld " TRACE_CALLBACK_END, *errorCode);
    else if (*errorCode != 0) {
        AppendText(&c.line, TRACE_NEXT);
        AppendCode(&c.line, *errorCode, FROM_DATA_CALL);
    }
    AppendTook(&c, &watch);
    AddToSummary(s, sending, result, c.took, &c.startedAt);
    FinishLine(&c, sending, buffer, result);
    return result;
}

// _netsend (7)
extern "C" long __stdcall Trace_netsend(long s, const char* buffer, long length, long* errorCode, void* conn)
{
    const RavoExports* real = UseRealModule();
    if (!TracingOn())
        return real->_netsend(s, buffer, length, errorCode, conn);
    return TraceDataCall(true, s, (char*)buffer, length, errorCode, conn);
}

// _netread (6)
extern "C" long __stdcall Trace_netread(long s, char* buffer, long size, long* errorCode, void* conn)
{
    const RavoExports* real = UseRealModule();
    if (!TracingOn())
        return real->_netread(s, buffer, size, errorCode, conn);
    return TraceDataCall(false, s, buffer, size, errorCode, conn);
}

// _netclose (4)
extern "C" long __stdcall Trace_netclose(long s, long reserved)
{
    const RavoExports* real = UseRealModule();
    if (!TracingOn())
        return real->_netclose(s, reserved);
    TracedCall c;
    c.stable = traceSettings.stable;
    SocketArgs(c.args, s, c.stable);
    BeginCall(&c, RAVO_NAME(_netclose), true);
    long result = real->_netclose(s, reserved);
    EndCall(&c, result);
    // 0, or the bare error of closesocket (the socket stays open), or -1
    // when the socket closed but WinSock's release failed.
    if (result == -1)
        AppendText(&c.line, " (closed; releasing WinSock failed)");
    else if (result != 0) {
        AppendText(&c.line, TRACE_NEXT);
        AppendCode(&c.line, result, FROM_CLOSE);
    }
    AppendTook(&c, NULL);
    if (result == 0 || result == -1)
        AppendSocketSummary(&c.line, s, c.stable);
    FinishLine(&c);
    return result;
}

// _nettype, WEP, mcWSAHook and the two hook procedures: calls that cannot
// block, a plain result and one line each; which is the export's place in
// RAVO_EXPORT_LIST. Their arguments: WEP's reserved value in code, a hook
// procedure's three.
struct PlainArgs {
    int code;
    unsigned int wParam;
    long lParam;
};

static long CallPlain(const RavoExports* real, int which, const PlainArgs* a)
{
    switch (which) {
    case RAVO_INDEX(_nettype): return real->_nettype();
    case RAVO_INDEX(WEP): return real->WEP(a->code);
    case RAVO_INDEX(KybdBlockProc): return real->KybdBlockProc(a->code, a->wParam, a->lParam);
    case RAVO_INDEX(MouseBlockProc): return real->MouseBlockProc(a->code, a->wParam, a->lParam);
    default: return real->mcWSAHook();
    }
}

// One line, "NAME(ARGS) = R, D ms"; the hook procedures show their
// arguments.
static long TracePlainCall(int which, PlainArgs a = PlainArgs())
{
    const RavoExports* real = UseRealModule();
    if (!TracingOn())
        return CallPlain(real, which, &a);
    TracedCall c;
    c.stable = traceSettings.stable;
    c.args[0] = 0;
    if (which == RAVO_INDEX(KybdBlockProc) || which == RAVO_INDEX(MouseBlockProc))
        wsprintfA(c.args, "%d, 0x%x, 0x%lx", a.code, a.wParam, a.lParam);
    BeginCall(&c, RAVO_EXPORT_LIST[which].name, false);
    long result = CallPlain(real, which, &a);
    EndCall(&c, result);
    AppendTook(&c, NULL);
    FinishLine(&c);
    return result;
}

// _nettype (8)
extern "C" long __stdcall Trace_nettype(void)
{
    return TracePlainCall(RAVO_INDEX(_nettype));
}

// WEP (3)
extern "C" long __stdcall TraceWEP(long reserved)
{
    return TracePlainCall(RAVO_INDEX(WEP), {(int)reserved, 0, 0});
}

// KybdBlockProc (1)
extern "C" long __stdcall TraceKybdBlockProc(int code, unsigned int virtualKey, long keyInfo)
{
    return TracePlainCall(RAVO_INDEX(KybdBlockProc), {code, virtualKey, keyInfo});
}

// MouseBlockProc (2)
extern "C" long __stdcall TraceMouseBlockProc(int code, unsigned int mouseMessage, long data)
{
    return TracePlainCall(RAVO_INDEX(MouseBlockProc), {code, mouseMessage, data});
}

// mcWSAHook (9)
extern "C" int __stdcall TracemcWSAHook(void)
{
    return (int)TracePlainCall(RAVO_INDEX(mcWSAHook));
}
