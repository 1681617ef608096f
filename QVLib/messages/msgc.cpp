/*
 * msgc: turns one message file of the catalogue into C++ source, at build time.
 *
 *     msgc <input.msg> <output.cpp> <identifier>
 *
 * The message file holds one row per line, `CODE "text"`: a nine-character code (three
 * capital letters, the two capital letters of its family, four hexadecimal digits), one
 * blank, and the UTF-8 text in double quotes, with the escapes \n \r \t \\ and \" only.
 * Lines starting with '#' and blank lines are ignored. The output defines
 *
 *     const char *const qv_gui_codes_<identifier>[]   the codes, ended by a null pointer
 *     const char *const qv_gui_texts_<identifier>[]   the texts, in the same order
 *
 * Every problem (a malformed row or code, a bad escape, a raw control character,
 * invalid UTF-8, two codes that give the same key) is reported as "file:line: error:
 * ..." and makes msgc exit with status 1 without writing the output, which fails the
 * build. The output is written to a temporary file and renamed into place, so a build
 * never sees half of it.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace
{

struct Row {
    std::string code;
    std::string text; /* unescaped UTF-8 */
};

struct Input {
    const char *path;
    std::vector<Row> rows;
    std::vector<std::string> errors;

    void error(size_t line, const std::string &message)
    {
        errors.push_back(std::string(path) + ":" + std::to_string(line) + ": error: " + message);
    }
};

bool is_upper(char c)
{
    return c >= 'A' && c <= 'Z';
}

bool is_hex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hex_value(char c)
{
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    return static_cast<unsigned>(c - '0');
}

/* The catalogue's key: family letters high, the hexadecimal number low, either case. */
unsigned long code_key(const std::string &code)
{
    unsigned long key =
        (static_cast<unsigned char>(code[3]) * 256ul + static_cast<unsigned char>(code[4])) << 16;
    for (size_t i = 5; i < 9; i++)
        key += static_cast<unsigned long>(hex_value(code[i])) << (4 * (8 - i));
    return key;
}

/* An empty text when code is well-formed, else what is wrong with it. */
std::string check_code(const std::string &code)
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
size_t utf8_sequence(const std::string &text, size_t at)
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
bool parse_text(Input &input, size_t number, const std::string &line, size_t at, std::string &text)
{
    if (at >= line.size() || line[at] != '"') {
        input.error(number, "expected one blank and a double-quoted text after the code");
        return false;
    }
    size_t i = at + 1;
    while (i < line.size()) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == '"') {
            if (i + 1 == line.size())
                return true;
            if (line[i + 1] == '\r' && i + 2 == line.size())
                input.error(number, "carriage return at the end of the line (save the file "
                                    "with LF line ends)");
            else
                input.error(number, "text after the closing double quote (write a quote "
                                    "inside the text as \\\")");
            return false;
        }
        if (c == '\\') {
            if (i + 1 >= line.size()) {
                input.error(number, "backslash at the end of the line");
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
                input.error(number, "bad escape " + shown +
                                        " (only \\n \\r \\t \\\\ and \\\" are allowed)");
                return false;
            }
            }
            i += 2;
            continue;
        }
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "0x%02X", c);
            input.error(number, std::string("control character ") + hex +
                                    " in the text (write line breaks and tabs as escapes)");
            return false;
        }
        size_t length = utf8_sequence(line, i);
        if (length == 0) {
            input.error(number, "invalid UTF-8 at byte " + std::to_string(i + 1) + " of the line");
            return false;
        }
        text.append(line, i, length);
        i += length;
    }
    input.error(number, "the text has no closing double quote");
    return false;
}

void parse_line(Input &input, size_t number, const std::string &line)
{
    if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        input.error(number, "the file starts with a byte-order mark (save it as UTF-8 "
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
        input.error(number, problem);
        return;
    }
    if (blank == std::string::npos) {
        input.error(number, "expected one blank and a double-quoted text after the code");
        return;
    }
    Row row{code, ""};
    if (parse_text(input, number, line, blank + 1, row.text))
        input.rows.push_back(row);
}

bool read_input(Input &input)
{
    std::ifstream file(input.path, std::ios::binary);
    if (!file) {
        input.errors.push_back(std::string(input.path) + ": error: cannot open the file");
        return false;
    }
    std::map<unsigned long, std::pair<std::string, size_t>> seen; /* key: code, line */
    std::string line;
    size_t number = 0;
    while (std::getline(file, line)) {
        number++;
        size_t before = input.rows.size();
        parse_line(input, number, line);
        if (input.rows.size() == before)
            continue;
        const std::string &code = input.rows.back().code;
        auto inserted = seen.emplace(code_key(code), std::make_pair(code, number));
        if (!inserted.second)
            input.error(number, "message code " + code + " gives the same key as " +
                                    inserted.first->second.first + " on line " +
                                    std::to_string(inserted.first->second.second));
    }
    if (file.bad()) {
        input.errors.push_back(std::string(input.path) + ": error: read failure");
        return false;
    }
    return input.errors.empty();
}

/* text as the body of a C++ string literal: printable ASCII as is, everything else as
 * three-digit octal escapes (which, unlike hexadecimal ones, never swallow a following
 * digit). */
std::string literal(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '?') {
            out += "\\?"; /* keeps "??x" from ever reading as a trigraph */
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char octal[8];
            snprintf(octal, sizeof octal, "\\%03o", c);
            out += octal;
        }
    }
    return out;
}

bool valid_identifier(const char *name)
{
    if (*name == '\0' || (*name >= '0' && *name <= '9'))
        return false;
    for (const char *p = name; *p != '\0'; p++)
        if (!(is_upper(*p) || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') || *p == '_'))
            return false;
    return true;
}

std::string render(const Input &input, const std::string &identifier)
{
    std::ostringstream out;
    const char *slash = strrchr(input.path, '/');
    const char *name = slash != nullptr ? slash + 1 : input.path;
    out << "/* Generated by msgc from " << name << ": edit the message file, not this.\n"
        << " * " << input.rows.size() << " rows. */\n\n"
        << "extern const char *const qv_gui_codes_" << identifier << "[];\n"
        << "extern const char *const qv_gui_texts_" << identifier << "[];\n\n"
        << "const char *const qv_gui_codes_" << identifier << "[] = {\n";
    for (const Row &row : input.rows)
        out << "    \"" << row.code << "\",\n";
    out << "    nullptr,\n};\n\n"
        << "const char *const qv_gui_texts_" << identifier << "[] = {\n";
    for (const Row &row : input.rows)
        out << "    \"" << literal(row.text) << "\",\n";
    out << "    nullptr,\n};\n";
    return out.str();
}

bool write_output(const char *path, const std::string &content)
{
    std::string temporary = std::string(path) + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << content;
        file.flush();
        if (!file) {
            fprintf(stderr, "%s: error: cannot write the file\n", temporary.c_str());
            remove(temporary.c_str());
            return false;
        }
    }
    if (rename(temporary.c_str(), path) != 0) {
        fprintf(stderr, "%s: error: cannot rename %s into place\n", path, temporary.c_str());
        remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4 || !valid_identifier(argv[3])) {
        fprintf(stderr, "usage: msgc <input.msg> <output.cpp> <identifier>\n");
        return 2;
    }
    Input input{argv[1], {}, {}};
    if (!read_input(input)) {
        for (const std::string &message : input.errors)
            fprintf(stderr, "%s\n", message.c_str());
        remove(argv[2]); /* no stale table survives a failed generation */
        return 1;
    }
    return write_output(argv[2], render(input, argv[3])) ? 0 : 1;
}
