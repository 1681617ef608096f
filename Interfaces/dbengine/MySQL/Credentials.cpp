/*
 * Credentials, the part of AccountRules that verifies stored credentials: the servers'
 * password hashes computed on the client over QVdigest, and the verdict of a stored
 * credential on a password.
 *
 * Invariants: a verdict of "matches" is given only when the hash computed from the
 * password equals the stored one; two empty strings are never taken for a match of a
 * non-empty password; anything this file cannot compute is "unknown", with its reason.
 * Passwords never reach a log line or a reason.
 */
#include "Interfaces/dbengine/MySQL/AccountRules.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVdigest.h"

static const char QV_FILE[] = "Interfaces/dbengine/MySQL/Credentials";

/* ---- encodings ---------------------------------------------------------------------- */

static void upper_hex(const unsigned char *bytes, size_t n, char *out)
{
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < n; i++) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 15];
    }
    out[2 * n] = '\0';
}

/* Standard base64 of n bytes without padding, as MariaDB stores an ed25519 key. */
static void base64_unpadded(const unsigned char *bytes, size_t n, char *out)
{
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t o = 0;
    for (size_t i = 0; i < n; i += 3) {
        unsigned long group = static_cast<unsigned long>(bytes[i]) << 16;
        size_t present = n - i < 3 ? n - i : 3; /* [1, 3] bytes, giving present + 1 characters */
        if (present > 1)
            group |= static_cast<unsigned long>(bytes[i + 1]) << 8;
        if (present > 2)
            group |= bytes[i + 2];
        for (size_t k = 0; k <= present; k++)
            out[o++] = alphabet[(group >> (18 - 6 * k)) & 63];
    }
    out[o] = '\0';
}

/* ---- the hashes --------------------------------------------------------------------- */

unsigned qv_credential_native_hash(const char *password, char *out, size_t capacity)
{
    if (password == nullptr || out == nullptr || capacity < 2 + 2 * QV_SHA1_SIZE) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s",
                  "qv_credential_native_hash: !password, !out or no room");
        return 1;
    }
    if (password[0] == '\0') { /* the servers store nothing for an empty password */
        out[0] = '\0';
        return 0;
    }
    unsigned char once[QV_SHA1_SIZE], twice[QV_SHA1_SIZE];
    unsigned status = qv_digest(QV_DIGEST_SHA1, password, strlen(password), once, sizeof once);
    if (status == 0)
        status = qv_digest(QV_DIGEST_SHA1, once, sizeof once, twice, sizeof twice);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    out[0] = '*';
    upper_hex(twice, sizeof twice, out + 1);
    return 0;
}

unsigned qv_credential_ed25519_hash(const char *password, char *out, size_t capacity)
{
    if (password == nullptr || out == nullptr || capacity < 44) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s",
                  "qv_credential_ed25519_hash: !password, !out or no room");
        return 1;
    }
    unsigned char digest[QV_SHA512_SIZE], key[QV_ED25519_SIZE];
    unsigned status =
        qv_digest(QV_DIGEST_SHA512, password, strlen(password), digest, sizeof digest);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    /* The secret scalar is the first half of the digest; the key function clamps it. */
    status = qv_ed25519_public_key(digest, key);
    if (status != 0)
        return status; /* a platform without Ed25519 is not a failure: nothing logged */
    base64_unpadded(key, sizeof key, out);
    return 0;
}

/* A SHA-256 computation whose first failure sticks: every later step does nothing, and
 * the status says what went wrong. */
struct Sha256Run {
    QVdigest digest;
    unsigned status;
};

static void sha_start(Sha256Run *run)
{
    if (run->status == 0)
        run->status = qv_digest_init(&run->digest, QV_DIGEST_SHA256);
}

static void sha_add(Sha256Run *run, const void *data, size_t size)
{
    if (run->status == 0)
        run->status = qv_digest_update(&run->digest, data, size);
}

static void sha_end(Sha256Run *run, unsigned char out[QV_SHA256_SIZE])
{
    if (run->status == 0)
        run->status = qv_digest_final(&run->digest, out, QV_SHA256_SIZE);
    qv_digest_free(&run->digest); /* after a failure before the end */
}

