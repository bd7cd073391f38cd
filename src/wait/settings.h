// Block-mode settings: what the module does on its own idle turns, and
// whether a blocking hook runs during the name look-ups of _netopen.
#pragma once

// Reads section "Environment" of "quorvane.ini" into moduleState and chooses
// the idle routine. Called once per load of the module, by _netopen.
void LoadBlockSettings(void);

void IdleNothing(void);
void IdleNothing2(void);
void PumpOneMessage(void);
