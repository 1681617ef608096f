/*
 * Fuzzing harness: the option file's reader (qv_option_read), which must read a file as
 * the mariadb client does.
 *
 * Input: the whole input is one option file; it is also, without its zero bytes and cut
 * to fit one line, a value written into a file of its own in one of three quotings (by
 * the input's length): in double quotes, in single quotes, or bare, with the escapes
 * each needs.
 *
 * Properties: every name and value read is shorter than a piece of a line; no option
 * outside the named groups is ever read (none with no group named), and each option of
 * a named group is read under exactly one of them (read group by group, the counts add
 * up to the whole); the value written in any quoting reads back to the same bytes; and
 * the options read are exactly those my_print_defaults, the client's own parser, prints
 * for the file: for the first 64 inputs (the seeds, which libFuzzer runs first) and every
 * 256th one after, except where the file names another file (the client would read it)
 * or has an option without a name (which the client reads from outside its buffer).
 */
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Interfaces/dbengine/MySQL/OptionFile.h"
#include "Interfaces/dbengine/MySQL/OptionReader.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/PrintDefaults.h"

/* A reading of a text: where it stands, the options as my_print_defaults prints them, and
 * what keeps the file from being held to it. */
struct Found {
    explicit Found(const std::string &read) : text(read) {}
    const std::string &text;
    size_t at = 0, options = 0;
    std::string printed, last_value;
    bool includes = false, unnamed = false;
};

static Found read_text(const std::string &text, const char *const groups[])
{
    Found found(text);
    QVOptionSource source{&found, [](void *context, char *buffer, size_t capacity) {
                              Found *f = static_cast<Found *>(context);
                              size_t n = std::min(capacity, f->text.size() - f->at);
                              memcpy(buffer, f->text.data() + f->at, n);
                              f->at += n;
                              return static_cast<long>(n);
                          }};
    QVOptionEvents events{
        &found,
        [](void *context, const char *name, const char *value, unsigned) {
            Found *f = static_cast<Found *>(context);
            QV_FUZZ_CHECK(strlen(name) < QV_OPTION_PIECE &&
                          (!value || strlen(value) < QV_OPTION_PIECE));
            f->printed += printed_option(name, value);
            f->options++;
            f->unnamed = f->unnamed || name[0] == '\0';
            f->last_value = value ? value : "(none)";
        },
        [](void *context, const char *, bool, unsigned) {
            return static_cast<Found *>(context)->includes = true;
        },
        [](void *context, const char *, unsigned) {
            static_cast<Found *>(context)->printed.clear();
        },
    };
    qv_option_read(&source, groups, 0, &events);
    return found;
}

/* value in the quoting style asks for (0 double quotes, 1 single quotes, 2 bare), or ""
 * when a bare value cannot hold it: a "#", or a blank at either end that has no escape
 * (the client drops blanks there). */
static std::string quoted(const std::string &value, int style)
{
    const std::string quote = style == 0 ? "\"" : style == 1 ? "'" : "";
    std::string out = quote;
    for (size_t i = 0; i < value.size(); i++) {
        char c = value[i];
        bool edge = style == 2 && (i == 0 || i + 1 == value.size()) && qv_option_blank(c);
        if (c == '\\' || c == '"' || c == '\'')
            out += std::string("\\") + c;
        else if (c == '\n')
            out += "\\n";
        else if (edge && (c == ' ' || c == '\t' || c == '\r'))
            out += c == ' ' ? "\\s" : c == '\t' ? "\\t" : "\\r";
        else if (edge || (style == 2 && c == '#'))
            return "";
        else
            out += c;
    }
    return out + quote;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static unsigned long runs = 0;
    const std::string text(reinterpret_cast<const char *>(data), size);
    static const char *const none[] = {nullptr};
    Found all = read_text(text, qv_option_groups);
    QV_FUZZ_CHECK(read_text(text, none).options == 0);
    size_t apart = 0;
    for (size_t i = 0; qv_option_groups[i] != nullptr; i++) {
        const char *const one[] = {qv_option_groups[i], nullptr};
        apart += read_text(text, one).options;
    }
    QV_FUZZ_CHECK(apart == all.options);

    std::string value = text;
    value.erase(std::remove(value.begin(), value.end(), '\0'), value.end());
    value.resize(std::min<size_t>(value.size(), 2000));
    std::string written = quoted(value, static_cast<int>(size % 3));
    if (!value.empty() && !written.empty())
        QV_FUZZ_CHECK(read_text("[client]\nv=" + written + "\n", qv_option_groups).last_value ==
                      value);

    if ((++runs <= 64 || runs % 256 == 0) && !all.includes && !all.unnamed) {
        /* a file on disk: the client resolves the link of an in-memory file's path */
        static const std::string path = "/tmp/qv-fuzz-option-file." + std::to_string(getpid());
        static const int removed = atexit([] { unlink(path.c_str()); });
        FILE *file = fopen(path.c_str(), "wb");
        QV_FUZZ_CHECK(removed == 0 && file != nullptr && fwrite(data, 1, size, file) == size);
        fclose(file);
        bool ran = false;
        QV_FUZZ_CHECK(print_defaults(path, &ran) == all.printed && ran);
    }
    return 0;
}
