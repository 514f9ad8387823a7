#pragma once

#include <chrono>
#include <functional>

namespace testsupport {

// Polls `done` every few milliseconds until it holds or `timeout` has
// passed; returns its last answer. Tests wait with this instead of sleeping:
// a slow machine only makes them slower, never wrong.
bool waitFor(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::seconds(120));

}  // namespace testsupport
