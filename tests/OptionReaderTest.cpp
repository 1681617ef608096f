/*
 * The option files read as the mariadb client reads them: for each file of the table
 * (quotes, escapes, comments, groups, includes, long lines, the lines the client
 * refuses), what the tool's reader hands on is what my_print_defaults, the client's own
 * parser, prints for the same groups, run at test time.
 */
#include <gtest/gtest.h>

#include <string>

#include "Interfaces/dbengine/MySQL/OptionFile.h"
#include "tests/support/PrintDefaults.h"
#include "tests/support/TestFiles.h"

namespace
{

/* What the tool's reader hands on, printed as my_print_defaults prints it. */
std::string read_as_the_tool(const std::string &path)
{
    std::string out;
    QVOptionSink sink{
        &out,
        [](void *context, const char *name, const char *value, const char *, unsigned) {
            *static_cast<std::string *>(context) += printed_option(name, value);
        },
        [](void *context) { static_cast<std::string *>(context)->clear(); }};
    char refusal[QV_OPTION_REFUSAL_SIZE];
    qv_option_files_read(path.c_str(), false, &sink, refusal, sizeof refusal);
    return out;
}

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

TEST(OptionReader, ReadsEachFileAsTheClientsOwnParser)
{
    TempDir dir("qv-options");
    ScopedEnv home("HOME", dir.path().c_str());
    const std::string x4091(4091, 'x');
    /* Files that the cases include (DIR stands for the test's folder), and a folder whose
     * files end in several ways. */
    dir.file("plain.cnf", "[client]\na=1\n");
    dir.file("stops.cnf", "[client]\na=1\n[bad\nb=2\n");
    dir.dir("conf.d");
    for (const char *name : {"b.cnf", "a.cnf", ".cnf", "F.cnf", "c.ini", "d.cnf.bak", "e.x.cnf"})
        dir.file(std::string("conf.d/") + name, std::string("[client]\nfrom=") + name + "\n");
    const std::string cases[] = {
        "[client]\npassword=p w#x\n",
        "[client]\npassword='p w#x' # note\n",
        "[client]\na=\"\"\nb=\"\nc='\nd=\"x'\ne=\\\nf=a\\\ng=\"a\\\"\nh=a\\qb\\\\\ni=\\x\\s\\b\\r\n"
        "j= \"a\" \nk=\"a\"#c\nl=a\"#\"b\nm=a\\#b\nn\\#=1\n#o=1\np#=1\nq =\t x \t\nr=\"x\\\"#y\"\n"
        "s='x\"#y'#z\nt=x\\\\\"#y\"\nu=\\n\\t\\\"\\'\nv\\\" w='p w#x' #\n",
        "[CLIENT]\na=1\n[ client]\nb=2\n[client ]  junk\nc=3\n[cli]\nd=4\n[client-server]\ne=5\n"
        "[mysql]\nf=6\n[client-mariadb-10.11]\ng=7\n[ClIeNt-MaRiAdB]\nh=8\n[vadedevezovid]\ni=9\n",
        "# c\n; c\n\n  [client]  \n  a = 1  \n\tb\t=\t\"x y\"\t\nc\n=empty name\n",
        "x=1\n[client]\na=1\n",
        "[client]\na=1\n[bad\n",
        "[client]\na=1\n!include\nb=2\n",
        "[client]\n!include DIR/plain.cnf",
        "[client]\nq=0\n!include DIR/plain.cnfx",
        "[mysql]\n!include DIR/plain.cnf\nz=1\n",
        "[client]\nx=0\n!include DIR/stops.cnf\ny=3\n!include   DIR/missing.cnf  \n",
        "[client]\n!includedir DIR/conf.d  \nz=1\n",
        "[client]\na=1\n!includedir DIR/no-such-folder\n",
        "[client]\n!include ~/plain.cnf\n!foo bar\n!includex DIR/plain.cnf\n! include "
        "DIR/plain.cnf\n",
        "[client]\na=" + x4091 + "b=1\n",
        "[client]\na=" + x4091 + "xb=1\n",
        std::string("[client]\nd=4\0junk\ne=5\n", 19),
        "[client]\r\na=\x0b"
        "1\x0c\r\nb=\xa0"
        "2\xa0\n",
        "\xef\xbb\xbf[client]\na=1\n",
    };
    for (const std::string &content : cases) {
        std::string path = dir.file("my.cnf", replaced(content, "DIR", dir.path()));
        bool ran = false;
        EXPECT_EQ(print_defaults(path, &ran), read_as_the_tool(path)) << content;
        EXPECT_TRUE(ran);
    }
}

} // namespace
