/*
 * SignalsWin32: the stop handler on the console's control events, for a tool attached
 * to its parent's console: Ctrl+C is named SIGINT, Ctrl+Break, the console's closing,
 * the user's logoff and the system's shutdown SIGBREAK, as the C runtime names them.
 *
 * The system calls the control handler on a thread of its own; the handler speaks once
 * (a second event waits until the process has ended) and ends the process with
 * _exit(128 + the runtime's signal number).
 */
#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

#include "QVLib/QVsignals.h"

static std::atomic<QVStopHandler> g_stop_handler{nullptr};
static std::atomic_flag g_stopping = ATOMIC_FLAG_INIT;

static BOOL WINAPI on_control_event(DWORD event)
{
    bool interrupt = event == CTRL_C_EVENT;
    if (g_stopping.test_and_set()) {
        Sleep(INFINITE); /* the first event ends the process */
        return TRUE;
    }
    QVStopHandler handler = g_stop_handler.load();
    if (handler != nullptr)
        handler(interrupt ? "SIGINT" : "SIGBREAK");
    _exit(128 + (interrupt ? SIGINT : SIGBREAK));
}

unsigned qv_stop_handler_install(QVStopHandler handler)
{
    g_stop_handler.store(handler);
    return SetConsoleCtrlHandler(on_control_event, TRUE) ? 0 : 1;
}

/* The system calls the handler on a thread of its own. */
bool qv_stop_runs_alongside(void)
{
    return true;
}
