/*
 * CheckVerdicts: the check's conclusions on what it read: each form's expiry, whether it
 * requires TLS of a server that has none, its missing and extra privileges against what
 * its level leaves (AccountRules), its password's verdict (StoredForms), and the remedy
 * of each difference.
 *
 * Invariants: a form is "as it should be" only when it exists, is neither locked nor
 * expired, requires no TLS the server lacks, holds exactly what its level leaves (no
 * grant on the mysql schema, no role, no proxy grant, nothing more through PUBLIC) and
 * its password does not differ; every difference has a remedy; a remedy is text for the
 * user, never sent.
 */
#include "Interfaces/dbengine/MySQL/AccountCheck.h"

#include <algorithm>
#include <iterator>

/* What a run does, as one remedy. */
static const char g_run_note[] =
    "a run makes a missing form, gives what its level lacks, takes away what its level "
    "revokes and sets the built-in password";

static std::string form_name(const QVFormCheck &f)
{
    return qv_check_account_name(f.account->name, f.host);
}

/* name in backquotes, a backquote doubled; "*" stays. */
static std::string quoted_name(const std::string &name)
{
    if (name == "*")
        return name;
    std::string out = "`";
    for (char c : name)
        out += c == '`' ? std::string("``") : std::string(1, c);
    return out + "`";
}

/* "SELECT ON mysql.*" or "SELECT (User) ON mysql.db" as a REVOKE from grantee. */
static std::string revoke_grant(const std::string &grant, const std::string &grantee)
{
    size_t on = grant.find(" ON ");
    std::string object = on == std::string::npos ? "" : grant.substr(on + 4);
    size_t dot = object.find('.');
    std::string target = dot == std::string::npos
                             ? quoted_name(object)
                             : quoted_name(object.substr(0, dot)) + "." +
                                   quoted_name(object.substr(dot + 1));
    return "REVOKE " + grant.substr(0, on) + " ON " + target + " FROM " + grantee;
}

/* A role as a REVOKE names it: MariaDB's by its name, MySQL's "name@host" as an account. */
static std::string role_name(const std::string &role)
{
    size_t at = role.rfind('@');
    if (at == std::string::npos)
        return quoted_name(role);
    return "'" + role.substr(0, at) + "'@'" + role.substr(at + 1) + "'";
}

static void add_remedy(QVFormCheck *form, const std::string &remedy, const char *note)
{
    for (const QVRemedy &known : form->remedies)
        if (known.remedy == remedy)
            return;
    form->remedies.push_back({remedy, note});
}

/* A list of privilege names as a statement writes it. */
static std::string joined(const std::vector<std::string> &names)
{
    std::string out;
    for (const std::string &name : names)
        out += (out.empty() ? "" : ", ") + name;
    return out;
}

static bool has_expired(const QVFormCheck &form, const QVAccountCheck &check)
{
    const QVStoredForm &s = form.stored;
    if (s.expired_explicitly)
        return true;
    long long days = s.lifetime ? *s.lifetime : check.default_lifetime.value_or(0);
    if (days <= 0 || !s.last_changed || !check.now)
        return false;
    return *check.now - *s.last_changed > days * 86400;
}

/* The global differences: each privilege against the level (those a run takes away, and
 * the others), then the grant option, then what PUBLIC gives every account. */
static void judge_global(QVFormCheck *form, const QVAccountCheck &check,
                         const std::set<std::string> &expected)
{
    const int level = form->account->level;
    std::set_difference(expected.begin(), expected.end(), form->held.begin(), form->held.end(),
                        std::back_inserter(form->missing));
    std::vector<std::string> kept; /* extras a run leaves */
    for (const std::string &name : form->held)
        if (expected.count(name) == 0) {
            form->extra.push_back(name);
            if (!qv_level_takes_away(level, name.c_str()))
                kept.push_back(name);
        }
    bool grant_option = qv_level_grant_option(level);
    if (grant_option != form->grant_option)
        (grant_option ? form->missing : form->extra).push_back("GRANT OPTION");
    if (!form->missing.empty() || kept.size() < form->extra.size())
        add_remedy(form, QV_CHECK_RUN_REMEDY, g_run_note);
    if (!kept.empty())
        add_remedy(form, "REVOKE " + joined(kept) + " ON *.* FROM " + form_name(*form),
                   "a run does not take them away");
    std::vector<std::string> through_public;
    for (const std::string &name : check.public_privileges)
        if (expected.count(name) == 0 && form->held.count(name) == 0) {
            form->extra.push_back(name + " (to PUBLIC)");
            through_public.push_back(name);
        }
    if (!through_public.empty())
        add_remedy(form, "REVOKE " + joined(through_public) + " ON *.* FROM PUBLIC",
                   "every account holds what PUBLIC holds");
}

