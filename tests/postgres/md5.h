// MD5 through the system's CryptoAPI, for comparing what the test sent with
// the server's own md5() of what it stored.
#pragma once
#include <windows.h>
#include <wincrypt.h>
#include <stddef.h>

struct Md5 {
    HCRYPTPROV provider;
    HCRYPTHASH hash;
    bool failed;
};

// False when the provider or the hash cannot be had.
bool Md5Begin(Md5* m);
void Md5Add(Md5* m, const void* data, size_t length);
// Writes 32 lower-case hex digits and a NUL, releases the hash; false (and
// an empty string) when any step failed.
bool Md5End(Md5* m, char hex[33]);
