#pragma once

#include <functional>
#include <optional>
#include <string>

// The setup worker's guard. Runs step; when it throws, returns the text the
// error box shows for it: an ErrorClass its own text, anything else,
// standard exception or not, the internal error. The cause is logged
// (DownloaderLog::failure), as the box does not name it. Nothing when step returned.
std::optional<std::wstring> errorBoxTextOf(const std::function<void()>& step);
