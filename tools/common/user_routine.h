// The user idle routine of block mode 3 as the module loads it: the size of
// the names it reads and the message box it shows when the routine does not
// load. The module, ravoprobe (which reads the same names and recognises the
// same box) and the benchmark take them from here.
#pragma once

// mcUserDll and mcUserFunc are read into buffers of this size: a longer value
// is cut to USER_NAME_SIZE - 1 characters.
enum { USER_NAME_SIZE = 50 };

// The box shown once when the library or the routine does not load; the text
// is a wsprintfA format given the routine's name, then the library's.
#define USER_ROUTINE_BOX_CAPTION "mcBlockMode Init"
#define USER_ROUTINE_BOX_FORMAT "Error loading function (%s) from dll (%s) - using default mcBlockMode"
