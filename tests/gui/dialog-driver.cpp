// Runs the progress dialog on the front end the environment selects, with a
// scripted worker in place of the setup flow, for the window and terminal
// tests:
//   dialog-driver            status line, then one per cent per step, never done
//   dialog-driver --error    the error box first, then the finish message;
//                            also posts a task from another thread before the
//                            modal run starts, which must run on this thread
//   dialog-driver --complete one per cent per step up to 52%, then the download
//                            completes, as when the last parts arrive at once
// Prints "worker stopped" when the worker saw the stop request and
// "result=N" with the dialog's result.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "platform/DialogHostFactory.h"
#include "setup/CUpdateProgressDlg.h"
#include "setup/FailureCause.h"
#include "setup/UiText.h"
#include "websetup/BuildConfig.h"

int main(int argc, char** argv) {
    const bool errorFirst = argc > 1 && std::strcmp(argv[1], "--error") == 0;
    const bool completes = argc > 1 && std::strcmp(argv[1], "--complete") == 0;
    std::atomic<bool> complete{false};
    const char* step = std::getenv("DRIVER_STEP_MS");
    const auto stepTime = std::chrono::milliseconds(step ? std::strtol(step, nullptr, 10) : 200);

    CUpdateProgressDlg::Hooks hooks;
    hooks.isDownloadComplete = [&complete] { return complete.load(); };
    hooks.launchInstaller = [](SetupReporter&) { std::puts("installer launched"); };
    hooks.runSetup = [errorFirst, completes, stepTime, &complete](SetupReporter& reporter,
                                                                  const StubSettings&) {
        if (errorFirst) {
            // As the flow words a host that cannot be resolved.
            reporter.showErrorBox(
                L"Download Error (system code: 6). ",
                boxDetails(connectionFailure("https://downloads.wrenkit.example/app/download", 6,
                                             "Could not resolve host"),
                           "https://www.wrenkit.example/download",
                           "/tmp/websetup-1000/websetup.log"));
            reporter.postMessage(makeFinishMessage());
            return;
        }
        reporter.postMessage(makeStatusMessage(std::make_unique<std::wstring>(uiText(10))));
        for (int percent = 1; !reporter.waitForStop(stepTime); percent = percent % 99 + 1) {
            reporter.postMessage(makeProgressMessage(percent, progressText(percent)));
            if (completes && percent == 52) {
                complete = true;
                reporter.postMessage(makeProgressMessage(100, L""));
            }
        }
        std::puts("worker stopped");
    };

    const auto host = platform::createDialogHost();
    if (errorFirst) {
        // A worker may post before the interface thread has entered its modal
        // run; the task must wait for that run instead of being lost or run
        // on the worker.
        const std::thread::id interfaceThread = std::this_thread::get_id();
        std::thread early([&host, interfaceThread] {
            host->post(platform::makePostedTask([interfaceThread] {
                if (std::this_thread::get_id() == interfaceThread) {
                    std::puts("early task ran on the interface thread");
                }
            }));
        });
        early.join();
    }
    int result = 0;
    {
        const StubSettings settings = StubSettings::read(buildconfig::kProductKey, {});
        CUpdateProgressDlg dialog(*host, settings, hooks);
        result = dialog.DoModal();
    }
    std::printf("result=%d\n", result);
    return 0;
}
