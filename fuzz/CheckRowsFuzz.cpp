/*
 * Fuzzing harness: the check's reading of the rows a server answers (the forms' rows,
 * their privileges, the server's privileges, PUBLIC's grants), its verdicts, and its two
 * reports.
 *
 * Input: rows, one a line. The first byte chooses the statement ('f' the forms', 'p' the
 * privileges', 'g' SHOW GRANTS FOR PUBLIC, else SHOW PRIVILEGES); the rest is
 * tab-separated pairs of column name and value ("\N" SQL NULL; "\n", "\t" a line feed
 * and a tab). A first line "v<text>" gives the server's version text. Or a model, first
 * byte 'M': six bytes of what was changed by hand on each form a run left (bit 0
 * missing, 1 a privilege taken, 2 one added, 3 the grant option turned, 4 a grant on the
 * mysql schema, 5 locked, 6 another password, 7 a role) and one that picks the privilege
 * taken; the harness writes the rows for that state from its own lists of what each
 * level leaves. Inputs naming more than 16000 SHA-256-crypt rounds are skipped (bounded,
 * no finding).
 *
 * Properties: the model's verdicts, a form as it should be exactly when nothing changed;
 * the JSON report parses and its summary counts what its forms say; the text report has
 * the header, a row per form, the same summary and one hint per distinct remedy; both
 * give the same exit status, 0 exactly when every form is as it should be; every form
 * that is not has a remedy; no built-in password shows unless the input held it; logged
 * lines are whole.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "WinGUI/CheckReport.h"
#include "WinGUI/VADedeVeZovidApp.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/LogCapture.h"

/* ---- the model ---------------------------------------------------------------------- */

/* The model's server privileges; what each level leaves: QuorvaneInternal all of them
 * with the grant option, the two others the ten below. The built-in passwords' hashes,
 * as MariaDB stored them (PASSWORD()). */
static const char *const g_server[] = {"SELECT", "INSERT", "UPDATE",  "DELETE",     "CREATE",
                                       "DROP",   "RELOAD", "SHUTDOWN", "PROCESS",   "FILE",
                                       "INDEX",  "ALTER",  "SUPER",    "REFERENCES"};
static const std::set<std::string> g_data_reload = {"SELECT", "INSERT", "UPDATE", "DELETE",
                                                    "CREATE", "DROP",   "RELOAD", "REFERENCES",
                                                    "INDEX",  "ALTER"};
static const char *const g_hashes[] = {"*C16AC8545D13FA0E398247F21582B8B19B0EE7A4",
                                       "*EBCBA44619D242D9D3FAD0511DD096E5F96CC53B",
                                       "*1EC5CD3C1DE668FEC334FE4AC3A8FB61ED117867"};
enum { MISSING = 1, TAKEN = 2, ADDED = 4, GRANT_OPTION = 8, SCHEMA = 16, LOCKED = 32,
       PASSWORD = 64, ROLE = 128 };

/* The input lines (in read_line's format) a MariaDB server answers for the model. */
static std::vector<std::string> model_lines(const uint8_t changes[6], uint8_t pick)
{
    std::vector<std::string> lines = {"sPrivilege\tGrant option"};
    for (const char *privilege : g_server)
        lines.push_back(std::string("sPrivilege\t") + privilege);
    for (int f = 0; f < 6; f++) {
        const uint8_t c = changes[f];
        const std::string user = g_service_accounts[f / 2].name, host = f % 2 ? "localhost" : "%";
        if (c & MISSING)
            continue;
        lines.push_back("fUser\t" + user + "\tHost\t" + host + "\tqv_roles\t" +
                        (c & ROLE ? "qv_role" : "") +
                        "\tPriv\t{\"plugin\":\"mysql_native_password\",\"authentication_string\":\"" +
                        (c & PASSWORD ? "*0" : g_hashes[f / 2]) +
                        "\",\"account_locked\":" + (c & LOCKED ? "true}" : "false}"));
        std::set<std::string> held(std::begin(g_server), std::end(g_server));
        if (f >= 2)
            held = g_data_reload;
        if (c & TAKEN)
            held.erase(std::next(held.begin(), pick % held.size()));
        if ((c & ADDED) && f >= 2)
            held.insert("SUPER");
        if ((c & SCHEMA) || ((c & ADDED) && f < 2))
            held.insert("SELECT\tOBJECT\tmysql.*");
        const bool grant_option = (f < 2) != ((c & GRANT_OPTION) != 0);
        held.insert("USAGE");
        for (const std::string &p : held)
            lines.push_back("pGRANTEE\t'" + user + "'@'" + host + "'\tPRIVILEGE_TYPE\t" + p +
                            "\tIS_GRANTABLE\t" + (grant_option ? "YES" : "NO"));
    }
    return lines;
}

