/*
 * CredentialHashes: SHA-256-crypt credentials for the tests' server rows, made with the
 * credential module's own function, which AccountRulesTest holds to glibc's crypt.
 */
#ifndef TESTS_SUPPORT_CREDENTIALHASHES_H
#define TESTS_SUPPORT_CREDENTIALHASHES_H

#include <gtest/gtest.h>

#include <string>

#include "Interfaces/dbengine/MySQL/AccountRules.h"

/* The 43 characters of SHA-256-crypt that follow the salt. */
inline std::string sha256_crypt(const std::string &password, const std::string &salt,
                                unsigned long rounds)
{
    char out[QV_CREDENTIAL_HASH_SIZE] = "";
    EXPECT_EQ(0u, qv_credential_sha256_crypt(password.c_str(), salt.data(), salt.size(), rounds,
                                             out, sizeof out));
    return out;
}

/* caching_sha2_password's stored credential of password: 5000 rounds, salt of 20 bytes. */
inline std::string caching_sha2(const std::string &password, const std::string &salt)
{
    return "$A$005$" + salt + sha256_crypt(password, salt, 5000);
}

#endif
