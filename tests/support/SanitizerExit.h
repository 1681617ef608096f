/*
 * SanitizerExit: the exit status that the sanitizers give the programs the tests start
 * (a leak, an address or undefined-behaviour error), so that a leak on a failing run
 * can never pass as the run's own exit status 1. Programs started with exec get it in
 * their environment (RunProgram); test programs whose forked children are the runs
 * link SanitizerExit.cpp, which sets it as the sanitizers' default.
 */
#ifndef TESTS_SUPPORT_SANITIZEREXIT_H
#define TESTS_SUPPORT_SANITIZEREXIT_H

#define QV_SANITIZER_EXIT_CODE 86
#define QV_SANITIZER_EXIT_OPTION "exitcode=86"

#endif