/* The model's verdicts against the JSON document's forms. */
static void check_model(const uint8_t changes[6], const nlohmann::json &document)
{
    for (int f = 0; f < 6; f++) {
        const uint8_t c = changes[f];
        const nlohmann::json &form = document["forms"][f];
        QV_FUZZ_CHECK(form["present"] == !(c & MISSING) && form["as_it_should_be"] == (c == 0));
        if (c & MISSING)
            continue;
        QV_FUZZ_CHECK(form["locked"] == ((c & LOCKED) != 0));
        QV_FUZZ_CHECK(form["privileges"]["ok"] ==
                      ((c & (TAKEN | ADDED | GRANT_OPTION | SCHEMA | ROLE)) == 0));
        QV_FUZZ_CHECK(form["password"]["verdict"] == (c & PASSWORD ? "differs" : "ok"));
    }
}

/* ---- rows from the input ------------------------------------------------------------ */

/* Whether text names more than 16000 rounds, in either layout of SHA-256-crypt. */
static bool names_many_rounds(const std::string &text)
{
    for (size_t at = text.find("$A$"); at != std::string::npos; at = text.find("$A$", at + 1))
        if (strtoul(text.substr(at + 3, 3).c_str(), nullptr, 16) > 16)
            return true;
    for (size_t at = text.find("rounds="); at != std::string::npos;
         at = text.find("rounds=", at + 1))
        if (strtoul(text.substr(at + 7, 12).c_str(), nullptr, 10) > 16000)
            return true;
    return false;
}

/* Replaces "\n" and "\t" in *value by a line feed and a tab; returns its text. */
static const char *unescape(std::string *value)
{
    for (size_t at = value->find('\\'); at != std::string::npos && at + 1 < value->size();
         at = value->find('\\', at + 1))
        if ((*value)[at + 1] == 'n' || (*value)[at + 1] == 't')
            value->replace(at, 2, (*value)[at + 1] == 'n' ? "\n" : "\t");
    return value->c_str();
}

/* Hands one input line to the reader of its statement. */
static void read_line(QVAccountCheck *check, const std::string &line)
{
    if (line.empty())
        return;
    std::vector<std::string> fields = split_at(line.substr(1), '\t');
    std::vector<const char *> names, values;
    for (size_t i = 0; i + 1 < fields.size(); i += 2) {
        names.push_back(fields[i].c_str());
        values.push_back(fields[i + 1] == "\\N" ? nullptr : unescape(&fields[i + 1]));
    }
    unsigned count = static_cast<unsigned>(names.size());
    if (line[0] == 'f')
        qv_check_read_form_row(check, count, names.data(), values.data());
    else if (line[0] == 'p')
        qv_check_read_privilege_row(check, count, names.data(), values.data());
    else if (line[0] == 'g')
        qv_check_read_public_row(check, count, names.data(), values.data());
    else
        qv_check_read_server_privilege_row(check, count, names.data(), values.data());
}

/* ---- the reports -------------------------------------------------------------------- */

/* The report of check, and its exit status. */
static std::string report(const QVAccountCheck *check, bool json, int *code)
{
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    QV_FUZZ_CHECK(out != nullptr);
    *code = qv_check_report(check, out, json);
    fclose(out);
    std::string result(text, size);
    free(text);
    return result;
}

