#include "cli/interrupt.h"

#include <QtGlobal>

#include <csignal>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace interrupt {

namespace {

volatile std::sig_atomic_t caught = 0; // the signal's number, 0 for none

#ifdef Q_OS_WIN
HANDLE finished = nullptr; // set when the program is about to end

BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        caught = SIGINT;
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Windows ends the process when this returns: give the run the time
        // to stop before its next image and say so.
        caught = SIGINT;
        if (finished)
            WaitForSingleObject(finished, 4000);
        return TRUE;
    default:
        return FALSE;
    }
}
#else
struct sigaction previous[3];
constexpr int watched[3] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int signal)
{
    caught = signal;
}
#endif

} // namespace

Watch::Watch()
{
#ifdef Q_OS_WIN
    finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Once caught, the next one of the same kind ends the program.
    action.sa_flags = SA_RESETHAND;
    for (int i = 0; i < 3; ++i)
        sigaction(watched[i], &action, &previous[i]);
#endif
}

Watch::~Watch()
{
#ifdef Q_OS_WIN
    SetEvent(finished);
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
#else
    for (int i = 0; i < 3; ++i)
        sigaction(watched[i], &previous[i], nullptr);
#endif
}

bool Watch::requested()
{
    return caught != 0;
}

int Watch::exitStatus()
{
    return 128 + caught;
}

} // namespace interrupt
