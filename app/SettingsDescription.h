#pragma once

#include <string>

#include "app/PayloadInfo.h"

// Settings as text for people (websetup-stamp --show, the stub's --help).

// text (UTF-8) as it is, or, when it holds a quote, a backslash or a control
// character or begins or ends with a blank, between quotes with C-style
// escapes (\", \\, \t, \n, \r, \xHH): what is read is what the stub gets.
std::string visibleText(const std::string& text);

// One "key=value" line per setting in key order, the value decoded and shown
// by visibleText; a setting the stub drops is shown as dropped, with the
// reason.
std::string settingLines(const PayloadInfo& payload);
