/*
 * Fuzzing harness: what the engine reads of the server before it writes: the version
 * text the server sends at login (qv_server_facts_from_info), the detection statement
 * formed for it, and the row that answers it (qv_server_facts_read_row).
 *
 * Input: three version numbers (two bytes for the major, one each for the minor and the
 * patch), a byte of flags, then texts cut at zero bytes: a suffix for the version text,
 * a whole version text as the server might send anything, and up to four column names
 * and values of an answer.
 *
 * Properties: any text parses within its bounds, to a version of at most 9999.99.99 and
 * MariaDB exactly when it names MariaDB; "M.m.p" followed by anything but a digit reads
 * as M.m.p, also after MariaDB's replication prefix "5.5.5-"; the detection statement
 * fits its buffer and asks every server once whether its replication runs, and the
 * answer that gives each of its columns the flags' value is read back as those flags
 * (read-only when either read-only flag is on), while an answer
 * that misses a column or holds no number is refused and leaves the facts undetected;
 * the set-once form is chosen exactly for MySQL 8.0 and later and for a reuse policy;
 * MariaDB alone is asked whether it is a Galera node, and a node's number, size and
 * state are read from any text within their bounds, never refusing the answer.
 */
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Interfaces/dbengine/MySQL/ServerFacts.h"
#include "fuzz/FuzzSupport.h"

/* The columns a detection statement names ("... AS name"), in order. */
static std::vector<std::string> named_columns(const char *statement)
{
    std::vector<std::string> names;
    for (const char *at = strstr(statement, " AS "); at != nullptr; at = strstr(at + 4, " AS ")) {
        size_t length = strcspn(at + 4, ", ");
        names.emplace_back(at + 4, length);
    }
    return names;
}

/* A version text made of the input's numbers, and the facts read from it. */
static void check_made_version(const uint8_t *data, const std::string &suffix, bool prefixed)
{
    unsigned major = (data[0] | data[1] << 8) % 10000, minor = data[2] % 100, patch = data[3] % 100;
    char info[512];
    snprintf(info, sizeof info, "%s%u.%u.%u%s", prefixed ? "5.5.5-" : "", major, minor, patch,
             suffix.c_str());
    QVDBServerFacts facts{};
    qv_server_facts_from_info(info, &facts);
    bool mariadb = strstr(info, "MariaDB") != nullptr;
    QV_FUZZ_CHECK(facts.mariadb == mariadb);
    if (!prefixed || mariadb)
        QV_FUZZ_CHECK(facts.version == major * 10000ul + minor * 100 + patch);

    /* The detection for this server, and an answer that gives each column a flag. */
    char statement[QV_DETECTION_SIZE];
    QV_FUZZ_CHECK(qv_server_facts_statement(&facts, statement, sizeof statement));
    std::vector<std::string> names = named_columns(statement);
    unsigned flags = data[4];
    std::vector<std::string> values;
    bool read_only = false, reuse = false, native = true, replica = false, galera = false;
    for (size_t i = 0; i < names.size(); i++) {
        bool on = (flags >> i & 1) != 0;
        bool text = names[i] == "node_state" || names[i] == "node_index" || /* any text */
                    names[i] == "cluster_size";
        values.push_back(text ? suffix : on ? "1" : "0");
        read_only |= on && (names[i] == "read_only" || names[i] == "super_read_only");
        reuse |= on && names[i] == "reuse_check";
        replica |= on && names[i] == "replica";
        galera |= on && names[i] == "galera";
        native = names[i] == "native_password" ? on : native;
    }
    QV_FUZZ_CHECK(!names.empty() && names[0] == "read_only");
    QV_FUZZ_CHECK(std::count(names.begin(), names.end(), "replica") == 1);
    QV_FUZZ_CHECK(mariadb == (std::find(names.begin(), names.end(), "reuse_check") != names.end()));
    std::vector<const char *> n, v;
    for (size_t i = 0; i < names.size(); i++) {
        n.push_back(names[i].c_str());
        v.push_back(values[i].c_str());
    }
    QVDBServerFacts read = facts;
    QV_FUZZ_CHECK(
        qv_server_facts_read_row(&read, static_cast<unsigned>(n.size()), n.data(), v.data()));
    QV_FUZZ_CHECK(read.detected && read.read_only == read_only && read.reuse_check == reuse &&
                  read.native_password == native && read.replica == replica &&
                  read.galera == galera);
    char node[QV_NODE_SIZE]; /* the node named within bounds, its state printable */
    qv_server_facts_node(&read, node, sizeof node);
    QV_FUZZ_CHECK(strlen(node) < sizeof node && galera == (node[0] != '\0') &&
                  std::none_of(node, node + strlen(node), [](char c) { return c > 0 && c < 32; }));
    QV_FUZZ_CHECK(qv_server_facts_set_once(&read) ==
                  ((!mariadb && read.version >= 80000) || reuse));

    /* Without its last column, or with text for a number, the answer is refused. */
    QVDBServerFacts cut = facts;
    QV_FUZZ_CHECK(
        !qv_server_facts_read_row(&cut, static_cast<unsigned>(n.size() - 1), n.data(), v.data()) &&
        !cut.detected);
    v[0] = "ON";
    QV_FUZZ_CHECK(
        !qv_server_facts_read_row(&cut, static_cast<unsigned>(n.size()), n.data(), v.data()) &&
        !cut.detected);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5)
        return 0;
    std::vector<std::string> texts = qv_fuzz_split(data + 5, size - 5, 1 + 1 + 8);
    std::string suffix = texts[0];
    /* The numbers end where a character that is no digit follows. */
    if (!suffix.empty() && (isdigit(static_cast<unsigned char>(suffix[0])) || suffix[0] == '.'))
        suffix[0] = '-';
    check_made_version(data, suffix, false);
    check_made_version(data, suffix, true);

    /* Any text as a version, and any answer. */
    QVDBServerFacts facts{};
    qv_server_facts_from_info(texts[1].c_str(), &facts);
    QV_FUZZ_CHECK(facts.version <= 99999999ul);
    QV_FUZZ_CHECK(facts.mariadb == (strstr(texts[1].c_str(), "MariaDB") != nullptr));
    const char *names[4], *values[4];
    for (size_t i = 0; i < 4; i++) {
        names[i] = texts[2 + 2 * i].c_str();
        values[i] = (data[4] >> (4 + i) & 1) != 0 ? nullptr : texts[3 + 2 * i].c_str();
    }
    bool readable = qv_server_facts_read_row(&facts, 4, names, values);
    QV_FUZZ_CHECK(readable == facts.detected);
    QV_FUZZ_CHECK(qv_fuzz_take_lines().empty());
    return 0;
}
