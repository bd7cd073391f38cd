// The linked host compiled as C++: the header's declarations and the import
// library must serve C++ callers exactly as they serve C.
#include "../examples/linked_host.c"
