#include "setup/WorkerGuard.h"

#include <exception>

#include "downloader/DownloaderLog.h"
#include "setup/ErrorClass.h"
#include "text/TextConversion.h"

std::optional<std::wstring> errorBoxTextOf(const std::function<void()>& step) {
    try {
        step();
        return std::nullopt;
    } catch (const ErrorClass& error) {
        const std::wstring text = errorText(error);
        DownloaderLog::failure(wideToUtf8(text));
        return text;
    } catch (const std::exception& error) {
        DownloaderLog::failure(error.what());
    } catch (...) {
        // A thread that ends with an exception would end the whole program
        // without a word to the user.
        DownloaderLog::failure("an exception of no standard type");
    }
    return std::wstring(kInternalErrorText);
}
