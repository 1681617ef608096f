/*
 * Tests of what a run leaves: each level's privileges and grant option on a server with
 * privileges of its own; and of the credential verification: SHA-256-crypt against
 * glibc's crypt() (salts of 16 bytes or fewer) and against a second implementation in
 * Python (MySQL's salts of 20 bytes of any value), at several round counts and with
 * passwords around the 32-byte block, the native hash against its published value, and
 * the verdict for every method and layout a server may store. The hashes against a real
 * server are in the server tests.
 */
#include <gtest/gtest.h>

#include <crypt.h>

#include <memory>
#include <set>
#include <string>

#include "Interfaces/dbengine/MySQL/AccountRules.h"
#include "tests/support/CredentialHashes.h"
#include "tests/support/LogCapture.h"

namespace
{

std::string upper(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

TEST(AccountRules, WhatEachLevelLeavesANewAccount)
{
    /* A server with privileges the levels do not name, in its own case. */
    const char *const server[] = {"SELECT", "Insert", "RELOAD",     "FILE",    "SET USER",
                                  "SUPER",  "ALTER",  "CREATE",     "DELETE",  "DROP",
                                  "INDEX",  "UPDATE", "REFERENCES", "SHUTDOWN"};
    const std::set<std::string> data = {"ALTER",  "CREATE",     "DELETE", "DROP",  "INDEX",
                                        "INSERT", "REFERENCES", "SELECT", "UPDATE"};
    std::set<std::string> all = data, reload = data;
    all.insert({"FILE", "RELOAD", "SET USER", "SHUTDOWN", "SUPER"});
    reload.insert("RELOAD");
    const struct {
        int level;
        std::set<std::string> held;
        bool grant_option;
    } cases[] = {{QV_PRIV_ALL_GRANT, all, true}, {QV_PRIV_ALL, all, false},
                 {QV_PRIV_DATA, data, false},    {QV_PRIV_DATA_RELOAD, reload, false},
                 {QV_PRIV_USAGE, {}, false},     {5, {}, false}};
    for (const auto &c : cases) {
        std::set<std::string> held;
        qv_level_leaves(
            c.level, server, std::size(server),
            [](void *context, const char *name) {
                static_cast<std::set<std::string> *>(context)->insert(upper(name));
            },
            &held);
        EXPECT_EQ(c.held, held) << c.level;
        EXPECT_EQ(c.grant_option, qv_level_grant_option(c.level)) << c.level;
        EXPECT_FALSE(qv_level_holds(c.level, "USAGE") || qv_level_holds(c.level, "GRANT OPTION"));
    }
    EXPECT_TRUE(qv_level_holds(QV_PRIV_DATA, "select"));
    EXPECT_FALSE(qv_level_holds(QV_PRIV_DATA, "SELECTS"));
    /* What a run takes away from an account that held it: what a REVOKE step names. */
    const struct {
        int level;
        const char *privilege;
        bool taken;
    } revoked[] = {{QV_PRIV_DATA_RELOAD, "FILE", true},  {QV_PRIV_DATA_RELOAD, "super", false},
                   {QV_PRIV_DATA, "GRANT OPTION", true}, {QV_PRIV_ALL_GRANT, "GRANT OPTION", false},
                   {QV_PRIV_USAGE, "SELECT", true},      {QV_PRIV_ALL, "FILE", false}};
    for (const auto &r : revoked)
        EXPECT_EQ(r.taken, qv_level_takes_away(r.level, r.privilege)) << r.privilege;
}

/* The tool's own digest of a case. */
std::string tool_digest(const CryptCase &c)
{
    char out[QV_CREDENTIAL_HASH_SIZE] = "";
    EXPECT_EQ(0u, qv_credential_sha256_crypt(c.password.c_str(), c.salt.data(), c.salt.size(),
                                             c.rounds, out, sizeof out));
    return out;
}

TEST(Credentials, Sha256CryptEqualsGlibcCrypt)
{
    const std::string passwords[] = {"",
                                     "a",
                                     std::string(31, 'p'),
                                     "Rm5#Tq8w!Zp2&Lx9^Vc4*Nb7?Hs3%Gd6",
                                     std::string(33, 'q'),
                                     std::string(70, 'r') + "Hello world!"};
    const std::string salts[] = {"s", "saltstring", "0123456789abcdef"};
    auto data = std::make_unique<crypt_data>();
    for (unsigned long rounds : {1000ul, 5000ul, 12345ul})
        for (const std::string &salt : salts)
            for (const std::string &password : passwords) {
                std::string setting = "$5$rounds=" + std::to_string(rounds) + "$" + salt + "$";
                const char *reference = crypt_r(password.c_str(), setting.c_str(), data.get());
                ASSERT_NE(nullptr, reference);
                std::string expected(reference);
                ASSERT_EQ(setting.size() + 43, expected.size()) << expected;
                EXPECT_EQ(expected.substr(setting.size()), tool_digest({password, salt, rounds}))
                    << rounds << " " << salt << " " << password.size();
            }
}

TEST(Credentials, Sha256CryptOfTwentyByteSaltsEqualsASecondImplementation)
{
    /* The oracle's own check: the published test vector of SHA-256-crypt. */
    std::vector<CryptCase> cases = {{"Hello world!", "saltstring", 5000}};
    const std::string salts[] = {"A\x01z/;\x7f$-0123456789ab", std::string("\xff\x80\x00q", 4) +
                                                                  "0123456789abcdef"};
    for (unsigned long rounds : {1000ul, 5000ul})
        for (const std::string &salt : salts)
            for (size_t length : {0, 1, 31, 32, 33, 70})
                cases.push_back({std::string(length, 'p') + "#", salt, rounds});
    const std::vector<std::string> oracle = sha256_crypt_oracle(cases);
    EXPECT_EQ("5B8vYYiY.CVt1RlTTf8KbXBH3hsxY/GNooZaBBGWEc5", oracle[0]);
    for (size_t i = 0; i < cases.size(); i++)
        EXPECT_EQ(oracle[i], tool_digest(cases[i]))
            << cases[i].rounds << " " << cases[i].password.size() << " " << hex_of(cases[i].salt);
}

TEST(Credentials, NativeHashOfAPublishedPassword)
{
    char out[QV_CREDENTIAL_HASH_SIZE];
    ASSERT_EQ(0u, qv_credential_native_hash("password", out, sizeof out));
    EXPECT_STREQ("*2470C0C06DEE42FD1618BB99005ADCA2EC9D1E19", out);
    ASSERT_EQ(0u, qv_credential_native_hash("", out, sizeof out));
    EXPECT_STREQ("", out);
}

TEST(Credentials, VerdictForEachMethodAndLayout)
{
    const std::string pw = "m4hqzwtyop71v652kdnx;r-ploiuwbe3";
    char native[QV_CREDENTIAL_HASH_SIZE], ed[QV_CREDENTIAL_HASH_SIZE];
    ASSERT_EQ(0u, qv_credential_native_hash(pw.c_str(), native, sizeof native));
    ASSERT_EQ(0u, qv_credential_ed25519_hash(pw.c_str(), ed, sizeof ed));
    const std::string salt20 = "A\x01z/;\x7f$-0123456789ab"; /* MySQL's salts: any byte but NUL */
    const std::vector<std::string> digests =
        sha256_crypt_oracle({{pw, salt20, 5000}, {"other", salt20, 10000}});
    const std::string sha2 = "$A$005$" + salt20 + digests[0];
    const std::string sha2_other = "$A$00A$" + salt20 + digests[1];
    const std::string five = "$5$" + salt20 + "$" + digests[0];
    std::string lower_native = native;
    for (char &c : lower_native)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const struct {
        const char *plugin;
        std::string stored, password_column;
        int verdict;
        const char *reason;
    } cases[] = {
        {"mysql_native_password", native, "", QV_CREDENTIAL_MATCHES, ""},
        {"mysql_native_password", lower_native, "", QV_CREDENTIAL_MATCHES, ""},
        {"mysql_native_password", "*2470C0C06DEE42FD1618BB99005ADCA2EC9D1E19", "",
         QV_CREDENTIAL_DIFFERS, "another password"},
        {"mysql_native_password", "invalid", "", QV_CREDENTIAL_DIFFERS, "another password"},
        /* old servers: no method named, the hash in the Password column */
        {"", "", native, QV_CREDENTIAL_MATCHES, ""},
        {nullptr, "", "*2470C0C06DEE42FD1618BB99005ADCA2EC9D1E19", QV_CREDENTIAL_DIFFERS,
         "another password"},
        {"", "", "", QV_CREDENTIAL_DIFFERS, "no password is set"},
        {"", "", "6f8c114b58f2ce9e", QV_CREDENTIAL_UNKNOWN, "a pre-4.1 hash (mysql_old_password)"},
        {"caching_sha2_password", sha2, "", QV_CREDENTIAL_MATCHES, ""},
        {"caching_sha2_password", sha2_other, "", QV_CREDENTIAL_DIFFERS, "another password"},
        {"caching_sha2_password", "", "", QV_CREDENTIAL_DIFFERS, "no password is set"},
        {"caching_sha2_password", "$A$000$" + sha2.substr(7), "", QV_CREDENTIAL_UNKNOWN,
         "a stored layout this tool does not read"},
        {"caching_sha2_password", sha2.substr(1), "", QV_CREDENTIAL_UNKNOWN,
         "a stored layout this tool does not read"},
        {"sha256_password", five, "", QV_CREDENTIAL_MATCHES, ""},
        {"sha256_password", "$5$rounds=4095001$" + five.substr(3), "", QV_CREDENTIAL_UNKNOWN,
         "a stored layout this tool does not read"},
        {"sha256_password", sha2, "", QV_CREDENTIAL_MATCHES, ""},
        {"ed25519", ed, "", QV_CREDENTIAL_MATCHES, ""},
        {"ed25519", std::string(ed).substr(1) + "A", "", QV_CREDENTIAL_DIFFERS, "another password"},
        {"unix_socket", "", "", QV_CREDENTIAL_DIFFERS, "takes no password"},
        {"gssapi", "HTTP/x@REALM", "", QV_CREDENTIAL_DIFFERS, "takes no password"},
        {"parsec", "P0:x", "", QV_CREDENTIAL_UNKNOWN, "cannot be verified by this tool"},
    };
    for (const auto &c : cases) {
        char reason[128] = "x";
        EXPECT_EQ(c.verdict,
                  qv_credential_verify(c.plugin, c.stored.c_str(), c.password_column.c_str(),
                                       pw.c_str(), reason, sizeof reason))
            << (c.plugin ? c.plugin : "(null)") << " " << c.stored;
        EXPECT_STREQ(c.reason, reason) << c.stored;
    }
    StderrCapture quiet;
    EXPECT_EQ(QV_CREDENTIAL_UNKNOWN, qv_credential_verify("", native, "", nullptr, nullptr, 0));
}

} // namespace
