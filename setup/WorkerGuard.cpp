#include "setup/WorkerGuard.h"

#include <exception>

#include "downloader/DownloaderLog.h"
#include "setup/ErrorClass.h"
#include "text/TextConversion.h"

namespace {

SetupFailure internalFailure(const std::string& what) {
    SetupFailure failure{kInternalErrorText, {}};
    failure.cause.line = what;
    return failure;
}

}  // namespace

std::optional<SetupFailure> failureOf(const std::function<void()>& step) {
    std::optional<SetupFailure> failure;
    try {
        step();
        return std::nullopt;
    } catch (const ErrorClass& error) {
        failure = SetupFailure{errorText(error), error.cause};
        if (failure->cause.line.empty()) failure->cause.line = wideToUtf8(failure->boxText);
    } catch (const std::exception& error) {
        failure = internalFailure(error.what());
    } catch (...) {
        // A thread that ends with an exception would end the whole program
        // without a word to the user.
        failure = internalFailure("an exception of no standard type");
    }
    DownloaderLog::failure(failure->cause.line);
    return failure;
}
