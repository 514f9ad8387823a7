#include "platform/ProgramText.h"

#include <cstdio>

namespace platform {

void showProgramText(const std::string& /*caption*/, const std::string& text) {
    // Nothing to do about a closed or full standard output: the text was
    // asked for there.
    (void)std::fwrite(text.data(), 1, text.size(), stdout);
    (void)std::fflush(stdout);
}

}  // namespace platform
