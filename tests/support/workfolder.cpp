// The work folder behind workfolder.h.
#include "workfolder.h"
#include "check.h"
#include <stdio.h>
#include <stdlib.h>

static char workFolder[MAX_PATH];

// Leaves the folder (a folder in use cannot be removed), then removes the
// files in it and the folder itself.
static void RemoveWorkFolder(void)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    SetCurrentDirectoryA(temp);
    char pattern[MAX_PATH + 4];
    snprintf(pattern, sizeof pattern, "%s\\*", workFolder);
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            char path[2 * MAX_PATH];
            snprintf(path, sizeof path, "%s\\%s", workFolder, found.cFileName);
            DeleteFileA(path);
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(workFolder);
}

const char* EnterWorkFolder(const char* prefix)
{
    if (workFolder[0])
        return workFolder;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    snprintf(workFolder, sizeof workFolder, "%s%s-%lu-%lu", temp, prefix, GetCurrentProcessId(), GetTickCount());
    if (!CHECK(CreateDirectoryA(workFolder, NULL) && SetCurrentDirectoryA(workFolder), "cannot make and enter %s: %lu",
               workFolder, GetLastError())) {
        workFolder[0] = 0;
        return NULL;
    }
    atexit(RemoveWorkFolder);
    return workFolder;
}
