#include "platform/DialogHostFactory.h"

#include <cstdlib>

#include "platform/gtk/GtkDialogHost.h"
#include "platform/term/TerminalDialogHost.h"

namespace platform {
namespace {

bool named(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

}  // namespace

std::unique_ptr<DialogHost> createDialogHost() {
    if (named("DISPLAY") || named("WAYLAND_DISPLAY")) {
        if (auto host = createGtkDialogHost()) return host;
    }
    return createTerminalDialogHost();
}

}  // namespace platform
