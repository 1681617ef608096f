/*
 * DigestWin32: the digests over the system's CNG (BCrypt) hash providers. Windows has no
 * Ed25519 of its own and libsodium is not built for it: the Ed25519 public key answers
 * status 1, which the credential check reads as "unknown".
 *
 * A started digest's state is a provider and a hash object that this file opens and
 * closes; QVdigest.cpp checks the arguments and the calls' order.
 */
#include <windows.h>

#include <bcrypt.h>

#include <cstdlib>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVdigest.h"
#include "QVLib/QVmalloc.h"

static const char QV_FILE[] = "DigestWin32";

struct DigestState {
    BCRYPT_ALG_HANDLE provider;
    BCRYPT_HASH_HANDLE hash;
};

static LPCWSTR algorithm_of(int kind)
{
    switch (kind) {
    case QV_DIGEST_SHA1:
        return BCRYPT_SHA1_ALGORITHM;
    case QV_DIGEST_SHA256:
        return BCRYPT_SHA256_ALGORITHM;
    case QV_DIGEST_SHA512:
        return BCRYPT_SHA512_ALGORITHM;
    default:
        return nullptr;
    }
}

unsigned qv_digest_platform_start(QVdigest *d)
{
    DigestState *state = static_cast<DigestState *>(qv_raw_malloc(sizeof(DigestState)));
    d->state = state;
    if (state == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_digest_init: out of memory");
        return 2;
    }
    state->hash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&state->provider, algorithm_of(d->kind),
                                                    nullptr, 0))) {
        free(state);
        d->state = nullptr;
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s",
                  "qv_digest_init: BCryptOpenAlgorithmProvider failed");
        return 1;
    }
    if (!BCRYPT_SUCCESS(BCryptCreateHash(state->provider, &state->hash, nullptr, 0, nullptr, 0, 0))) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_digest_init: BCryptCreateHash failed");
        qv_digest_free(d);
        return 1;
    }
    return 0;
}

bool qv_digest_platform_add(void *state, const void *data, size_t size)
{
    BCRYPT_HASH_HANDLE hash = static_cast<DigestState *>(state)->hash;
    const UCHAR *bytes = static_cast<const UCHAR *>(data);
    /* The provider takes at most 4 GiB - 1 bytes a call. */
    while (size > 0) {
        ULONG piece = size > 0x80000000u ? 0x80000000u : static_cast<ULONG>(size);
        if (!BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<UCHAR *>(bytes), piece, 0))) {
            qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s",
                      "qv_digest_update: BCryptHashData failed");
            return false;
        }
        bytes += piece;
        size -= piece;
    }
    return true;
}

bool qv_digest_platform_finish(void *state, int kind, unsigned char *out)
{
    ULONG size = static_cast<ULONG>(qv_digest_size(kind));
    if (BCRYPT_SUCCESS(BCryptFinishHash(static_cast<DigestState *>(state)->hash, out, size, 0)))
        return true;
    qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_digest_final: BCryptFinishHash failed");
    return false;
}

void qv_digest_platform_release(void *state)
{
    DigestState *digest = static_cast<DigestState *>(state);
    if (digest->hash != nullptr)
        BCryptDestroyHash(digest->hash);
    BCryptCloseAlgorithmProvider(digest->provider, 0);
    free(digest);
}

unsigned qv_ed25519_public_key(const unsigned char scalar[QV_ED25519_SIZE],
                               unsigned char key[QV_ED25519_SIZE])
{
    (void)scalar;
    (void)key;
    return 1; /* the caller says that it cannot tell */
}
