#pragma once

#include <functional>
#include <optional>
#include <string>

#include "setup/FailureCause.h"

// The setup worker's guard. Runs step; when it throws, returns the failure
// the error box shows for it: an ErrorClass its own text and cause, anything
// else, standard exception or not, the internal error with what it says as
// the cause. The cause line is logged (DownloaderLog::failure). Nothing when
// step returned.
std::optional<SetupFailure> failureOf(const std::function<void()>& step);
