/*
 * QVsignals: what the process does when the user or the system asks it to stop while
 * it works (SIGTERM, SIGINT and SIGHUP on Linux; a console control event on Windows).
 *
 * One handler is called with the name of the request ("SIGTERM"). It runs where the
 * request interrupted the program, so it may make only async-signal-safe calls: no
 * allocation, no lock, no formatting function. When it returns, the process ends at
 * once, without exit handlers, with the status 128 + the signal number (as a shell
 * reports a process ended by that signal).
 *
 * The platform file implements it: QVLib/Posix/SignalsPosix.cpp, QVLib/Win32/
 * SignalsWin32.cpp.
 */
#ifndef QVLIB_QVSIGNALS_H
#define QVLIB_QVSIGNALS_H

/* Says, with async-signal-safe calls only, that a request named stop_name ends the
 * process. */
typedef void (*QVStopHandler)(const char *stop_name);

/* Installs handler for every stop request, in place of the default (ending without a
 * word). A write beyond the size a file may have then fails with EFBIG instead of
 * ending the process, so that the log can say so. Returns 0, or 1 when the platform
 * refused. */
unsigned qv_stop_handler_install(QVStopHandler handler);

/* True where the handler runs on a thread of its own while the program goes on
 * (Windows), so that it must take the locks other writers take; false where it
 * interrupts the program (POSIX), so that it must take none. */
bool qv_stop_runs_alongside(void);

#endif
