// The linked host compiled as C++: the header's declarations and the import
// library must serve C++ callers exactly as they serve C.
#include "../examples/linked_host.c"

#include <cstddef>

// The header's record type puts each field at the offset the module uses.
static_assert(offsetof(ConnBlock, interruptRequest) == CONN_INTERRUPT_REQUEST, "ConnBlock layout");
static_assert(offsetof(ConnBlock, waitCallback) == CONN_WAIT_CALLBACK, "ConnBlock layout");
static_assert(offsetof(ConnBlock, keyboardHook) == CONN_KEYBOARD_HOOK, "ConnBlock layout");
static_assert(offsetof(ConnBlock, mouseHook) == CONN_MOUSE_HOOK, "ConnBlock layout");
static_assert(offsetof(ConnBlock, sockOptRefused) == CONN_SOCKOPT_REFUSED, "ConnBlock layout");
static_assert(sizeof(ConnBlock) == CONN_BLOCK_MIN_SIZE, "ConnBlock size");
