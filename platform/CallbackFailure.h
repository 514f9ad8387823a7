#pragma once

#include <exception>
#include <utility>

#include "platform/DialogHost.h"

namespace platform {

// A front end's callbacks are called from its toolkit's C code, which an
// exception must not unwind through. The first exception is kept, the modal
// run is ended, and runModal rethrows it on the interface thread.
class CallbackFailure {
public:
    template <typename Host, typename Function>
    void guard(Host& host, Function&& function) {
        try {
            std::forward<Function>(function)();
        } catch (...) {
            if (!m_failure) m_failure = std::current_exception();
            host.endModal(kSecondButtonResult);
        }
    }

    // At the end of a modal run: rethrows what a callback threw, once.
    void rethrow() {
        if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
    }

private:
    std::exception_ptr m_failure;
};

}  // namespace platform
