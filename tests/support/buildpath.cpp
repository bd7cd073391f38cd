// The build folder behind buildpath.h.
#include "buildpath.h"
#include <string.h>

const char* BuildPath(const char* fileName)
{
    static char path[4][MAX_PATH];
    static int next;
    char* out = path[next++ % 4];
    GetModuleFileNameA(NULL, out, MAX_PATH);
    char* slash = strrchr(out, '\\');
    if (!slash)
        slash = strrchr(out, '/');
    strcpy(slash ? slash + 1 : out, fileName);
    return out;
}