/* Fills out (n bytes) with copies of the 32-byte block, the last one cut. */
static void repeat_block(const unsigned char block[QV_SHA256_SIZE], unsigned char *out, size_t n)
{
    for (size_t i = 0; i < n; i += QV_SHA256_SIZE)
        memcpy(out + i, block, n - i < QV_SHA256_SIZE ? n - i : QV_SHA256_SIZE);
}

/* The crypt's own base64: the alphabet "./0-9A-Za-z", and the 32 bytes of the result
 * taken three at a time in a fixed shuffled order, each group written low 6 bits first
 * (the last group holds two bytes and gives three characters). */
static void crypt_base64(const unsigned char result[QV_SHA256_SIZE], char *out)
{
    static const char alphabet[] =
        "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    static const unsigned char order[11][3] = {
        {0, 10, 20}, {21, 1, 11}, {12, 22, 2}, {3, 13, 23}, {24, 4, 14}, {15, 25, 5},
        {6, 16, 26}, {27, 7, 17}, {18, 28, 8}, {9, 19, 29}, {0, 31, 30},
    };
    size_t o = 0;
    for (size_t g = 0; g < 11; g++) {
        /* The first byte of the last group is no byte: it stands for zero. */
        unsigned long w = (g == 10 ? 0ul : static_cast<unsigned long>(result[order[g][0]]) << 16) |
                          static_cast<unsigned long>(result[order[g][1]]) << 8 |
                          result[order[g][2]];
        for (int k = 0; k < (g == 10 ? 3 : 4); k++, w >>= 6)
            out[o++] = alphabet[w & 63];
    }
    out[o] = '\0'; /* 10 * 4 + 3 = 43 characters */
}

/* Steps 1 to 12 of SHA-256-crypt (Ulrich Drepper's specification, as glibc implements
 * it): the starting digest a from the password p and the salt s, and the byte strings
 * p' and s' that the rounds use. */
static void crypt_prepare(Sha256Run *run, const char *p, size_t pl, const char *s, size_t sl,
                          unsigned char a[QV_SHA256_SIZE], unsigned char *p_bytes,
                          unsigned char *s_bytes)
{
    unsigned char b[QV_SHA256_SIZE], block[QV_SHA256_SIZE];
    sha_start(run); /* digest B: p, s, p */
    sha_add(run, p, pl);
    sha_add(run, s, sl);
    sha_add(run, p, pl);
    sha_end(run, b);

    sha_start(run); /* digest A: p, s, then B once per 32 bytes of p, the last cut */
    sha_add(run, p, pl);
    sha_add(run, s, sl);
    size_t n = pl;
    for (; n > QV_SHA256_SIZE; n -= QV_SHA256_SIZE)
        sha_add(run, b, QV_SHA256_SIZE);
    sha_add(run, b, n);
    for (n = pl; n > 0; n >>= 1) /* then, per bit of p's length from the lowest: B or p */
        if ((n & 1) != 0)
            sha_add(run, b, QV_SHA256_SIZE);
        else
            sha_add(run, p, pl);
    sha_end(run, a);

    sha_start(run); /* digest DP: p once per byte of p, repeated to p's length */
    for (size_t i = 0; i < pl; i++)
        sha_add(run, p, pl);
    sha_end(run, block);
    repeat_block(block, p_bytes, pl);

    sha_start(run); /* digest DS: s, 16 + a[0] times, repeated to s's length */
    for (unsigned i = 0; i < 16u + a[0]; i++)
        sha_add(run, s, sl);
    sha_end(run, block);
    repeat_block(block, s_bytes, sl);
}

