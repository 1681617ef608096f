/*
 * DigestPosix: the digests over OpenSSL's libcrypto (its EVP interface), and Ed25519
 * over libsodium.
 *
 * A started digest's state is an EVP_MD_CTX that this file allocates and frees;
 * QVdigest.cpp checks the arguments and the calls' order.
 */
#include "QVLib/QVdigest.h"

#include <openssl/evp.h>
#include <sodium.h>

#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"

static const char QV_FILE[] = "DigestPosix";

static const EVP_MD *method_of(int kind)
{
    switch (kind) {
    case QV_DIGEST_SHA1:
        return EVP_sha1();
    case QV_DIGEST_SHA256:
        return EVP_sha256();
    case QV_DIGEST_SHA512:
        return EVP_sha512();
    default:
        return nullptr;
    }
}

unsigned qv_digest_platform_start(QVdigest *d)
{
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    d->state = context;
    if (context == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_digest_init: out of memory");
        return 2;
    }
    if (EVP_DigestInit_ex(context, method_of(d->kind), nullptr) != 1) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s",
                  "qv_digest_init: EVP_DigestInit_ex failed");
        qv_digest_free(d);
        return 1;
    }
    return 0;
}

bool qv_digest_platform_add(void *state, const void *data, size_t size)
{
    if (EVP_DigestUpdate(static_cast<EVP_MD_CTX *>(state), data, size) == 1)
        return true;
    qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_digest_update: EVP_DigestUpdate failed");
    return false;
}

bool qv_digest_platform_finish(void *state, int kind, unsigned char *out)
{
    unsigned char result[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    if (EVP_DigestFinal_ex(static_cast<EVP_MD_CTX *>(state), result, &size) != 1 ||
        size != qv_digest_size(kind)) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s",
                  "qv_digest_final: EVP_DigestFinal_ex failed");
        return false;
    }
    memcpy(out, result, size);
    return true;
}

void qv_digest_platform_release(void *state)
{
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX *>(state));
}

unsigned qv_ed25519_public_key(const unsigned char scalar[QV_ED25519_SIZE],
                               unsigned char key[QV_ED25519_SIZE])
{
    /* sodium_init is safe to call again and from several threads; it picks the
     * library's implementations once. */
    if (scalar == nullptr || key == nullptr || sodium_init() < 0) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s",
                  scalar == nullptr || key == nullptr
                      ? "qv_ed25519_public_key: !scalar or !key"
                      : "qv_ed25519_public_key: sodium_init failed");
        return 1;
    }
    static_assert(crypto_scalarmult_ed25519_SCALARBYTES == QV_ED25519_SIZE, "scalar size");
    static_assert(crypto_scalarmult_ed25519_BYTES == QV_ED25519_SIZE, "key size");
    /* The library clamps the scalar itself. It refuses only a scalar of zero bytes
     * and one that gives the identity: neither comes out of a digest in practice. */
    if (crypto_scalarmult_ed25519_base(key, scalar) != 0) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s",
                  "qv_ed25519_public_key: crypto_scalarmult_ed25519_base failed");
        return 1;
    }
    return 0;
}
