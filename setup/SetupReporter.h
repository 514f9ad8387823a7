#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "setup/SetupMessages.h"

// What the setup flow is given to report through and to learn of a stop:
// the progress dialog in the program, a fake in the flow's tests. Every
// operation may be called from the setup worker thread.
class SetupReporter {
public:
    // Queues a message for the dialog's handlers.
    virtual void postMessage(SetupMessage message) = 0;
    // The error box: message followed by the closing sentence, then details
    // on a line of their own when there are any; buttons "Yes" and "No".
    // Returns the box's result, or 2 without waiting further once a stop is
    // requested.
    virtual int showErrorBox(std::wstring message, std::wstring details) = 0;
    // Shows a web page in the user's browser, without waiting for it.
    virtual void openWebPage(const std::string& url) = 0;
    // The stop flag itself, for requests that end when it turns true. It
    // lives as long as the reporter.
    virtual const std::atomic<bool>& stopFlag() const = 0;
    // Sleeps until a stop is requested or the time is up; returns
    // stopRequested().
    virtual bool waitForStop(std::chrono::milliseconds timeout) = 0;

    bool stopRequested() const { return stopFlag(); }

protected:
    ~SetupReporter() = default;
};
