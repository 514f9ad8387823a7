#pragma once

#include <string>

// What a stub will read from its settings block, as the text
// `websetup-stamp --show` prints: one "key=value" line per setting in key
// order, the value decoded, both as UTF-8, and put between quotes with C-style
// escapes (\", \\, \t, \n, \r, \xHH) when it holds a quote, a backslash or a
// control character or begins or ends with a blank; or, when the stub reads no
// settings, a line saying whether the file ends with an empty block or has
// none. The signature item is not a setting: a signed block gets one more
// line saying by which key id it is signed and, when stampKey (a minisign
// public key line) is given, whether the signature holds for that key, which
// is whether a stub built with it believes the block; with stampKey, an
// unsigned block is said to be so. A blank line and describeInstallerLaunch
// for this build's product follow, with the settings a stub built with
// stampKey runs with. Throws StampIoError when the file cannot be read.
std::string describeSettings(const std::string& path, const std::string& stampKey);
