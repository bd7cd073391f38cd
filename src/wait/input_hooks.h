// Thread hooks that swallow the user's keyboard and mouse input while the
// module runs its own idle turns.
#pragma once
#include "../transport/module.h"

// Installs the keyboard hook, then the mouse hook, for the calling thread and
// stores their handles in conn. Returns 1: hooks installed.
LONG InstallInputHooks(ConnBlock* conn);

// Removes the keyboard hook, then the mouse hook, by the handles in conn.
// Returns 0: no hooks installed.
LONG RemoveInputHooks(ConnBlock* conn);
