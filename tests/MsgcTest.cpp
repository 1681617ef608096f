/*
 * Tests of msgc, the build-time generator of the catalogue's tables: what it makes of a
 * well-formed message file, and that every kind of bad row stops it with "file:line:"
 * and no output.
 */
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace
{

struct MsgcRun {
    int status;         /* exit status of msgc */
    std::string errors; /* what it wrote to standard error */
    std::string output; /* the generated file, if any */
    bool output_exists;
};

class Msgc : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qv-msgc-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir_ = pattern;
    }
    void TearDown() override
    {
        for (const char *name : {"in.msg", "out.cpp", "errors.txt"})
            remove((dir_ + "/" + name).c_str());
        rmdir(dir_.c_str());
    }
    static std::string read_file(const std::string &path, bool *exists = nullptr)
    {
        std::ifstream file(path, std::ios::binary);
        if (exists != nullptr)
            *exists = static_cast<bool>(file);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
    /* Runs msgc on content; a stale output file is put in place first, to see that a
     * failed run removes it. */
    MsgcRun run(const std::string &content, const std::string &identifier = "xx_YY")
    {
        std::ofstream(dir_ + "/in.msg", std::ios::binary) << content;
        std::ofstream(dir_ + "/out.cpp") << "stale";
        std::string command = std::string("'") + QV_MSGC_PATH + "' '" + dir_ + "/in.msg' '" + dir_ +
                              "/out.cpp' '" + identifier + "' 2>'" + dir_ + "/errors.txt'";
        int raw = system(command.c_str());
        MsgcRun result;
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.errors = read_file(dir_ + "/errors.txt");
        result.output = read_file(dir_ + "/out.cpp", &result.output_exists);
        return result;
    }
    /* Expects content to be refused with message on line. */
    void expect_refused(const std::string &content, int line, const std::string &message)
    {
        SCOPED_TRACE(content);
        MsgcRun result = run(content);
        EXPECT_EQ(1, result.status);
        EXPECT_NE(std::string::npos,
                  result.errors.find(dir_ + "/in.msg:" + std::to_string(line) + ": error: "))
            << result.errors;
        EXPECT_NE(std::string::npos, result.errors.find(message)) << result.errors;
        EXPECT_FALSE(result.output_exists);
    }
    std::string dir_;
};

TEST_F(Msgc, GeneratesCodeAndTextArrays)
{
    MsgcRun result =
        run("# a comment \"with quotes\"\n"
            "\n"
            "   \n"
            "KTRGU0000 \"\"\n"
            "KTRGU030A \"Line\\nTwo \\\"q\\\" back\\\\slash\\ttab\\r \xC3\xA9 ?? \xE6\x97\xA5\"\n"
            "KTRBA001e \"Old configuration version.\"");
    ASSERT_EQ(0, result.status) << result.errors;
    EXPECT_EQ("", result.errors);
    const std::string &out = result.output;
    EXPECT_NE(std::string::npos, out.find("const char *const qv_gui_codes_xx_YY[] = {\n"
                                          "    \"KTRGU0000\",\n"
                                          "    \"KTRGU030A\",\n"
                                          "    \"KTRBA001e\",\n"
                                          "    nullptr,\n};"))
        << out;
    EXPECT_NE(std::string::npos,
              out.find("const char *const qv_gui_texts_xx_YY[] = {\n"
                       "    \"\",\n"
                       "    \"Line\\012Two \\\"q\\\" back\\\\slash\\011tab\\015 \\303\\251 \\?\\? "
                       "\\346\\227\\245\",\n"
                       "    \"Old configuration version.\",\n"
                       "    nullptr,\n};"))
        << out;
    EXPECT_NE(std::string::npos, out.find("extern const char *const qv_gui_texts_xx_YY[];"));
}

TEST_F(Msgc, EmptyFileGivesEmptyArrays)
{
    MsgcRun result = run("# nothing yet\n");
    ASSERT_EQ(0, result.status) << result.errors;
    EXPECT_NE(std::string::npos, result.output.find("qv_gui_codes_xx_YY[] = {\n    nullptr,\n};"));
}

