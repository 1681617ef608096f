/*
 * The hint table against the documentation: the table of hints in README.md and the
 * DIAGNOSTICS of the manual page show exactly the code's rows, in its order, with the
 * same words (the account a hint names written as "account").
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "Interfaces/dbengine/MySQL/Hints.h"
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

HintRows code_rows()
{
    size_t count = 0;
    const QVHintRow *rows = qv_hint_table(&count);
    HintRows out;
    for (size_t i = 0; i < count; i++)
        out.emplace_back(rows[i].when, replaced(rows[i].text, "%s", "account"));
    return out;
}

/* The rows of README's table that follows "| Error | Hint |". */
HintRows readme_rows()
{
    HintRows out;
    std::vector<std::string> lines = split_lines(read_file(QV_SOURCE_DIR "/README.md"));
    size_t i = std::find(lines.begin(), lines.end(), "| Error | Hint |") - lines.begin();
    for (i += 2; i < lines.size() && lines[i].rfind("| ", 0) == 0; i++) {
        const std::string &line = lines[i];
        size_t bar = line.find(" | ");
        out.emplace_back(
            line.substr(2, bar - 2),
            replaced(line.substr(bar + 3, line.size() - bar - 5), "*account*", "account"));
    }
    return out;
}

/* The ".TP" entries of the manual page's DIAGNOSTICS, up to its first ".PP". */
HintRows manual_rows()
{
    HintRows out;
    std::vector<std::string> lines = split_lines(read_file(QV_SOURCE_DIR "/doc/VADedeVeZovid.8"));
    size_t i = std::find(lines.begin(), lines.end(), ".SH DIAGNOSTICS") - lines.begin();
    for (i++; i < lines.size() && lines[i] != ".PP" && lines[i].rfind(".SH", 0) != 0; i++) {
        if (lines[i] != ".TP" || i + 1 >= lines.size())
            continue;
        std::string when = lines[++i].substr(3), text; /* ".B when" */
        while (i + 1 < lines.size() && lines[i + 1][0] != '.')
            text += (text.empty() ? "" : " ") + lines[++i];
        text = replaced(replaced(text, "\\fIaccount\\fR", "account"), "\\-", "-");
        out.emplace_back(when, text);
    }
    return out;
}

TEST(Hints, ReadmeAndManualShowTheCodesTable)
{
    HintRows code = code_rows();
    ASSERT_EQ(15u, code.size());
    EXPECT_EQ(code, readme_rows());
    EXPECT_EQ(code, manual_rows());
}

} // namespace
