/*
 * QVdigest: the message digests SHA-1, SHA-256 and SHA-512, incremental and one-shot,
 * and the Ed25519 public key of a secret scalar: what it takes to compute, on the
 * client, the password hashes that MySQL and MariaDB servers store.
 *
 * The hashing itself is the platform's well-kept library (QVLib/Posix/DigestPosix:
 * OpenSSL's libcrypto and libsodium; on Windows the system's CNG), never code of our
 * own; this header names none of their types, so that shared code stays the same on
 * every platform. A platform that lacks one of the functions answers status 1 for it,
 * and a caller reads that as "cannot tell".
 *
 * Status codes: 0 success, 1 bad argument, unknown kind or a function the platform
 * lacks, 2 out of memory. Every failure is logged where it is found: the arguments and
 * the calls' order here (QVdigest.cpp), the library's failures in the platform file.
 */
#ifndef QVLIB_QVDIGEST_H
#define QVLIB_QVDIGEST_H

#include <cstddef>

/* The digests. */
enum { QV_DIGEST_SHA1 = 0, QV_DIGEST_SHA256 = 1, QV_DIGEST_SHA512 = 2 };

#define QV_SHA1_SIZE 20
#define QV_SHA256_SIZE 32
#define QV_SHA512_SIZE 64
#define QV_DIGEST_MAX_SIZE 64
/* An Ed25519 secret scalar and a public key. */
#define QV_ED25519_SIZE 32

/* A digest being computed: from qv_digest_init until qv_digest_final or
 * qv_digest_free, state holds the platform's own record (owned by it). */
struct QVdigest {
    int kind;    /* QV_DIGEST_* */
    void *state; /* the platform's state, or null when none is held */
};

/* The size in bytes of the digest of kind, or 0 for an unknown kind. */
size_t qv_digest_size(int kind);

/* Starts a digest of kind in d. Returns 0 with d holding a state (released by
 * qv_digest_final or qv_digest_free), 1 for a missing d or an unknown kind, 2 when the
 * state cannot be allocated; on failure d holds no state. */
unsigned qv_digest_init(QVdigest *d, int kind);

/* Adds size bytes at data (data may be null when size is 0) to a started digest.
 * Returns 0, or 1 when d holds no state or the platform fails (d keeps its state). */
unsigned qv_digest_update(QVdigest *d, const void *data, size_t size);

/* Ends the digest: writes qv_digest_size(d->kind) bytes to out, which has room for
 * capacity bytes, and releases the state in every case. Returns 0, or 1 when d holds
 * no state, out is too small or the platform fails (out is then left as it was). */
unsigned qv_digest_final(QVdigest *d, unsigned char *out, size_t capacity);

/* Releases the state of a digest that will not be ended; d without a state, or null,
 * is ignored. */
void qv_digest_free(QVdigest *d);

/* The digest of kind of the size bytes at data, into out (capacity bytes). Returns as
 * qv_digest_init and qv_digest_final. */
unsigned qv_digest(int kind, const void *data, size_t size, unsigned char *out, size_t capacity);

/* The Ed25519 public key of the secret scalar, clamped first (the low three bits
 * cleared, the top bit cleared and the next one set, as Ed25519 key generation does),
 * into key. Returns 0, or 1 when an argument is missing or the computation fails
 * (logged), or when the platform lacks Ed25519 (not logged: the caller says that it
 * cannot tell). */
unsigned qv_ed25519_public_key(const unsigned char scalar[QV_ED25519_SIZE],
                               unsigned char key[QV_ED25519_SIZE]);

/* ---- the platform side, for QVdigest.cpp alone ------------------------------------ */

/* Starts a digest of d->kind (a known kind) into d->state. Returns 0, 1 when the
 * platform fails or 2 out of memory, logged, with d->state null. */
unsigned qv_digest_platform_start(QVdigest *d);

/* Adds size (> 0) bytes to a started digest. Returns false, logged, on failure. */
bool qv_digest_platform_add(void *state, const void *data, size_t size);

/* Ends a started digest into out (qv_digest_size of its kind bytes). Returns false,
 * logged, on failure. The state stays for qv_digest_platform_release. */
bool qv_digest_platform_finish(void *state, int kind, unsigned char *out);

/* Releases a started digest's state. */
void qv_digest_platform_release(void *state);

#endif
