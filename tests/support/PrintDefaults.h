/*
 * PrintDefaults: the mariadb client's own option parser, my_print_defaults (Debian's
 * MariaDB client package), as the reference for the tool's reader.
 */
#ifndef TESTS_SUPPORT_PRINTDEFAULTS_H
#define TESTS_SUPPORT_PRINTDEFAULTS_H

#include <string>

/* What my_print_defaults prints for the file at path and the tool's groups: one
 * "--name=value" line per option, nothing when the client refuses the file. *ran is
 * false when it could not be run or did not end within 10 seconds. */
std::string print_defaults(const std::string &path, bool *ran);

/* An option (value null: a line without "=") as my_print_defaults prints it. */
std::string printed_option(const char *name, const char *value);

#endif
