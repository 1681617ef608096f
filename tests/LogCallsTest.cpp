/*
 * Tests of the log calls: line layout, source positions, trimming, the level check,
 * truncation of long lines, and the bounded formatter.
 */
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVmutex.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestPlatform.h"

namespace
{

std::string thread_prefix()
{
    char id[20];
    snprintf(id, sizeof id, "%08x ", qv_thread_id());
    return id;
}

TEST(LogCalls, LineLayoutOfEachCall)
{
    StderrCapture capture;
    qv_log(QV_LOG_INFO, "Log started, %s", "Build number: DEVELOPMENT");
    qv_log_at("Interfaces/ErrorLogger/ErrorLogger", 365, QV_LOG_ERROR,
              ": out of memory. Size requested = %d", 288);
    qv_log_trace("Interfaces/ErrorLogger/ErrorLogger", 393);
    qv_log_at(nullptr, 12, QV_LOG_WARNING, "%s", "no file");
    qv_log_trace(nullptr, 7);
    auto lines = capture.finish();
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ("INFO   : Log started, Build number: DEVELOPMENT", lines[0]);
    EXPECT_EQ("ERROR   at ErrorLogger:365: : out of memory. Size requested = 288", lines[1]);
    EXPECT_EQ("STACK_TRACE at ErrorLogger:393", lines[2]);
    EXPECT_EQ("WARNING: no file", lines[3]);
    EXPECT_EQ("STACK_TRACE", lines[4]);
}

TEST(LogCalls, LinesStartWithTheThreadIdAndEndWithOneNewline)
{
    fflush(stderr);
    int fd = open_temp_file();
    ASSERT_GE(fd, 0);
    int saved = dup(2);
    dup2(fd, 2);
    qv_log(QV_LOG_INFO, "%s", "camera added");
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    char raw[256];
    lseek(fd, 0, SEEK_SET);
    /* Only what read returns: a text-mode read on Windows leaves bytes past it. */
    ssize_t n = read(fd, raw, sizeof raw);
    close(fd);
    ASSERT_GT(n, 0);
    EXPECT_EQ(thread_prefix() + "INFO   : camera added\n",
              std::string(raw, static_cast<size_t>(n)));
}

TEST(LogCalls, SourcePositionNamesTheBaseName)
{
    StderrCapture capture;
    qv_log_at("a\\b/c\\Engine", 1, QV_LOG_ERROR, "%s", "x"); /* '\\' comes later */
    qv_log_at("a/b\\c/Logger", 2, QV_LOG_ERROR, "%s", "x");  /* '/' comes later */
    qv_log_at("NoSeparator", 3, QV_LOG_ERROR, "%s", "x");
    qv_log_at("ends/with/", 4, QV_LOG_ERROR, "%s", "x");
    qv_log_trace("C:\\src\\Time", 5);
    auto lines = capture.finish();
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ("ERROR   at Engine:1: x", lines[0]);
    EXPECT_EQ("ERROR   at Logger:2: x", lines[1]);
    EXPECT_EQ("ERROR   at NoSeparator:3: x", lines[2]);
    EXPECT_EQ("ERROR   at :4: x", lines[3]);
    EXPECT_EQ("STACK_TRACE at Time:5", lines[4]);
}

TEST(LogCalls, TrailingControlBytesAreTrimmedAndLettersKept)
{
    StderrCapture capture;
    qv_log(QV_LOG_INFO, "%s", "line feed\r\n");
    qv_log(QV_LOG_INFO, "%s", "tabs\t\t");
    qv_log(QV_LOG_INFO, "%s", "blanks  ");
    qv_log(QV_LOG_INFO, "%s", "accent caf\xc3\xa9");                     /* UTF-8 letters stay */
    qv_log(QV_LOG_INFO, "%s", "\xe3\x82\xab\xe3\x83\xa1\xe3\x83\xa9\n"); /* so do Japanese ones */
    qv_log(QV_LOG_INFO, "%s", "mixed\xff\n\x01"); /* the controls go, 0xFF stays */
    qv_log(QV_LOG_INFO, "%s", "inner\ttab kept.");
    qv_log(QV_LOG_INFO, "%s", ""); /* prefix alone */
    auto lines = capture.finish();
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ("INFO   : line feed", lines[0]);
    EXPECT_EQ("INFO   : tabs", lines[1]);
    EXPECT_EQ("INFO   : blanks  ", lines[2]);
    EXPECT_EQ("INFO   : accent caf\xc3\xa9", lines[3]);
    EXPECT_EQ("INFO   : \xe3\x82\xab\xe3\x83\xa1\xe3\x83\xa9", lines[4]);
    EXPECT_EQ("INFO   : mixed\xff", lines[5]);
    EXPECT_EQ("INFO   : inner\ttab kept.", lines[6]);
    EXPECT_EQ("INFO   : ", lines[7]);
}

TEST(LogCalls, LevelsOutsideTheTableWriteNothing)
{
    StderrCapture capture;
    qv_log(8, "%s", "dropped");
    qv_log(-1, "%s", "dropped");
    qv_log_at("f", 1, 100, "%s", "dropped");
    for (int level = 0; level <= 7; level++)
        if (level != QV_LOG_FATAL)
            qv_log(level, "level %d", level);
    auto lines = capture.finish();
    ASSERT_EQ(7u, lines.size());
    EXPECT_EQ("INFO   : level 0", lines[0]);
    EXPECT_EQ("WARNING: level 1", lines[1]);
    EXPECT_EQ("ERROR  : level 2", lines[2]);
    EXPECT_EQ("G-ERROR: level 3", lines[3]);
    EXPECT_EQ("DEBUG  : level 4", lines[4]);
    EXPECT_EQ("G-WARN : level 6", lines[5]);
    EXPECT_EQ("DUMP   : level 7", lines[6]);
}

TEST(LogCalls, LevelNames)
{
    EXPECT_STREQ("**FATAL**", qv_log_level_name(QV_LOG_FATAL));
    EXPECT_STREQ("G-WARN ", qv_log_level_name(QV_LOG_G_WARN));
    EXPECT_STREQ("Unknown", qv_log_level_name(8));
    EXPECT_STREQ("Unknown", qv_log_level_name(-1));
}

TEST(LogCalls, FatalWithoutASinkIsAnOrdinaryLine)
{
    StderrCapture capture;
    qv_log(QV_LOG_FATAL, "%s", "disk gone");
    auto lines = capture.finish();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("**FATAL**: disk gone", lines[0]);
}

TEST(LogCalls, LongMessagesAreCutToTheBuffersRoom)
{
    std::string message(200000, 'm');
    StderrCapture capture;
    qv_log(QV_LOG_INFO, "%s", message.c_str());
    auto lines = capture.finish();
    ASSERT_EQ(1u, lines.size());
    /* prefix "xxxxxxxx INFO   : " is 18 bytes; the message gets 131072 - 18 - 3 bytes
     * of room, that is one character fewer. */
    size_t prefix = 18;
    size_t room = QV_LOG_LINE_SIZE - prefix - 3;
    EXPECT_EQ(room - 1, lines[0].size() - (prefix - 9));
    EXPECT_EQ(std::string("INFO   : ") + std::string(room - 1, 'm'), lines[0]);
}

TEST(LogCalls, OverlongSourcePathIsCutWithoutHarm)
{
    std::string path(QV_LOG_LINE_SIZE + 100, 'p');
    StderrCapture capture;
    qv_log_at(path.c_str(), 9, QV_LOG_ERROR, "%s", "message");
    qv_log_trace(path.c_str(), 9);
    auto lines = capture.finish();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(QV_LOG_LINE_SIZE - 1 - 9, lines[0].size());
    EXPECT_EQ(std::string::npos, lines[0].find("message"));
    EXPECT_EQ(0u, lines[1].find("STACK_TRACE at ppp"));
}

TEST(LogCalls, BoundedFormatting)
{
    char buffer[20];
    EXPECT_EQ(-1, qv_snprintf(buffer, sizeof buffer, "%s", "0123456789abcdefghijklmno"));
    EXPECT_STREQ("0123456789abcdefghi", buffer);
    EXPECT_EQ(19, qv_snprintf(buffer, sizeof buffer, "%s", "0123456789abcdefghi"));
    EXPECT_STREQ("0123456789abcdefghi", buffer);
    EXPECT_EQ(0, qv_snprintf(buffer, sizeof buffer, "%s", ""));
    EXPECT_EQ(-1, qv_snprintf(buffer, 0, "%s", "x"));
    EXPECT_EQ(-1, qv_snprintf(buffer, 1, "%d", 5));
    EXPECT_STREQ("", buffer);
}

} // namespace