unsigned qv_credential_sha256_crypt(const char *password, const char *salt, size_t salt_length,
                                    unsigned long rounds, char *out, size_t capacity)
{
    size_t pl = password ? strlen(password) : 0;
    if (password == nullptr || salt == nullptr || out == nullptr || capacity < 44 ||
        pl > QV_SHA256_CRYPT_MAX_PASSWORD || salt_length > QV_SHA256_CRYPT_MAX_SALT ||
        rounds < 1000 || rounds > 999999999) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s",
                  "qv_credential_sha256_crypt: an argument is missing or out of range");
        return 1;
    }
    Sha256Run run{};
    unsigned char a[QV_SHA256_SIZE];
    unsigned char p_bytes[QV_SHA256_CRYPT_MAX_PASSWORD], s_bytes[QV_SHA256_CRYPT_MAX_SALT];
    crypt_prepare(&run, password, pl, salt, salt_length, a, p_bytes, s_bytes);
    for (unsigned long i = 0; i < rounds && run.status == 0; i++) {
        sha_start(&run);
        if ((i & 1) != 0)
            sha_add(&run, p_bytes, pl);
        else
            sha_add(&run, a, sizeof a);
        if (i % 3 != 0)
            sha_add(&run, s_bytes, salt_length);
        if (i % 7 != 0)
            sha_add(&run, p_bytes, pl);
        if ((i & 1) != 0)
            sha_add(&run, a, sizeof a);
        else
            sha_add(&run, p_bytes, pl);
        sha_end(&run, a);
    }
    if (run.status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return run.status;
    }
    crypt_base64(a, out);
    return 0;
}

/* ---- verification ------------------------------------------------------------------- */

#define QV_SHA2_DIGEST_LENGTH 43
#define QV_SHA2_SALT_LENGTH 20
/* The most rounds MySQL's layout can name (0xFFF thousands): about 4 s to compute. A
 * stored string that names more is not computed, so that a check stays bounded. */
#define QV_SHA2_MAX_ROUNDS 4095000ul

/* What a verifier found: the verdict and, unless it matches, why. */
struct Verdict {
    int verdict;
    const char *why; /* static text, or null for a match */
};

/* The verdict of a stored hash against the one computed from the password. */
static Verdict compared(bool equal)
{
    return equal ? Verdict{QV_CREDENTIAL_MATCHES, nullptr}
                 : Verdict{QV_CREDENTIAL_DIFFERS, "another password"};
}

/* mysql_native_password: the stored string (the authentication string, or the Password
 * column on servers that keep the hash there). */
static Verdict verify_native(const char *stored, const char *password)
{
    char expected[QV_CREDENTIAL_HASH_SIZE];
    if (qv_credential_native_hash(password, expected, sizeof expected) != 0)
        return {QV_CREDENTIAL_UNKNOWN, "the hash could not be computed"};
    if (stored[0] == '\0')
        return password[0] == '\0' ? Verdict{QV_CREDENTIAL_MATCHES, nullptr}
                                   : Verdict{QV_CREDENTIAL_DIFFERS, "no password is set"};
    /* Pre-4.1 servers' hash: 16 hex digits, another algorithm. */
    if (strlen(stored) == 16 && strspn(stored, "0123456789abcdefABCDEF") == 16)
        return {QV_CREDENTIAL_UNKNOWN, "a pre-4.1 hash (mysql_old_password)"};
    /* The server decodes the hex digits, so their case does not matter. */
    return compared(strcasecmp(stored, expected) == 0);
}

/* Reads a SHA-256-crypt credential: "$A$" + 3 hex digits of rounds/1000 + "$" + 20 bytes
 * of salt + 43 characters, or "$5$" [+ "rounds=N$"] + salt + "$" + 43 characters. Returns
 * false when stored has neither layout. */
static bool parse_sha2(const char *stored, unsigned long *rounds, const char **salt,
                       size_t *salt_length, const char **digest)
{
    size_t n = strlen(stored);
    if (strncmp(stored, "$A$", 3) == 0) {
        if (n != 7 + QV_SHA2_SALT_LENGTH + QV_SHA2_DIGEST_LENGTH || stored[6] != '$' ||
            strspn(stored + 3, "0123456789abcdefABCDEF") < 3)
            return false;
        char hex[4] = {stored[3], stored[4], stored[5], '\0'};
        *rounds = strtoul(hex, nullptr, 16) * 1000;
        *salt = stored + 7;
        *salt_length = QV_SHA2_SALT_LENGTH;
    } else if (strncmp(stored, "$5$", 3) == 0) {
        if (n < 4 + QV_SHA2_DIGEST_LENGTH || stored[n - QV_SHA2_DIGEST_LENGTH - 1] != '$')
            return false;
        *salt = stored + 3;
        *rounds = 5000; /* the default when no count is named */
        if (strncmp(*salt, "rounds=", 7) == 0) {
            char *end = nullptr;
            *rounds = strtoul(*salt + 7, &end, 10);
            if (end == *salt + 7 || *end != '$')
                return false;
            *salt = end + 1;
        }
        const char *salt_end = stored + n - QV_SHA2_DIGEST_LENGTH - 1;
        if (salt_end < *salt)
            return false;
        *salt_length = static_cast<size_t>(salt_end - *salt);
    } else {
        return false;
    }
    *digest = stored + n - QV_SHA2_DIGEST_LENGTH;
    return *rounds >= 1000 && *rounds <= QV_SHA2_MAX_ROUNDS &&
           *salt_length <= QV_SHA256_CRYPT_MAX_SALT;
}

