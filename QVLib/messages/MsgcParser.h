/*
 * MsgcParser: the parser of the catalogue's message files.
 *
 * A message file holds one row per line, `CODE "text"`: a nine-character code (three
 * capital letters, the two capital letters of its family, four hexadecimal digits), one
 * blank, and the UTF-8 text in double quotes, with the escapes \n \r \t \\ and \" only.
 * Lines starting with '#' and blank lines are ignored. A malformed row or code, a bad
 * escape, a raw control character, invalid UTF-8 (overlong forms, surrogates, code
 * points above U+10FFFF), a byte-order mark and two codes that give the same catalogue
 * key are problems, each reported as "file:line: error: ...".
 */
#ifndef QVLIB_MESSAGES_MSGCPARSER_H
#define QVLIB_MESSAGES_MSGCPARSER_H

#include <istream>
#include <string>
#include <vector>

struct QVMsgRow {
    std::string code;
    std::string text; /* unescaped UTF-8 */
};

struct QVMsgFile {
    const char *path;                /* the file's name, as the messages show it */
    std::vector<QVMsgRow> rows;      /* the well-formed rows, in file order */
    std::vector<std::string> errors; /* every problem, in file order */
};

/* Reads the message file in stream to its end, appending its well-formed rows to
 * file->rows and every problem to file->errors. Returns true when the file has no
 * problem (file->errors stayed empty). */
bool qv_msgc_parse(QVMsgFile *file, std::istream &stream);

#endif
