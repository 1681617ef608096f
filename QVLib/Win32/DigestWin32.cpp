/*
 * DigestWin32: the digests over the system's CNG (BCrypt) hash providers. Windows has no
 * Ed25519 of its own and libsodium is not built for it: the Ed25519 public key answers
 * status 1, which the credential check reads as "unknown".
 *
 * A started digest's state is a provider and a hash object that this file opens and
 * closes; a QVdigest holds one exactly between a successful qv_digest_init and its
 * qv_digest_final or qv_digest_free.
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

unsigned qv_digest_init(QVdigest *d, int kind)
{
    LPCWSTR algorithm = algorithm_of(kind);
    if (d == nullptr || algorithm == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "qv_digest_init: %s",
                  d == nullptr ? "!d" : "unknown kind");
        if (d != nullptr)
            d->state = nullptr;
        return 1;
    }
    d->kind = kind;
    DigestState *state = static_cast<DigestState *>(qv_raw_malloc(sizeof(DigestState)));
    d->state = state;
    if (state == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_digest_init: out of memory");
        return 2;
    }
    state->hash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&state->provider, algorithm, nullptr, 0))) {
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

unsigned qv_digest_update(QVdigest *d, const void *data, size_t size)
{
    if (d == nullptr || d->state == nullptr || (data == nullptr && size > 0)) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_digest_update: no digest or no data");
        return 1;
    }
    BCRYPT_HASH_HANDLE hash = static_cast<DigestState *>(d->state)->hash;
    const UCHAR *bytes = static_cast<const UCHAR *>(data);
    /* The provider takes at most 4 GiB - 1 bytes a call. */
    while (size > 0) {
        ULONG piece = size > 0x80000000u ? 0x80000000u : static_cast<ULONG>(size);
        if (!BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<UCHAR *>(bytes), piece, 0))) {
            qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s",
                      "qv_digest_update: BCryptHashData failed");
            return 1;
        }
        bytes += piece;
        size -= piece;
    }
    return 0;
}

unsigned qv_digest_final(QVdigest *d, unsigned char *out, size_t capacity)
{
    if (d == nullptr || d->state == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_digest_final: no digest");
        return 1;
    }
    unsigned char result[QV_DIGEST_MAX_SIZE];
    ULONG size = static_cast<ULONG>(qv_digest_size(d->kind));
    bool done = BCRYPT_SUCCESS(
        BCryptFinishHash(static_cast<DigestState *>(d->state)->hash, result, size, 0));
    qv_digest_free(d);
    if (!done || out == nullptr || capacity < size) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s",
                  done ? "qv_digest_final: no room for the digest"
                       : "qv_digest_final: BCryptFinishHash failed");
        return 1;
    }
    memcpy(out, result, size);
    return 0;
}

void qv_digest_free(QVdigest *d)
{
    if (d == nullptr || d->state == nullptr)
        return;
    DigestState *state = static_cast<DigestState *>(d->state);
    if (state->hash != nullptr)
        BCryptDestroyHash(state->hash);
    BCryptCloseAlgorithmProvider(state->provider, 0);
    free(state);
    d->state = nullptr;
}

unsigned qv_ed25519_public_key(const unsigned char scalar[QV_ED25519_SIZE],
                               unsigned char key[QV_ED25519_SIZE])
{
    (void)scalar;
    (void)key;
    return 1; /* the caller says that it cannot tell */
}
