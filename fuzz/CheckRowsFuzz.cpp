/*
 * Fuzzing harness: the check's reading of the rows a server answers (the forms' rows,
 * their privileges, the server's privileges), its verdicts, and its two reports.
 *
 * Input: lines, one row each. The first byte chooses the statement whose row it is ('f'
 * the forms', 'p' the privileges', anything else the server's privileges); the rest is
 * tab-separated pairs of column name and value, a value "\N" standing for SQL NULL;
 * in a value, "\n" and "\t" stand for a line feed and a tab.
 * Inputs that name more than 16000 rounds of SHA-256-crypt are skipped: their time is
 * bounded by the credential module (4 s at most per form) and is not a finding.
 *
 * Properties: the JSON report parses, and its summary counts what its forms say; the
 * text report has the header, one row per form, the summary with the same counts and
 * one hint per statement that mends; both give the same exit status, 0 exactly when
 * every form is as it should be; a form as it should be is present, neither locked nor
 * expired, with its privileges ok and a password that does not differ; no built-in
 * password shows in either report unless the input held it; logged lines are whole.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "WinGUI/AccountCheck.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/LogCapture.h"

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
    else
        qv_check_read_server_privilege_row(check, count, names.data(), values.data());
}

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
    QV_FUZZ_CHECK(!document.is_discarded());
    const nlohmann::json &summary = document["summary"];
    int good = 0, missing = 0, locked = 0, expired = 0;
    for (const nlohmann::json &form : document["forms"]) {
        bool ok = form["as_it_should_be"];
        good += ok;
        missing += !form["present"].get<bool>();
        locked += form["locked"].get<bool>();
        expired += form["password_expired"].get<bool>();
        QV_FUZZ_CHECK(!ok ||
                      (form["present"] && !form["locked"] && !form["password_expired"] &&
                       form["privileges"]["ok"] && form["password"]["verdict"] != "differs"));
    }
    QV_FUZZ_CHECK(document["forms"].size() == 6 && summary["forms"] == 6);
    QV_FUZZ_CHECK(summary["as_they_should_be"] == good && summary["missing"] == missing &&
                  summary["locked"] == locked && summary["password_expired"] == expired);
    QV_FUZZ_CHECK(document["exit_status"] == code && code == (good == 6 ? 0 : 1));
    return document;
}

/* The properties of the text report against the JSON document. */
static void check_text(const std::string &text, int code, const nlohmann::json &document)
{
    std::vector<std::string> lines = split_at(text, '\n');
    size_t mends = 0;
    for (const nlohmann::json &form : document["forms"])
        mends += form["mend"].size();
    QV_FUZZ_CHECK(lines.size() == 1 + 6 + 1 + mends + 1 && lines.back().empty());
    QV_FUZZ_CHECK(lines[0].compare(0, 7, "ACCOUNT") == 0);
    const nlohmann::json &s = document["summary"];
    char expected[512];
    snprintf(expected, sizeof expected,
             "%d of 6 account forms as they should be; %d missing, %d with other privileges, %d "
             "with another password, %d locked, %d with the password expired; %d password%s "
             "unknown",
             s["as_they_should_be"].get<int>(), s["missing"].get<int>(),
             s["with_other_privileges"].get<int>(), s["with_another_password"].get<int>(),
             s["locked"].get<int>(), s["password_expired"].get<int>(),
             s["passwords_unknown"].get<int>(), s["passwords_unknown"] == 1 ? "" : "s");
    QV_FUZZ_CHECK(lines[7] == expected);
    QV_FUZZ_CHECK(code == document["exit_status"]);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);
    if (names_many_rounds(input))
        return 0;
    QVAccountCheck check;
    qv_check_init(&check);
    for (const std::string &line : split_at(input, '\n'))
        read_line(&check, line);
    qv_check_conclude(&check);

    int json_code = -1, text_code = -1;
    std::string json = report(&check, true, &json_code);
    std::string text = report(&check, false, &text_code);
    check_text(text, text_code, check_json(json, json_code));
    for (const ServiceAccount *a = g_service_accounts; a->name != nullptr; a++)
        if (input.find(a->password) == std::string::npos)
            QV_FUZZ_CHECK(json.find(a->password) == std::string::npos &&
                          text.find(a->password) == std::string::npos);
    QV_FUZZ_CHECK(qv_fuzz_lines_are_whole(qv_fuzz_take_lines()));
    return 0;
}
