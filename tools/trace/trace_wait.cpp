// Watching the wait of a traced _netsend or _netread. The callback receives
// only the phase, so the call it belongs to is found through a per-thread
// stack of watched calls: a window procedure run during a wait may call in
// again, and the innermost call is the one waiting.
#include "trace.h"

// The host's record, field by field, at the offsets of the contract.
static volatile LONG* Field(volatile LONG* record, int offset)
{
    return (volatile LONG*)((volatile BYTE*)record + offset);
}

static LONG __stdcall WatchingCallback(LONG phase);

static LONG CallbackField(const WaitWatch* w)
{
    return *Field(w->record, CONN_WAIT_CALLBACK);
}

// The urgent byte is seen as the host's request going from set to cleared.
static void LookAtInterrupt(WaitWatch* w)
{
    LONG request = *Field(w->record, CONN_INTERRUPT_REQUEST);
    if (w->interruptPending && request == 0)
        w->urgentTaken = true;
    w->interruptPending = request;
}

// The innermost watched call of this thread, or NULL.
static WaitWatch* WatchedCall(void)
{
    if (dropIn.frameSlot == TLS_OUT_OF_INDEXES)
        return NULL;
    WaitWatch* w = (WaitWatch*)TlsGetValue(dropIn.frameSlot);
    while (w && !w->watching)
        w = w->outer;
    return w;
}

// Stands in the record for the host's callback: counts the phase, passes it
// on and returns exactly the host's answer.
static LONG __stdcall WatchingCallback(LONG phase)
{
    DWORD lastError = GetLastError();
    WaitWatch* w = WatchedCall();
    SetLastError(lastError);
    // Called outside a watched call (a host that copied the field away):
    // behave as a record without a callback would.
    if (!w)
        return phase == WAIT_PHASE_END ? 1 : 0;
    LookAtInterrupt(w);
    if (phase >= WAIT_PHASE_END && phase <= WAIT_PHASE_AGAIN)
        w->calls[phase]++;
    LONG answer = w->hostCallback(phase);
    if (phase == WAIT_PHASE_END)
        w->endAnswer = answer;
    else if (answer == 0)
        w->leftToModule++;
    LookAtInterrupt(w);
    return answer;
}

void BeginWatch(WaitWatch* w, void* record)
{
    w->record = (volatile LONG*)record;
    w->hostCallback = (RavoWaitCallback)CallbackField(w);
    w->watching = false;
    w->replacedByHost = false;
    for (int phase = 0; phase < 3; phase++)
        w->calls[phase] = 0;
    w->leftToModule = 0;
    w->endAnswer = 0;
    w->interruptPending = 0;
    w->urgentTaken = false;
    LookAtInterrupt(w);
    w->outer = NULL;
    if (dropIn.frameSlot == TLS_OUT_OF_INDEXES)
        return;
    w->outer = (WaitWatch*)TlsGetValue(dropIn.frameSlot);
    TlsSetValue(dropIn.frameSlot, w);
    // Without a callback of the host's the field stays 0: a callback would
    // change the wait (hooks on and off every turn, the end phase's answer
    // in place of the poll's result). A field that already holds ours came
    // from an outer call; its turns are passed to that call's host callback.
    if (w->hostCallback && w->hostCallback != WatchingCallback) {
        w->watching = true;
        *Field(w->record, CONN_WAIT_CALLBACK) = (LONG)WatchingCallback;
    }
}

void EndWatch(WaitWatch* w)
{
    if (w->watching) {
        // The host's callback back in its place, unless the host itself put
        // something else there meanwhile (cleared it, say): that stays.
        if (CallbackField(w) == (LONG)WatchingCallback)
            *Field(w->record, CONN_WAIT_CALLBACK) = (LONG)w->hostCallback;
        else
            w->replacedByHost = true;
    }
    LookAtInterrupt(w);
    if (dropIn.frameSlot != TLS_OUT_OF_INDEXES)
        TlsSetValue(dropIn.frameSlot, w->outer);
}

// ", wait: N turns (first F, again A, L left to the module)": the counts
// that depend on how fast the peer answered are placeholders in the stable
// form.
void AppendWaitShape(TraceLine* line, const WaitWatch* w, bool stable)
{
    LONG turns = w->calls[WAIT_PHASE_FIRST] + w->calls[WAIT_PHASE_AGAIN];
    // No turns: the first poll found the socket ready (or failed), and the
    // line has nothing to add.
    if (w->watching && turns) {
        AppendText(line, TRACE_NEXT TRACE_WAIT);
        AppendNumber(line, turns, TRACE_STABLE_NUMBER, stable);
        AppendText(line, " turn%s", turns == 1 && !stable ? "" : "s");
        AppendText(line, " (first %ld, again ", w->calls[WAIT_PHASE_FIRST]);
        AppendNumber(line, w->calls[WAIT_PHASE_AGAIN], TRACE_STABLE_NUMBER, stable);
        AppendText(line, ", ");
        AppendNumber(line, w->leftToModule, TRACE_STABLE_NUMBER, stable);
        AppendText(line, " left to the module)");
        if (w->calls[WAIT_PHASE_END]) {
            if (w->endAnswer > WAIT_RESULT_ERROR_ABOVE)
                AppendText(line, TRACE_NEXT TRACE_WAIT_END "fail with " TRACE_CODE "%ld", w->endAnswer);
            else
                AppendText(line, TRACE_NEXT TRACE_WAIT_END "carry on");
        }
    }
    if (w->replacedByHost)
        AppendText(line, TRACE_NEXT TRACE_REPLACED);
    if (w->urgentTaken)
        AppendText(line, TRACE_NEXT TRACE_URGENT);
}
