// Block-mode settings: what the module does on its own idle turns, and
// whether a blocking hook runs during the name look-ups of _netopen.
#pragma once

enum BlockMode {
    BLOCK_MODE_PUMP = 0,    // dispatch one window message per idle turn
    BLOCK_MODE_QUIET = 1,   // do nothing
    BLOCK_MODE_QUIET2 = 2,  // do nothing (a second routine, same behaviour)
    BLOCK_MODE_USER = 3,    // call the administrator's routine
};

// Reads section "Environment" of "quorvane.ini" into moduleState and chooses
// the idle routine. Called once per load of the module, by _netopen.
void LoadBlockSettings(void);

void IdleNothing(void);
void IdleNothing2(void);
void PumpOneMessage(void);
