// A work folder of the program's own: made fresh under the temp path, the
// current directory for the rest of the run, removed with its files when
// the program ends.
#pragma once

// Makes and enters the folder on the first call (its name begins with
// prefix); later calls return the same folder. Returns its path, or NULL
// after a failed check.
const char* EnterWorkFolder(const char* prefix);
