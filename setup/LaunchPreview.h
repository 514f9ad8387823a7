#pragma once

#include <string>

#include "app/PayloadInfo.h"

// How a stub of product productKey would start its installer with these
// stamped settings, as text for people: the parameter text exactly as the
// stub builds it (installerParameters), the arguments the installer's
// start-up splits it into (one line each, shown by visibleText), and the
// keys the stub does not know, which it passes through. Throws nothing: a
// product key the catalogue does not know is said so in the text.
std::string describeInstallerLaunch(const std::string& productKey, const PayloadInfo& payload);
