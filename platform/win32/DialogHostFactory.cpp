#include "platform/DialogHostFactory.h"

#include <windows.h>
// The headers below need the types of windows.h.
#include <commctrl.h>
#include <objbase.h>

#include "platform/win32/Win32DialogHost.h"

namespace platform {

std::unique_ptr<DialogHost> createDialogHost() {
    // The shell may use COM to start a program. Anything but S_OK, even
    // "already initialised", means the process was not started the way a
    // stub is, or is in a state the shell cannot rely on: end quietly.
    if (::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE) != S_OK) {
        return nullptr;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    ::InitCommonControlsEx(&controls);
    return createWin32DialogHost();
}

}  // namespace platform
