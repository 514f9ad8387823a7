#pragma once

#include <memory>

#include "platform/DialogHost.h"

namespace platform {

// The GTK 3 front end: the progress window and the boxes as GTK windows laid
// out after their dialog-unit templates. Initialises GTK on the calling
// thread, which becomes the interface thread; nullptr when GTK cannot start
// (no display reachable).
std::unique_ptr<DialogHost> createGtkDialogHost();

}  // namespace platform
