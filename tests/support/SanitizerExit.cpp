/*
 * SanitizerExit: the sanitizers' default options of a test program, read when the
 * program starts and inherited by its forked children; the environment's options
 * still win.
 */
#include "tests/support/SanitizerExit.h"

extern "C" const char *__asan_default_options(void)
{
    return QV_SANITIZER_EXIT_OPTION;
}

extern "C" const char *__lsan_default_options(void)
{
    return QV_SANITIZER_EXIT_OPTION;
}

extern "C" const char *__ubsan_default_options(void)
{
    return QV_SANITIZER_EXIT_OPTION;
}
