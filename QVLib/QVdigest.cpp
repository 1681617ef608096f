/*
 * QVdigest: what every platform shares: the sizes of the digests, the checks of the
 * arguments and of the calls' order over the platform file's library calls, and the
 * one-shot form over the incremental calls.
 */
#include "QVLib/QVdigest.h"

#include <cstring>

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

unsigned qv_digest_init(QVdigest *d, int kind)
{
    if (d == nullptr || qv_digest_size(kind) == 0) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "qv_digest_init: %s",
                  d == nullptr ? "!d" : "unknown kind");
        if (d != nullptr)
            d->state = nullptr;
        return 1;
    }
    d->kind = kind;
    return qv_digest_platform_start(d);
}

unsigned qv_digest_update(QVdigest *d, const void *data, size_t size)
{
    if (d == nullptr || d->state == nullptr || (data == nullptr && size > 0)) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_digest_update: no digest or no data");
        return 1;
    }
    return size == 0 || qv_digest_platform_add(d->state, data, size) ? 0 : 1;
}

unsigned qv_digest_final(QVdigest *d, unsigned char *out, size_t capacity)
{
    if (d == nullptr || d->state == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_digest_final: no digest");
        return 1;
    }
    unsigned char result[QV_DIGEST_MAX_SIZE];
    size_t size = qv_digest_size(d->kind);
    bool done = qv_digest_platform_finish(d->state, d->kind, result);
    qv_digest_free(d);
    if (!done)
        return 1;
    if (out == nullptr || capacity < size) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_digest_final: no room for the digest");
        return 1;
    }
    memcpy(out, result, size);
    return 0;
}

void qv_digest_free(QVdigest *d)
{
    if (d == nullptr || d->state == nullptr)
        return;
    qv_digest_platform_release(d->state);
    d->state = nullptr;
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
