/*
 * LogCapture: collects what the process writes to standard error (where log lines go
 * while no sink is installed) so that tests can read the lines back.
 */
#ifndef TESTS_SUPPORT_LOGCAPTURE_H
#define TESTS_SUPPORT_LOGCAPTURE_H

#include <string>
#include <vector>

class StderrCapture
{
  public:
    StderrCapture();  /* starts capturing */
    ~StderrCapture(); /* stops, if finish was not called */
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    /* Stops capturing and returns the lines written meanwhile, each without its
     * newline and without the thread id and blank that start a log line. */
    std::vector<std::string> finish();

  private:
    int saved_fd_;
    int capture_fd_;
    bool active_;
};

/* The lines of text, split at "\n" (a final empty piece is dropped). */
std::vector<std::string> split_lines(const std::string &text);

/* The pieces of text between separators, empty ones kept ("" gives one empty piece). */
std::vector<std::string> split_at(const std::string &text, char separator);

/* The cells of a table's row: the pieces between runs of two or more blanks. */
std::vector<std::string> split_cells(const std::string &row);

/* line without its leading "xxxxxxxx " thread id, when it has one. */
std::string without_thread_id(const std::string &line);

/* True when line starts with a log file time stamp "MM/DD/YYYY hh:mm:ss.mmm: " followed
 * by a log line's thread id ("xxxxxxxx "). */
bool has_stamp_and_thread_id(const std::string &line);

/* True when one of lines contains needle. */
bool any_line_contains(const std::vector<std::string> &lines, const std::string &needle);

#endif
