#pragma once

#include <memory>

#include "platform/DialogHost.h"

namespace platform {

// The front end without a display: the window's lines go to stderr (a bar
// redrawn in place on a terminal, a line per change of percent otherwise),
// Ctrl-C is the close request, and boxes are printed and answered on stdin.
// The calling thread becomes the interface thread.
std::unique_ptr<DialogHost> createTerminalDialogHost();

}  // namespace platform