/* The privileges differences: global ones, then grants on the mysql schema (the form's
 * and PUBLIC's), roles and proxy grants, none of which a run gives or takes away. */
static void judge_privileges(QVFormCheck *form, const QVAccountCheck &check,
                             const std::vector<const char *> &server)
{
    std::set<std::string> expected;
    qv_level_leaves(
        form->account->level, server.data(), server.size(),
        [](void *context, const char *name) {
            static_cast<std::set<std::string> *>(context)->insert(qv_check_upper(name));
        },
        &expected);
    judge_global(form, check, expected);
    const std::string me = form_name(*form);
    for (const std::string &grant : form->schema_grants) {
        form->extra.push_back(grant);
        add_remedy(form, revoke_grant(grant, me), "a run does not take it away");
    }
    for (const std::string &grant : check.public_grants) {
        form->extra.push_back(grant + " (to PUBLIC)");
        add_remedy(form, revoke_grant(grant, "PUBLIC"), "every account holds what PUBLIC holds");
    }
    for (const std::string &role : form->roles) {
        bool is_default = std::find(form->default_roles.begin(), form->default_roles.end(), role) !=
                          form->default_roles.end();
        form->extra.push_back("role " + role + (is_default ? " (default)" : ""));
        add_remedy(form, "REVOKE " + role_name(role) + " FROM " + me, "a run does not take it away");
    }
    for (const std::string &role : form->default_roles)
        if (std::find(form->roles.begin(), form->roles.end(), role) == form->roles.end())
            form->extra.push_back("default role " + role);
    if (!form->default_roles.empty())
        add_remedy(form, "SET DEFAULT ROLE NONE FOR " + me, "a run does not change it");
    for (const std::string &proxied : form->proxies) {
        form->extra.push_back("PROXY ON " + proxied);
        add_remedy(form, "REVOKE PROXY ON " + proxied + " FROM " + me,
                   "it logs in as that account; a run does not take it away");
    }
}

/* The password's verdict over the form's methods, with every method that was tried: a
 * mysql_native_password one admits nothing where the server no longer runs it. */
static void judge_password(QVFormCheck *form, const QVAccountCheck &check)
{
    char reason[512];
    form->password = qv_stored_form_verify(&form->stored, form->account->password,
                                           check.facts.native_password, reason, sizeof reason);
    form->reason = reason;
    if (form->password == QV_CREDENTIAL_DIFFERS)
        add_remedy(form, QV_CHECK_RUN_REMEDY, g_run_note);
}

/* The remedies of a lock, an expiry and a TLS requirement the server cannot meet. */
static void judge_logins(QVFormCheck *form, const QVAccountCheck &check)
{
    const std::string me = form_name(*form);
    form->expired = has_expired(*form, check);
    form->tls_unavailable = form->stored.requires_tls && check.has_tls == false;
    if (form->stored.locked)
        add_remedy(form, "ALTER USER " + me + " ACCOUNT UNLOCK", "a run does not unlock accounts");
    if (form->expired)
        add_remedy(form, "ALTER USER " + me + " IDENTIFIED BY '<its built-in password>'",
                   "a run sets it again on MariaDB without a password reuse policy");
    if (form->tls_unavailable)
        add_remedy(form, "ALTER USER " + me + " REQUIRE NONE",
                   "or give the server TLS; a run leaves the requirement as it is");
}

void qv_check_conclude(QVAccountCheck *check)
{
    std::vector<const char *> server;
    for (const std::string &name : check->server_privileges)
        server.push_back(name.c_str());
    for (QVFormCheck &form : check->forms) {
        form.missing.clear();
        form.extra.clear();
        form.remedies.clear();
        if (!form.stored.exists) {
            add_remedy(&form, QV_CHECK_RUN_REMEDY, g_run_note);
            continue;
        }
        judge_logins(&form, *check);
        judge_privileges(&form, *check, server);
        judge_password(&form, *check);
    }
}

bool qv_check_form_ok(const QVFormCheck *form)
{
    return form->stored.exists && !form->stored.locked && !form->expired &&
           !form->tls_unavailable && form->missing.empty() && form->extra.empty() &&
           form->password != QV_CREDENTIAL_DIFFERS;
}