/* caching_sha2_password and sha256_password. */
static Verdict verify_sha2(const char *stored, const char *password)
{
    if (stored[0] == '\0')
        return password[0] == '\0' ? Verdict{QV_CREDENTIAL_MATCHES, nullptr}
                                   : Verdict{QV_CREDENTIAL_DIFFERS, "no password is set"};
    unsigned long rounds = 0;
    const char *salt = nullptr, *digest = nullptr;
    size_t salt_length = 0;
    if (!parse_sha2(stored, &rounds, &salt, &salt_length, &digest))
        return {QV_CREDENTIAL_UNKNOWN, "a stored layout this tool does not read"};
    char computed[QV_CREDENTIAL_HASH_SIZE];
    if (qv_credential_sha256_crypt(password, salt, salt_length, rounds, computed,
                                   sizeof computed) != 0)
        return {QV_CREDENTIAL_UNKNOWN, "the hash could not be computed"};
    return compared(strcmp(computed, digest) == 0);
}

/* MariaDB's ed25519. */
static Verdict verify_ed25519(const char *stored, const char *password)
{
    char expected[QV_CREDENTIAL_HASH_SIZE];
    if (qv_credential_ed25519_hash(password, expected, sizeof expected) != 0)
        return {QV_CREDENTIAL_UNKNOWN, "its keys cannot be computed on this platform"};
    if (stored[0] == '\0')
        return {QV_CREDENTIAL_DIFFERS, "no password is set"};
    return compared(strcmp(stored, expected) == 0);
}

/* Whether plugin authenticates without the account's password: by the operating
 * system's user, Kerberos, PAM, a security key or the Windows login. */
static bool takes_no_password(const char *plugin)
{
    static const char *const methods[] = {
        "unix_socket",
        "auth_socket",
        "gssapi",
        "pam",
        "authentication_pam",
        "authentication_windows",
        "named_pipe",
        "authentication_kerberos",
        "authentication_fido",
        "authentication_webauthn",
    };
    for (const char *method : methods)
        if (strcmp(plugin, method) == 0)
            return true;
    return false;
}

int qv_credential_verify(const char *plugin, const char *authentication_string,
                         const char *password_column, const char *password, char *reason,
                         size_t capacity)
{
    if (reason != nullptr && capacity > 0)
        reason[0] = '\0';
    if (password == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_credential_verify: !password");
        qv_snprintf(reason, capacity, "%s", "no password to verify");
        return QV_CREDENTIAL_UNKNOWN;
    }
    const char *method = plugin && plugin[0] ? plugin : "mysql_native_password";
    const char *stored = authentication_string ? authentication_string : "";
    Verdict found;
    if (strcmp(method, "mysql_native_password") == 0)
        found = verify_native(stored[0] || !password_column ? stored : password_column, password);
    else if (strcmp(method, "caching_sha2_password") == 0 || strcmp(method, "sha256_password") == 0)
        found = verify_sha2(stored, password);
    else if (strcmp(method, "ed25519") == 0)
        found = verify_ed25519(stored, password);
    else if (strcmp(method, "mysql_old_password") == 0)
        found = {QV_CREDENTIAL_UNKNOWN, "a pre-4.1 hash"};
    else if (takes_no_password(method))
        found = {QV_CREDENTIAL_DIFFERS, "takes no password"};
    else
        found = {QV_CREDENTIAL_UNKNOWN, "cannot be verified by this tool"};
    if (found.why != nullptr && reason != nullptr && capacity > 0)
        qv_snprintf(reason, capacity, "%s", found.why);
    return found.verdict;
}
