#pragma once

#include <memory>

#include "platform/DialogHost.h"

namespace platform {

// The Win32 front end: the progress window and the boxes from the dialog
// templates 102 and 131 of the program's resources. Posted tasks travel as
// window messages to the progress window. The calling thread becomes the
// interface thread. Throws std::runtime_error when the window cannot be made.
std::unique_ptr<DialogHost> createWin32DialogHost();

}  // namespace platform
