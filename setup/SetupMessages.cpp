#include "setup/SetupMessages.h"

#include <boost/format.hpp>

#include "setup/UiText.h"

ProgressReport::ProgressReport(std::int32_t percentDone, std::wstring_view line)
    : percent(percentDone), text(line.substr(0, kTextCapacity - 2)) {}

SetupMessage makeProgressMessage(std::int32_t percent, std::wstring_view text) {
    return {WM_SETUP_PROGRESS, std::make_unique<ProgressReport>(percent, text)};
}

std::wstring progressText(std::int32_t percent) {
    return (boost::wformat(L"%s: %i%%") % uiText(11) % percent).str();
}

SetupMessage makeStatusMessage(std::unique_ptr<std::wstring> status) {
    return {WM_SETUP_STATUS, std::move(status)};
}

SetupMessage makeFinishMessage() { return {WM_SETUP_FINISH, std::monostate{}}; }
