/*
 * FuzzSupport: the collecting sink, input cutting and in-memory files of the harnesses.
 *
 * The in-memory files are memfd files reached through /proc/self/fd, so that a reader
 * sees a regular file of exactly the input's size, as it would a file on disk.
 */
#include "fuzz/FuzzSupport.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"

static std::vector<std::string> g_lines;

static unsigned collect_line(void *context, const char *line)
{
    (void)context;
    g_lines.emplace_back(line);
    return 0;
}

void qv_fuzz_fail(const char *file, int line, const char *condition)
{
    fprintf(stderr, "\n==== property broken at %s:%d: %s\n", file, line, condition);
    for (const std::string &logged : g_lines)
        fprintf(stderr, "     logged: %s\n", logged.c_str());
    abort();
}

__attribute__((weak)) void qv_fuzz_setup(void)
{
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static QVLogSink sink{nullptr, collect_line, nullptr};
    qv_log_set_sink(&sink);
    g_lines.clear();
    qv_fuzz_setup();
    return 0;
}

std::vector<std::string> qv_fuzz_take_lines(void)
{
    std::vector<std::string> lines;
    lines.swap(g_lines);
    return lines;
}

bool qv_fuzz_lines_are_whole(const std::vector<std::string> &lines)
{
    for (const std::string &line : lines)
        for (unsigned char c : line)
            if (c < 0x20 || c == 0x7F)
                return false;
    return true;
}

std::vector<std::string> qv_fuzz_split(const uint8_t *data, size_t size, size_t count)
{
    std::vector<std::string> texts(count);
    const char *p = reinterpret_cast<const char *>(data);
    const char *end = p + size;
    for (size_t i = 0; i < count && p < end; i++) {
        const char *zero = static_cast<const char *>(memchr(p, '\0', static_cast<size_t>(end - p)));
        const char *stop = zero != nullptr ? zero : end;
        texts[i].assign(p, stop);
        p = zero != nullptr ? zero + 1 : end;
    }
    return texts;
}

std::string qv_fuzz_file(const uint8_t *data, size_t size)
{
    static int fd = memfd_create("qv-fuzz-input", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 ||
        (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)))
        qv_fuzz_fail(__FILE__, __LINE__, "the in-memory input file can be written");
    return "/proc/self/fd/" + std::to_string(fd);
}
