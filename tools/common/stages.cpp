// The stages of ravowsok.dll's calls and the decoder (see stages.h).
#include "stages.h"
#include "ravowsok.h"

#define OFFSET(name) name, #name  // the header's offset and its name
#define BARE -1, NULL
#define TEXT_OF(x) #x
#define NUMBER_TEXT(x) TEXT_OF(x)

const Stage STAGES[STAGE_COUNT] = {
    {AT_STARTUP, FROM_OPEN, OFFSET(NET_ERR_STARTUP),
     EXPLAINED("socket library start-up failed", "WSAStartup in _netopen", NULL)},
    {AT_SELECT, FROM_DATA_CALL, OFFSET(NET_ERR_SELECT),
     EXPLAINED("readiness poll failed", "select in the wait of _netsend or _netread", NULL)},
    {AT_SERVICE, FROM_OPEN, OFFSET(NET_ERR_SERVICE),
     EXPLAINED("service look-up failed", "getservbyname(SERVICE, \"tcp\") in _netopen",
               "SERVICE must be a tcp entry of the services file, WINDIR\\system32\\drivers\\etc\\services\n"
               "(a port number is not looked up as one); ravoprobe services lists its entries")},
    {AT_HOST, FROM_OPEN, OFFSET(NET_ERR_HOST),
     EXPLAINED("host look-up failed", "gethostbyname(HOST) in _netopen",
               "HOST must resolve through the hosts file or the name server")},
    {AT_SOCKET, FROM_OPEN, OFFSET(NET_ERR_SOCKET), EXPLAINED("socket creation failed", "socket in _netopen", NULL)},
    {AT_NONBLOCK, FROM_OPEN, OFFSET(NET_ERR_NONBLOCK),
     EXPLAINED("switch to non-blocking mode failed", "ioctlsocket(FIONBIO) in _netopen", NULL)},
    {AT_SOCKOPT, FROM_OPEN, OFFSET(NET_ERR_SOCKOPT),
     EXPLAINED("socket option SO_DEBUG refused", "setsockopt in _netopen", NULL)},
    {AT_CONNECT, FROM_OPEN, BARE, EXPLAINED("", "connect in _netopen", NULL)},
    {AT_BIND, FROM_OPEN, BARE, EXPLAINED("", "bind in _netopen (--bind, mode " NUMBER_TEXT(NET_OPEN_BIND) ")", NULL)},
    {AT_SEND, FROM_SEND, BARE, EXPLAINED("", "send in _netsend", NULL)},
    {AT_RECV, FROM_READ, BARE, EXPLAINED("", "recv in _netread", NULL)},
    {AT_CLOSE, FROM_CLOSE, BARE, EXPLAINED("", "closesocket in _netclose (its result)", NULL)},
};

int ReadCode(LONG code, int from, CodeReading* out)
{
    int count = 0;
    for (int usual = 1; usual >= 0; usual--) {
        int bareCalls = 0;
        for (int i = 0; i < STAGE_COUNT; i++) {
            const Stage* st = &STAGES[i];
            if (!(st->from & from))
                continue;
            if (st->offset < 0) {
                bareCalls |= st->call;
                continue;
            }
            const WinsockError* e = FindWinsockError(code - st->offset);
            if (e && ((e->usualAt & st->call) != 0) == (usual != 0))
                out[count++] = {st, e, usual != 0};
        }
        const WinsockError* bare = bareCalls ? FindWinsockError(code) : NULL;
        if (bare && ((bare->usualAt & bareCalls) != 0) == (usual != 0))
            out[count++] = {NULL, bare, usual != 0};
    }
    return count;
}

bool IsCallbackEndValue(LONG code, bool endPhaseCalled, LONG endAnswer)
{
    return endPhaseCalled && code == endAnswer && code > WAIT_RESULT_ERROR_ABOVE;
}
