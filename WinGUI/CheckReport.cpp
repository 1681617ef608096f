/*
 * CheckReport: the check's two reports, the table and the JSON document, and the check
 * as the application runs it.
 *
 * Invariants: both reports say the same findings and give the same exit status; texts
 * from the server are shown, never obeyed: each control character becomes "?" in the
 * table, and what is not UTF-8 is replaced in the JSON document.
 */
#include "WinGUI/CheckReport.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/ErrorLogger/ReportLines.h"
#include "QVLib/QVtime.h"
#include "WinGUI/VADedeVeZovidApp.h"

/* ---- the findings, counted ---------------------------------------------------------- */

struct Counts {
    int good, missing, other_privileges, other_password, locked, expired, tls, unknown;
};

static Counts count_forms(const QVAccountCheck *check)
{
    Counts c{};
    for (const QVFormCheck &f : check->forms) {
        c.good += qv_check_form_ok(&f);
        c.missing += !f.stored.exists;
        if (!f.stored.exists)
            continue;
        c.other_privileges += !f.missing.empty() || !f.extra.empty();
        c.other_password += f.password == QV_CREDENTIAL_DIFFERS;
        c.unknown += f.password == QV_CREDENTIAL_UNKNOWN;
        c.locked += f.stored.locked;
        c.expired += f.expired;
        c.tls += f.tls_unavailable;
    }
    return c;
}

static const char *password_word(int password)
{
    return password == QV_CREDENTIAL_MATCHES   ? "ok"
           : password == QV_CREDENTIAL_DIFFERS ? "differs"
                                               : "unknown";
}

/* ---- the table ---------------------------------------------------------------------- */

/* Items joined with ", ", those on one object ("SELECT ON mysql.*", "INSERT ON
 * mysql.*") written once: "SELECT, INSERT ON mysql.*". */
static std::string join_grouped(const std::vector<std::string> &items)
{
    std::string out, object; /* object: " ON ..." of the group being written */
    for (const std::string &item : items) {
        size_t on = item.find(" ON ");
        std::string item_object = on == std::string::npos ? "" : item.substr(on);
        if (!out.empty())
            out += (item_object.empty() || item_object != object ? object : "") + ", ";
        out += item.substr(0, on);
        object = item_object;
    }
    return out + object;
}

static std::string privileges_cell(const QVFormCheck &f)
{
    if (!f.stored.exists)
        return "-";
    std::string cell;
    if (!f.missing.empty())
        cell = "missing " + join_grouped(f.missing);
    if (!f.extra.empty())
        cell += (cell.empty() ? "extra " : "; extra ") + join_grouped(f.extra);
    return cell.empty() ? "ok" : cell;
}

static std::string form_cell(const QVFormCheck &f)
{
    if (!f.stored.exists)
        return "missing";
    std::string cell;
    for (auto [on, word] : {std::pair<bool, const char *>{f.stored.locked, "locked"},
                            {f.expired, "password expired"},
                            {f.tls_unavailable, "requires TLS; the server has none"}})
        if (on)
            cell += (cell.empty() ? "" : ", ") + std::string(word);
    return cell.empty() ? "present" : cell;
}

static std::string password_cell(const QVFormCheck &f)
{
    if (!f.stored.exists)
        return "-";
    std::string cell = password_word(f.password);
    return f.reason.empty() || f.password == QV_CREDENTIAL_MATCHES ? cell
                                                                   : cell + " (" + f.reason + ")";
}

/* text with each control character (a server's name may hold a line feed) shown as "?",
 * so that every form stays on one line of the table. */
static std::string printable(std::string text)
{
    qv_report_printable(&text[0]);
    return text;
}

static void print_text(const QVAccountCheck *check, const Counts &c, FILE *out)
{
    std::vector<std::vector<std::string>> rows = {
        {"ACCOUNT", "HOST", "FORM", "PRIVILEGES", "PASSWORD"}};
    for (const QVFormCheck &f : check->forms)
        rows.push_back({f.account->name, f.host, form_cell(f), printable(privileges_cell(f)),
                        printable(password_cell(f))});
    size_t width[5] = {0, 0, 0, 0, 0};
    for (const auto &row : rows)
        for (size_t i = 0; i < 5; i++)
            width[i] = std::max(width[i], row[i].size());
    for (const auto &row : rows) {
        std::string line;
        for (size_t i = 0; i < 4; i++)
            line += row[i] + std::string(width[i] - row[i].size() + 2, ' ');
        fprintf(out, "%s%s\n", line.c_str(), row[4].c_str());
    }
    fprintf(out,
            "%d of %zu account forms as they should be; %d missing, %d with other privileges, "
            "%d with another password, %d locked, %d with the password expired, %d requiring "
            "TLS the server lacks; %d password%s unknown\n",
            c.good, check->forms.size(), c.missing, c.other_privileges, c.other_password, c.locked,
            c.expired, c.tls, c.unknown, c.unknown == 1 ? "" : "s");
    char node[QV_NODE_SIZE];
    qv_server_facts_node(&check->facts, node, sizeof node);
    if (node[0] != '\0')
        fprintf(out, "read on %s%s\n", node,
                check->synced ? ", after it had applied all that the cluster had committed" : "");
    /* Each remedy once, however many forms it mends. */
    std::vector<std::string> said;
    for (const QVFormCheck &f : check->forms)
        for (const QVRemedy &r : f.remedies) {
            std::string line = "hint: " + printable(r.remedy) + " (" + r.note + ")";
            if (std::find(said.begin(), said.end(), line) == said.end()) {
                said.push_back(line);
                fprintf(out, "%s\n", line.c_str());
            }
        }
}

