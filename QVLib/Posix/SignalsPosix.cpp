/*
 * SignalsPosix: the stop handler on SIGTERM, SIGINT and SIGHUP.
 *
 * The three signals share one sigaction handler that blocks the others while it runs,
 * so that the handler speaks once; it then ends the process with _exit(128 + signal).
 * SIGXFSZ is ignored: a write beyond RLIMIT_FSIZE fails with EFBIG instead.
 */
#include "QVLib/QVsignals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

static std::atomic<QVStopHandler> g_stop_handler{nullptr};

static const struct {
    int number;
    const char *name;
} g_stops[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};

static void on_stop_signal(int number)
{
    QVStopHandler handler = g_stop_handler.load();
    for (const auto &stop : g_stops)
        if (stop.number == number && handler != nullptr)
            handler(stop.name);
    _exit(128 + number);
}

unsigned qv_stop_handler_install(QVStopHandler handler)
{
    g_stop_handler.store(handler);
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    for (const auto &stop : g_stops)
        sigaddset(&action.sa_mask, stop.number);
    unsigned status = 0;
    for (const auto &stop : g_stops)
        if (sigaction(stop.number, &action, nullptr) != 0)
            status = 1;
    if (signal(SIGXFSZ, SIG_IGN) == SIG_ERR)
        status = 1;
    return status;
}

/* A signal interrupts the thread it is delivered to. */
bool qv_stop_runs_alongside(void)
{
    return false;
}
