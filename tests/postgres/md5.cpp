// CryptoAPI's MD5: a verify-only context needs no key container.
#include "md5.h"
#include <stdio.h>

bool Md5Begin(Md5* m)
{
    m->provider = 0;
    m->hash = 0;
    m->failed = !CryptAcquireContextA(&m->provider, NULL, NULL, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
                !CryptCreateHash(m->provider, CALG_MD5, 0, 0, &m->hash);
    return !m->failed;
}

void Md5Add(Md5* m, const void* data, size_t length)
{
    if (!m->failed && length > 0 && !CryptHashData(m->hash, (const BYTE*)data, (DWORD)length, 0))
        m->failed = true;
}

bool Md5End(Md5* m, char hex[33])
{
    BYTE digest[16];
    DWORD size = sizeof digest;
    bool ok = !m->failed && CryptGetHashParam(m->hash, HP_HASHVAL, digest, &size, 0) && size == sizeof digest;
    hex[0] = 0;
    if (ok)
        for (int i = 0; i < 16; i++)
            sprintf(hex + 2 * i, "%02x", digest[i]);
    if (m->hash)
        CryptDestroyHash(m->hash);
    if (m->provider)
        CryptReleaseContext(m->provider, 0);
    m->hash = 0;
    m->provider = 0;
    return ok;
}