/* ---- the JSON document -------------------------------------------------------------- */

static nlohmann::ordered_json form_json(const QVFormCheck &f)
{
    const bool present = f.stored.exists;
    nlohmann::ordered_json form = {{"account", f.account->name},
                                   {"host", f.host},
                                   {"present", present},
                                   {"locked", present && f.stored.locked},
                                   {"password_expired", present && f.expired},
                                   {"requires_tls_the_server_lacks", present && f.tls_unavailable},
                                   {"privileges", nullptr},
                                   {"password", nullptr}};
    if (present) {
        form["privileges"] = {{"ok", f.missing.empty() && f.extra.empty()},
                              {"missing", f.missing},
                              {"extra", f.extra}};
        form["password"] = {{"verdict", password_word(f.password)}, {"reason", f.reason}};
    }
    form["as_it_should_be"] = qv_check_form_ok(&f);
    form["mend"] = nlohmann::ordered_json::array();
    for (const QVRemedy &r : f.remedies)
        form["mend"].push_back({{"remedy", r.remedy}, {"note", r.note}});
    return form;
}

/* The server's time as ISO 8601 in UTC, or null when it did not say. */
static nlohmann::ordered_json server_time(const QVAccountCheck *check)
{
    QVtime t{};
    if (!check->now || qv_time_from_secs(&t, *check->now) != 0)
        return nullptr;
    char text[32];
    qv_snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", unsigned(t.year),
                unsigned(t.month), unsigned(t.day), unsigned(t.hour), unsigned(t.minute),
                unsigned(t.second));
    return text;
}

/* Prints document to out, indented; texts from the server are not trusted to be UTF-8:
 * what is not is replaced. */
static void print_document(const nlohmann::ordered_json &document, FILE *out)
{
    std::string text = document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    fprintf(out, "%s\n", text.c_str());
}

/* The Galera node that was read, or null on a server that is none. */
static nlohmann::ordered_json cluster_json(const QVAccountCheck *check)
{
    const QVDBServerFacts &f = check->facts;
    if (!f.galera)
        return nullptr;
    auto known = [](unsigned long n) { return n ? nlohmann::ordered_json(n) : nullptr; };
    return {{"node", known(f.node_number)},
            {"size", known(f.cluster_size)},
            {"state", f.node_state},
            {"reads_synced", check->synced}};
}

static void print_json(const QVAccountCheck *check, const Counts &c, int code, FILE *out)
{
    nlohmann::ordered_json document;
    document["format"] = QV_CHECK_JSON_FORMAT;
    document["server"] = check->server;
    document["time"] = server_time(check);
    document["cluster"] = cluster_json(check);
    document["forms"] = nlohmann::ordered_json::array();
    for (const QVFormCheck &f : check->forms)
        document["forms"].push_back(form_json(f));
    document["summary"] = {{"forms", check->forms.size()},
                           {"as_they_should_be", c.good},
                           {"missing", c.missing},
                           {"with_other_privileges", c.other_privileges},
                           {"with_another_password", c.other_password},
                           {"locked", c.locked},
                           {"password_expired", c.expired},
                           {"requiring_tls_the_server_lacks", c.tls},
                           {"passwords_unknown", c.unknown}};
    document["exit_status"] = code;
    print_document(document, out);
}

int qv_check_report(const QVAccountCheck *check, FILE *out, bool json)
{
    Counts c = count_forms(check);
    int code = static_cast<size_t>(c.good) == check->forms.size() ? QV_CHECK_OK : QV_CHECK_DIFFERS;
    if (json)
        print_json(check, c, code, out);
    else
        print_text(check, c, out);
    fflush(out);
    return code;
}

int qv_check_report_unknown(const char *error, FILE *out, bool json)
{
    const char *hint = qv_DBEngine_last_hint();
    if (!json) {
        /* A monitoring system shows what the check printed: say why there is no verdict. */
        fprintf(out, "status unknown: %s\n", error);
        if (hint[0] != '\0')
            fprintf(out, "hint: %s\n", hint);
        fflush(out);
    } else {
        nlohmann::ordered_json document = {
            {"format", QV_CHECK_JSON_FORMAT},
            {"error", error},
            {"hint", hint[0] != '\0' ? nlohmann::ordered_json(hint) : nlohmann::ordered_json()},
            {"exit_status", QV_CHECK_UNKNOWN}};
        print_document(document, out);
        fflush(out);
    }
    return QV_CHECK_UNKNOWN;
}

/* ---- the check ---------------------------------------------------------------------- */

int CheckServiceAccounts(QVDBSettings *settings, FILE *out, bool json)
{
    qv_DBEngine_clear_failure();
    qv_DBEngine_report_option_file();
    unsigned status = 0;
    try {
        QVAccountCheck check{};
        status = qv_check_read(settings, g_service_accounts, &check);
        if (status == 0) {
            qv_check_conclude(&check);
            return qv_check_report(&check, out, json);
        }
    } catch (const std::exception &e) {
        qv_log(QV_LOG_ERROR, "CheckServiceAccounts: %s", e.what());
    }
    qv_DBEngine_log_hint(nullptr);
    return qv_check_report_unknown(status == QV_DB_CLUSTER_NODE
                                       ? "the server is a Galera node that is not synced in the "
                                         "primary component"
                                       : "the server could not be asked",
                                   out, json);
}