/* The properties of the JSON report; returns its document. */
static nlohmann::json check_json(const std::string &text, int code)
{
    nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    QV_FUZZ_CHECK(!document.is_discarded() && document["format"] == 1);
    const nlohmann::json &summary = document["summary"];
    int good = 0, missing = 0, locked = 0, expired = 0, tls = 0;
    for (const nlohmann::json &form : document["forms"]) {
        bool ok = form["as_it_should_be"];
        good += ok;
        missing += !form["present"].get<bool>();
        locked += form["locked"].get<bool>();
        expired += form["password_expired"].get<bool>();
        tls += form["requires_tls_the_server_lacks"].get<bool>();
        QV_FUZZ_CHECK(!ok || (form["present"] && !form["locked"] && !form["password_expired"] &&
                              !form["requires_tls_the_server_lacks"] && form["privileges"]["ok"] &&
                              form["password"]["verdict"] != "differs"));
        QV_FUZZ_CHECK(ok || !form["mend"].empty());
    }
    QV_FUZZ_CHECK(document["forms"].size() == 6 && summary["forms"] == 6);
    QV_FUZZ_CHECK(summary["as_they_should_be"] == good && summary["missing"] == missing &&
                  summary["locked"] == locked && summary["password_expired"] == expired &&
                  summary["requiring_tls_the_server_lacks"] == tls);
    QV_FUZZ_CHECK(document["exit_status"] == code && code == (good == 6 ? 0 : 1));
    return document;
}

/* The properties of the text report against the JSON document. */
static void check_text(const std::string &text, int code, const nlohmann::json &document)
{
    std::vector<std::string> lines = split_at(text, '\n');
    std::set<std::string> remedies;
    for (const nlohmann::json &form : document["forms"])
        for (const nlohmann::json &mend : form["mend"])
            remedies.insert(mend["remedy"].get<std::string>() + " (" +
                            mend["note"].get<std::string>() + ")");
    QV_FUZZ_CHECK(lines.size() == 1 + 6 + 1 + remedies.size() + 1 && lines.back().empty());
    QV_FUZZ_CHECK(lines[0].compare(0, 7, "ACCOUNT") == 0);
    const nlohmann::json &s = document["summary"];
    char expected[512];
    snprintf(expected, sizeof expected,
             "%d of 6 account forms as they should be; %d missing, %d with other privileges, %d "
             "with another password, %d locked, %d with the password expired, %d requiring TLS "
             "the server lacks; %d password%s unknown",
             s["as_they_should_be"].get<int>(), s["missing"].get<int>(),
             s["with_other_privileges"].get<int>(), s["with_another_password"].get<int>(),
             s["locked"].get<int>(), s["password_expired"].get<int>(),
             s["requiring_tls_the_server_lacks"].get<int>(), s["passwords_unknown"].get<int>(),
             s["passwords_unknown"] == 1 ? "" : "s");
    QV_FUZZ_CHECK(lines[7] == expected);
    QV_FUZZ_CHECK(code == document["exit_status"]);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);
    if (names_many_rounds(input))
        return 0;
    const bool model = size >= 8 && data[0] == 'M';
    std::vector<std::string> lines = split_at(input, '\n');
    std::string server = "10.11.6-MariaDB-0+deb12u1";
    if (!model && !lines.empty() && !lines[0].empty() && lines[0][0] == 'v')
        server = lines[0].substr(1);
    QVAccountCheck check{};
    qv_check_init(&check, g_service_accounts, server.c_str());
    for (const std::string &line : model ? model_lines(data + 1, data[7]) : lines)
        read_line(&check, line);
    qv_check_conclude(&check);

    int json_code = -1, text_code = -1;
    std::string json = report(&check, true, &json_code);
    std::string text = report(&check, false, &text_code);
    nlohmann::json document = check_json(json, json_code);
    check_text(text, text_code, document);
    if (model)
        check_model(data + 1, document);
    for (const ServiceAccount *a = g_service_accounts; a->name != nullptr; a++)
        if (input.find(a->password) == std::string::npos)
            QV_FUZZ_CHECK(json.find(a->password) == std::string::npos &&
                          text.find(a->password) == std::string::npos);
    QV_FUZZ_CHECK(qv_fuzz_lines_are_whole(qv_fuzz_take_lines()));
    return 0;
}
