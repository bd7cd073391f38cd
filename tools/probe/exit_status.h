// ravoprobe's exit statuses, so that a script tells a server that is down
// from a wrong name from a hung server. The help prints PROBE_EXIT_STATUSES
// as its table, which the docs check holds administrators.md to.
#pragma once

#define PROBE_OK 0
#define PROBE_FAILED 1
#define PROBE_USAGE 2
#define PROBE_NO_MODULE 3
#define PROBE_NO_NAME 4
#define PROBE_NO_ANSWER 5

// X(status, meaning) for each, in order.
#define PROBE_EXIT_STATUSES(X)                                                                            \
    X(PROBE_OK, "answered: every open, round trip or look-up succeeded")                                  \
    X(PROBE_FAILED, "the server refused or ended the exchange, or another call failed (explained unless --quiet)") \
    X(PROBE_USAGE, "bad usage: an unknown command or option, a missing or out-of-range value")            \
    X(PROBE_NO_MODULE, "the module is missing, cannot be loaded, or lacks its exports")                   \
    X(PROBE_NO_NAME, "a name did not resolve: the host or the service")                                   \
    X(PROBE_NO_ANSWER, "no answer within --timeout: a silent server, or a connect that hangs")
