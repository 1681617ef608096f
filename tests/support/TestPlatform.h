/*
 * TestPlatform: the little the test helpers need from the operating system, one file per
 * platform (TestPlatformPosix.cpp, TestPlatformWin32.cpp), so that the helpers and the
 * tests that use them are shared by the Linux and the Windows builds.
 */
#ifndef TESTS_SUPPORT_TESTPLATFORM_H
#define TESTS_SUPPORT_TESTPLATFORM_H

#include <cstdio>
#include <cstdint>
#include <string>

/* Makes a new, empty directory named after prefix in the system's folder for temporary
 * files and returns its path; throws std::runtime_error when it cannot. */
std::string make_temp_dir(const char *prefix);

/* Opens a new temporary file for reading and writing, which disappears when closed;
 * returns its descriptor, -1 on failure. Text written to it through a descriptor it is
 * duplicated onto reads back with "\n" line ends. */
int open_temp_file();

/* The same as a stream for writing and reading back (rewind it first); null on failure.
 * The caller closes it. */
FILE *open_temp_stream();

/* Sets the environment variable name to value, or removes it when value is null. */
void set_env(const char *name, const char *value);

/* Lets users other than the file's owner write the file at path (mode 0606; on Windows
 * an entry for Everyone in its access list). Returns false when it cannot. */
bool let_others_write(const std::string &path);

/* The calling thread's id as the system knows it (the kernel's, GetCurrentThreadId). */
uint32_t system_thread_id();

/* Waits until the thread id (system_thread_id), or the process id, is blocked, at most
 * 10 s: a handshake with a thread that is to wait for a lock, or a program that is to
 * wait for its output or a child. Returns false when it never blocked (it ended, or ran
 * on). Linux reads its state; Windows, which shows no thread's state simply, lets it run
 * a while and answers true. */
bool wait_until_blocked(uint32_t id);

/* What the check puts before each statement to a MariaDB server to wait for a Galera
 * cluster: MariaDB has Galera's variables on Unix alone, so nothing on Windows. */
extern const char CHECK_WAIT[];

#endif
