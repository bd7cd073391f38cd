// Files of the build folder: the programs that use them run from there.
#pragma once
#include <windows.h>

// Full path of a file in the build folder (beside the running program). The
// result stays valid for the next three calls.
const char* BuildPath(const char* fileName);
