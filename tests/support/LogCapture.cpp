#include "tests/support/LogCapture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "tests/support/TestPlatform.h"

StderrCapture::StderrCapture() : active_(true)
{
    fflush(stderr);
    capture_fd_ = open_temp_file();
    if (capture_fd_ < 0)
        throw std::runtime_error("cannot create a capture file");
    saved_fd_ = dup(2);
    dup2(capture_fd_, 2);
}

StderrCapture::~StderrCapture()
{
    if (active_)
        finish();
}

std::vector<std::string> StderrCapture::finish()
{
    fflush(stderr);
    dup2(saved_fd_, 2);
    close(saved_fd_);
    active_ = false;
    std::string text;
    char buffer[65536];
    lseek(capture_fd_, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(capture_fd_, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(capture_fd_);
    std::vector<std::string> lines;
    for (const std::string &line : split_lines(text))
        lines.push_back(without_thread_id(line));
    return lines;
}

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> split_at(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t at = 0;
    for (size_t next; (next = text.find(separator, at)) != std::string::npos; at = next + 1)
        parts.push_back(text.substr(at, next - at));
    parts.push_back(text.substr(at));
    return parts;
}

std::vector<std::string> split_cells(const std::string &row)
{
    std::vector<std::string> out;
    for (size_t at = 0; at < row.size();) {
        size_t gap = row.find("  ", at);
        out.push_back(row.substr(at, gap - at));
        at = gap == std::string::npos ? row.size() : row.find_first_not_of(' ', gap);
    }
    return out;
}

std::string without_thread_id(const std::string &line)
{
    if (line.size() < 9 || line[8] != ' ')
        return line;
    for (size_t i = 0; i < 8; i++)
        if (!isxdigit(static_cast<unsigned char>(line[i])))
            return line;
    return line.substr(9);
}

bool any_line_contains(const std::vector<std::string> &lines, const std::string &needle)
{
    for (const std::string &line : lines)
        if (line.find(needle) != std::string::npos)
            return true;
    return false;
}

bool has_stamp_and_thread_id(const std::string &line)
{
    static const char shape[] = "00/00/0000 00:00:00.000: xxxxxxxx ";
    if (line.size() < sizeof shape - 1)
        return false;
    for (size_t i = 0; i < sizeof shape - 1; i++) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        bool fits = shape[i] == '0'   ? isdigit(c) != 0
                    : shape[i] == 'x' ? (isdigit(c) || (c >= 'a' && c <= 'f'))
                                      : c == static_cast<unsigned char>(shape[i]);
        if (!fits)
            return false;
    }
    return true;
}
