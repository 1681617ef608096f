/*
 * PrintDefaults: the mariadb client's own option parser as the reference for the tool's
 * reader: my_print_defaults (Debian's MariaDB client package) run on a file for the
 * tool's groups, and an option written as it prints one.
 */
#ifndef TESTS_SUPPORT_PRINTDEFAULTS_H
#define TESTS_SUPPORT_PRINTDEFAULTS_H

#include <string>

/* What my_print_defaults prints for the file at path and the groups the tool reads: one
 * "--name=value" line per option, nothing when the client refuses the file. It may run
 * for at most 10 seconds; *ran is false when it could not be run or did not end. */
std::string print_defaults(const std::string &path, bool *ran);

/* An option (value null: a line without "=") as my_print_defaults prints it. */
std::string printed_option(const char *name, const char *value);

#endif
