#pragma once

#include <string>

// What a stub will read from its settings block, as the text
// `websetup-stamp --show` prints: one "key=value" line per setting in key
// order, the value decoded, both as UTF-8, and put between quotes with C-style
// escapes (\", \\, \t, \n, \r, \xHH) when it holds a quote, a backslash or a
// control character or begins or ends with a blank; or, when the stub reads no
// settings, a line saying whether the file ends with an empty block or has
// none. A blank line and describeInstallerLaunch for this build's product
// follow. Throws StampIoError when the file cannot be read.
std::string describeSettings(const std::string& path);
