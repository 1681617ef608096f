/*
 * CredentialHashes: SHA-256-crypt digests from an oracle apart from the tool:
 * tests/scripts/sha256_crypt.py, written from the algorithm's specification, run with
 * the system's Python. It takes salts of any length, where glibc's crypt() cuts them to
 * 16 bytes (MySQL's caching_sha2_password uses 20).
 */
#ifndef TESTS_SUPPORT_CREDENTIALHASHES_H
#define TESTS_SUPPORT_CREDENTIALHASHES_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/TestFiles.h"

struct CryptCase {
    std::string password, salt; /* any bytes */
    unsigned long rounds;
};

inline std::string hex_of(const std::string &bytes)
{
    std::string out;
    for (unsigned char c : bytes)
        out += std::string{"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
    return out;
}

/* The 43 characters of SHA-256-crypt that follow the salt, for each case, in order. */
inline std::vector<std::string> sha256_crypt_oracle(const std::vector<CryptCase> &cases)
{
    TempDir dir("qv-crypt");
    std::string input;
    for (const CryptCase &c : cases)
        input += hex_of(c.password) + " " + hex_of(c.salt) + " " + std::to_string(c.rounds) + "\n";
    dir.file("cases", input);
    const std::string command = "/usr/bin/python3 " QV_SOURCE_DIR "/tests/scripts/sha256_crypt.py < " +
                                dir.path() + "/cases";
    std::vector<std::string> digests;
    if (FILE *out = popen(command.c_str(), "r")) {
        char line[128];
        while (fgets(line, sizeof line, out) != nullptr)
            digests.push_back(std::string(line).substr(0, 43));
        EXPECT_EQ(0, pclose(out)) << command;
    }
    EXPECT_EQ(cases.size(), digests.size()) << command;
    digests.resize(cases.size());
    return digests;
}

#endif
