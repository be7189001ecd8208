#pragma once

// Ctrl-C (SIGINT), SIGTERM and SIGHUP, and on Windows Ctrl-C, Ctrl-Break and
// closing the console, ask the run to stop before its next image. A second
// Ctrl-C ends the program at once, as it would without this.
namespace interrupt {

// Installs the handlers while it lives.
class Watch
{
public:
    Watch();
    ~Watch();
    Watch(const Watch &) = delete;
    Watch &operator=(const Watch &) = delete;

    // Whether a stop was asked for.
    static bool requested();
    // The exit status that tells it: 128 + the signal's number (130 for Ctrl-C).
    static int exitStatus();
};

} // namespace interrupt
