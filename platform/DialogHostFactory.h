#pragma once

#include <memory>

#include "platform/DialogHost.h"

namespace platform {

// The GTK front end when a display is named (DISPLAY or WAYLAND_DISPLAY) and
// GTK starts on it; the terminal front end otherwise. On Windows, the Win32
// front end. The calling thread becomes the interface thread. Null when the
// platform's interface services cannot be prepared: the process then ends
// without showing anything.
std::unique_ptr<DialogHost> createDialogHost();

}  // namespace platform
