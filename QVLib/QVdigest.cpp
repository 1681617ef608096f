/*
 * QVdigest: what every platform shares, the sizes of the digests and the one-shot form
 * over the incremental calls of the platform file.
 */
#include "QVLib/QVdigest.h"

#include "Interfaces/ErrorLogger/ErrorLogger.h"

static const char QV_FILE[] = "QVLib/QVdigest";

size_t qv_digest_size(int kind)
{
    switch (kind) {
    case QV_DIGEST_SHA1:
        return QV_SHA1_SIZE;
    case QV_DIGEST_SHA256:
        return QV_SHA256_SIZE;
    case QV_DIGEST_SHA512:
        return QV_SHA512_SIZE;
    default:
        return 0;
    }
}

unsigned qv_digest(int kind, const void *data, size_t size, unsigned char *out, size_t capacity)
{
    QVdigest d{};
    unsigned status = qv_digest_init(&d, kind);
    if (status == 0)
        status = qv_digest_update(&d, data, size);
    if (status == 0)
        return qv_digest_final(&d, out, capacity);
    qv_digest_free(&d);
    qv_log_trace(QV_FILE, __LINE__);
    return status;
}