TEST_F(Msgc, MalformedRowsAreRefused)
{
    expect_refused("KTRGU0001\n", 1, "expected one blank and a double-quoted text");
    expect_refused("# c\nKTRGU0001  \"two blanks\"\n", 2, "expected one blank");
    expect_refused("KTRGU0001\t\"tab\"\n", 1, "does not have nine characters");
    expect_refused("KTRGU0001 text without quotes\n", 1, "expected one blank");
    expect_refused("KTRGU0001 \"unterminated\n", 1, "no closing double quote");
    expect_refused("KTRGU0001 \"a\" \"b\"\n", 1, "text after the closing double quote");
    expect_refused("KTRGU0001 \"crlf\"\r\n", 1, "carriage return at the end of the line");
    expect_refused(" # indented comment\n", 1, "does not have nine characters");
}

TEST_F(Msgc, BadEscapesAreRefused)
{
    expect_refused("KTRGU0001 \"a \\q b\"\n", 1, "bad escape \\q");
    expect_refused("KTRGU0001 \"\\x41\"\n", 1, "bad escape \\x");
    expect_refused("KTRGU0001 \"ends in \\\n", 1, "backslash at the end of the line");
    expect_refused("KTRGU0001 \"raw\ttab\"\n", 1, "control character 0x09");
    expect_refused(std::string("KTRGU0001 \"nul\0byte\"\n", 21), 1, "control character 0x00");
}

TEST_F(Msgc, InvalidUtf8IsRefused)
{
    expect_refused("KTRGU0001 \"lone \xC3( lead\"\n", 1, "invalid UTF-8 at byte 17");
    expect_refused("KTRGU0001 \"overlong \xC0\xAF\"\n", 1, "invalid UTF-8");
    expect_refused("KTRGU0001 \"surrogate \xED\xA0\x80\"\n", 1, "invalid UTF-8");
    expect_refused("KTRGU0001 \"too high \xF4\x90\x80\x80\"\n", 1, "invalid UTF-8");
    expect_refused("KTRGU0001 \"cut \xE6\x97\"\n", 1, "invalid UTF-8");
    expect_refused("KTRGU0001 \"stray \x80\"\n", 1, "invalid UTF-8");
    expect_refused("\xEF\xBB\xBFKTRGU0001 \"bom\"\n", 1, "byte-order mark");
}

TEST_F(Msgc, MalformedCodesAreRefused)
{
    expect_refused("KTRGU007 \"short\"\n", 1, "'KTRGU007' does not have nine characters");
    expect_refused("KTRGU00790 \"long\"\n", 1, "does not have nine characters");
    expect_refused("ktrGU0079 \"lower prefix\"\n", 1, "must start with five capital letters");
    expect_refused("KTRgu0079 \"lower family\"\n", 1, "must start with five capital letters");
    expect_refused("KTRGU007G \"not hex\"\n", 1, "must end in four hexadecimal digits");
    expect_refused("KTRGU 079 \"blank\"\n", 1, "does not have nine characters");
}

TEST_F(Msgc, CodesGivingTheSameKeyAreRefused)
{
    expect_refused("KTRGU030a \"one\"\nKTRGU0001 \"x\"\nKTRGU030A \"two\"\n", 3,
                   "KTRGU030A gives the same key as KTRGU030a on line 1");
    expect_refused("KTRGU0001 \"one\"\nQVXGU0001 \"two\"\n", 2, "gives the same key");
}

TEST_F(Msgc, EveryProblemOfAFileIsListed)
{
    MsgcRun result = run("KTRGU0001 \"ok\"\nKTRGU02 \"x\"\nKTRGU0003 \"\\z\"\nKTRGU0004 \"ok\"\n");
    EXPECT_EQ(1, result.status);
    EXPECT_NE(std::string::npos, result.errors.find("in.msg:2: error:"));
    EXPECT_NE(std::string::npos, result.errors.find("in.msg:3: error:"));
    EXPECT_EQ(std::string::npos, result.errors.find("in.msg:4:"));
}

TEST_F(Msgc, UsageAndMissingInput)
{
    MsgcRun result = run("KTRGU0001 \"x\"\n", "bad-identifier");
    EXPECT_EQ(2, result.status);
    EXPECT_NE(std::string::npos, result.errors.find("usage: msgc"));

    std::string command = std::string("'") + QV_MSGC_PATH + "' '" + dir_ + "/none.msg' '" + dir_ +
                          "/out.cpp' xx 2>'" + dir_ + "/errors.txt'";
    int raw = system(command.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1);
    EXPECT_NE(std::string::npos,
              read_file(dir_ + "/errors.txt").find("none.msg: error: cannot open the file"));
}

} // namespace
