/*
 * The hint table and the option files' rules against the documentation: the tables in
 * README.md and the lists of the manual page show exactly the code's rows, in its order,
 * with the same words (what a hint names, such as the account, written in italics there).
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Interfaces/dbengine/MySQL/Hints.h"
#include "Interfaces/dbengine/MySQL/OptionFile.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFiles.h"

namespace
{

typedef std::vector<std::pair<std::string, std::string>> HintRows; /* when, text */

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

/* The text with the italic words the documents write for what a hint names (README's
 * *account*, the manual's \fIaccount\fR) as the code's "%s". */
std::string placeholders(std::string text)
{
    for (auto [open, close] : {std::pair<const char *, const char *>{"*", "*"}, {"\\fI", "\\fR"}})
        for (size_t at, end; (at = text.find(open)) != std::string::npos &&
                             (end = text.find(close, at + 1)) != std::string::npos;)
            text.replace(at, end + strlen(close) - at, "%s");
    return text;
}

HintRows code_rows()
{
    size_t count = 0;
    const QVHintRow *rows = qv_hint_table(&count);
    HintRows out;
    for (size_t i = 0; i < count; i++)
        out.emplace_back(rows[i].when, rows[i].text);
    return out;
}

/* The rows of README's table that follows the line header (indented or not). */
HintRows readme_rows(const std::string &header)
{
    HintRows out;
    std::vector<std::string> lines = split_lines(read_file(QV_SOURCE_DIR "/README.md"));
    for (std::string &line : lines)
        line.erase(0, line.find_first_not_of(' '));
    size_t i = std::find(lines.begin(), lines.end(), header) - lines.begin();
    for (i += 2; i < lines.size() && lines[i].rfind("| ", 0) == 0; i++) {
        const std::string &line = lines[i];
        size_t bar = line.find(" | ");
        out.emplace_back(line.substr(2, bar - 2),
                         placeholders(line.substr(bar + 3, line.size() - bar - 5)));
    }
    return out;
}

/* The ".TP" entries of the manual page that follow the line start, up to a ".PP". */
HintRows manual_rows(const std::string &start)
{
    HintRows out;
    std::vector<std::string> lines = split_lines(read_file(QV_SOURCE_DIR "/doc/VADedeVeZovid.8"));
    size_t i = std::find(lines.begin(), lines.end(), start) - lines.begin();
    for (i++; i < lines.size() && lines[i] != ".PP" && lines[i].rfind(".SH", 0) != 0; i++) {
        if (lines[i] != ".TP" || i + 1 >= lines.size())
            continue;
        std::string when = lines[++i].substr(3), text; /* ".B when" */
        while (i + 1 < lines.size() && lines[i + 1][0] != '.')
            text += (text.empty() ? "" : " ") + lines[++i];
        text = replaced(placeholders(text), "\\-", "-");
        out.emplace_back(when, text);
    }
    return out;
}

TEST(Hints, ReadmeAndManualShowTheCodesTablesOfHintsAndOptionFileRules)
{
    HintRows code = code_rows();
    ASSERT_EQ(23u, code.size());
    EXPECT_EQ(code, readme_rows("| Error | Hint |"));
    EXPECT_EQ(code, manual_rows(".SH DIAGNOSTICS"));

    size_t count = 0;
    const QVOptionRule *rules = qv_option_rules(&count);
    HintRows option_rules;
    for (size_t i = 0; i < count; i++)
        option_rules.emplace_back(rules[i].when, rules[i].what);
    ASSERT_EQ(19u, option_rules.size());
    EXPECT_EQ(option_rules, readme_rows("| In the option files | The tool |"));
    EXPECT_EQ(option_rules, manual_rows("Case by case, what the tool does:"));
}

} // namespace
