#include <gtest/gtest.h>

#include <string>

#include "app/SettingKeys.h"
#include "support/Sandbox.h"

namespace {

// The README's table and the manual's SETTINGS section are written by hand
// from the list the stub and websetup-stamp --strict go by: a key added to
// the list must be added to both.
TEST(SettingKeys, EachKnownKeyIsDocumented) {
    const std::string readme = testsupport::readFile(SOURCE_DIR "/README.md");
    const std::string manual = testsupport::readFile(SOURCE_DIR "/app/wrenkit-setup.1");
    const std::string settings = manual.substr(manual.find(".SH SETTINGS"));
    for (const SettingKey& known : knownSettingKeys()) {
        const std::string key(known.key);
        EXPECT_NE(readme.find("\n| `" + key + "` |"), std::string::npos) << key;
        EXPECT_NE(settings.find("\n.TP\n.B " + key + "\n"), std::string::npos) << key;
    }
}

}  // namespace
