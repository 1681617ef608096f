/*
 * MsgcParser: reads a message file of the catalogue into rows of code and text, listing
 * every problem it finds. The generator (msgc) is built on it, and so is the fuzzing
 * harness that hands it any bytes.
 *
 * A row is kept only when both its code and its text are well-formed; a problem ends the
 * row it is found in, never the file, so that one run lists them all.
 */
#include "QVLib/messages/MsgcParser.h"

#include <cstdio>
#include <map>

static void report(QVMsgFile *file, size_t line, const std::string &message)
{
    file->errors.push_back(std::string(file->path) + ":" + std::to_string(line) +
                           ": error: " + message);
}

static bool is_upper(char c)
{
    return c >= 'A' && c <= 'Z';
}

static bool is_hex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

static unsigned hex_value(char c)
{
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    return static_cast<unsigned>(c - '0');
}

/* The catalogue's key: family letters high, the hexadecimal number low, either case. */
static unsigned long code_key(const std::string &code)
{
    unsigned long key =
        (static_cast<unsigned char>(code[3]) * 256ul + static_cast<unsigned char>(code[4])) << 16;
    for (size_t i = 5; i < 9; i++)
        key += static_cast<unsigned long>(hex_value(code[i])) << (4 * (8 - i));
    return key;
}

/* An empty text when code is well-formed, else what is wrong with it. */
static std::string check_code(const std::string &code)
{
    if (code.size() != 9)
        return "message code '" + code + "' does not have nine characters";
    for (size_t i = 0; i < 5; i++)
        if (!is_upper(code[i]))
            return "message code '" + code +
                   "' must start with five capital letters (prefix and family)";
    for (size_t i = 5; i < 9; i++)
        if (!is_hex(code[i]))
            return "message code '" + code + "' must end in four hexadecimal digits";
    return "";
}

/* Length of the well-formed UTF-8 sequence at text[at], or 0 when it is not one
 * (overlong forms, surrogates and code points above U+10FFFF are refused). */
static size_t utf8_sequence(const std::string &text, size_t at)
{
    const unsigned char *s = reinterpret_cast<const unsigned char *>(text.data()) + at;
    size_t left = text.size() - at;
    unsigned char b = s[0];
    size_t length;
    unsigned long cp;
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        cp = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        cp = b & 0x0Fu;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        cp = b & 0x07u;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (size_t i = 1; i < length; i++) {
        if ((s[i] & 0xC0u) != 0x80u)
            return 0;
        cp = (cp << 6) | (s[i] & 0x3Fu);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

/* Parses the quoted text starting at line[at] (the opening quote). Returns false after
 * reporting the first problem. */
static bool parse_text(QVMsgFile *file, size_t number, const std::string &line, size_t at,
                       std::string &text)
{
    if (at >= line.size() || line[at] != '"') {
        report(file, number, "expected one blank and a double-quoted text after the code");
        return false;
    }
    size_t i = at + 1;
    while (i < line.size()) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == '"') {
            if (i + 1 == line.size())
                return true;
            if (line[i + 1] == '\r' && i + 2 == line.size())
                report(file, number,
                       "carriage return at the end of the line (save the file "
                       "with LF line ends)");
            else
                report(file, number,
                       "text after the closing double quote (write a quote "
                       "inside the text as \\\")");
            return false;
        }
        if (c == '\\') {
            if (i + 1 >= line.size()) {
                report(file, number, "backslash at the end of the line");
                return false;
            }
            char e = line[i + 1];
            switch (e) {
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case '\\':
                text += '\\';
                break;
            case '"':
                text += '"';
                break;
            default: {
                std::string shown =
                    (static_cast<unsigned char>(e) < 0x20 || static_cast<unsigned char>(e) >= 0x7F)
                        ? "a non-printable character"
                        : std::string("\\") + e;
                report(file, number,
                       "bad escape " + shown + " (only \\n \\r \\t \\\\ and \\\" are allowed)");
                return false;
            }
            }
            i += 2;
            continue;
        }
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "0x%02X", c);
            report(file, number,
                   std::string("control character ") + hex +
                       " in the text (write line breaks and tabs as escapes)");
            return false;
        }
        size_t length = utf8_sequence(line, i);
        if (length == 0) {
            report(file, number, "invalid UTF-8 at byte " + std::to_string(i + 1) + " of the line");
            return false;
        }
        text.append(line, i, length);
        i += length;
    }
    report(file, number, "the text has no closing double quote");
    return false;
}

static void parse_line(QVMsgFile *file, size_t number, const std::string &line)
{
    if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        report(file, number,
               "the file starts with a byte-order mark (save it as UTF-8 "
               "without BOM)");
        return;
    }
    if (line.empty() || line[0] == '#')
        return;
    if (line.find_first_not_of(" \t\r") == std::string::npos)
        return;
    size_t blank = line.find(' ');
    std::string code = line.substr(0, blank);
    std::string problem = check_code(code);
    if (!problem.empty()) {
        report(file, number, problem);
        return;
    }
    if (blank == std::string::npos) {
        report(file, number, "expected one blank and a double-quoted text after the code");
        return;
    }
    QVMsgRow row{code, ""};
    if (parse_text(file, number, line, blank + 1, row.text))
        file->rows.push_back(row);
}

bool qv_msgc_parse(QVMsgFile *file, std::istream &stream)
{
    std::map<unsigned long, std::pair<std::string, size_t>> seen; /* key: code, line */
    std::string line;
    size_t number = 0;
    while (std::getline(stream, line)) {
        number++;
        size_t before = file->rows.size();
        parse_line(file, number, line);
        if (file->rows.size() == before)
            continue;
        const std::string &code = file->rows.back().code;
        auto inserted = seen.emplace(code_key(code), std::make_pair(code, number));
        if (!inserted.second)
            report(file, number,
                   "message code " + code + " gives the same key as " +
                       inserted.first->second.first + " on line " +
                       std::to_string(inserted.first->second.second));
    }
    if (stream.bad())
        file->errors.push_back(std::string(file->path) + ": error: read failure");
    return file->errors.empty();
}
