// A publisher's own catalogue file, with a product that ours does not list:
// the stub configured and built from it (in a build tree of its own, the stub
// alone) carries that product's name, file name and icon, downloads from the
// product's host and starts its installer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "StubRun.h"
#include "support/Process.h"
#include "support/Sandbox.h"
#include "support/TestServers.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Endpoint;
using testsupport::TestServers;

// A 1 x 1 PNG image: the product's own icon, unlike the default one.
const std::string kProductIcon(
    "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89"
    "\0\0\0\nIDATx\x9c"
    "c\0\x01\0\0\x05\0\x01\r\n-\xb4\0\0\0\0IEND\xae"
    "B`\x82",
    67);

testsupport::ProcessResult runChecked(const std::vector<std::string>& command) {
    auto result = testsupport::runProcess(command);
    EXPECT_EQ(result.exitCode, 0) << command.at(1) << ":\n" << result.out << result.err;
    return result;
}

TEST(CatalogueBuild, PublishersOwnProductInstallsFromItsHost) {
    const TestServers servers;
    const e2e::StubMachine machine;
    const testsupport::Sandbox work;

    const std::string installer = e2e::fakeInstaller(1300000);
    const std::string installerName = "catalogue-" + std::to_string(::getpid()) + ".exe";
    servers.writeServedFile(installerName, installer);
    work.writeFile("notes.png", kProductIcon);
    // The display name holds what a C++ literal or a CMake list would trip on,
    // and letters beyond ASCII.
    const std::string displayName = "Acme \"Notes\"; [beta] \\ ?\?= Заметки";
    const std::vector<std::pair<std::string, std::string>> fields{
        {"id", "1"},
        {"key", "acmenotes"},
        {"display-name", displayName},
        {"file-stem", "acme_notes"},
        {"host", servers.url(Endpoint::Https, "")},
        {"path", "/files/" + installerName},
        {"manual-page", "https://www.acme.example/notes"},
        {"stub-name", "acme-notes-setup"},
        {"icon-png", "notes.png"},
    };
    std::string text = "# A publisher's catalogue\n[product]\n";
    for (const auto& [name, value] : fields) text += name + " = " + value + "\n";
    const std::string catalogue = work.writeFile("catalogue.txt", text);

    const std::string build = work.file("build");
    runChecked({CMAKE_COMMAND_PATH, "-S", PROJECT_SOURCE_DIR, "-B", build, "-G",
                CMAKE_GENERATOR_NAME, std::string("-DCMAKE_CXX_COMPILER=") + CXX_COMPILER_PATH,
                std::string("-DCMAKE_C_COMPILER=") + C_COMPILER_PATH, "-DWEBSETUP_BUILD_TESTS=OFF",
                "-DWEBSETUP_CATALOGUE=" + catalogue, "-DWEBSETUP_PRODUCT_KEY=acmenotes",
                "-DWEBSETUP_CA_BUNDLE=" + servers.caBundle(),
                "-DWEBSETUP_PROBE_URL=" + servers.url(Endpoint::Http, "/files/1.bin")});
    runChecked(
        {CMAKE_COMMAND_PATH, "--build", build, "--target", "websetup-stub", "--parallel", "2"});

    const std::string stub = build + "/app/acme-notes-setup";
    ASSERT_TRUE(fs::exists(stub)) << "the stub is named after the catalogue row";
    const std::string stubBytes = testsupport::readFile(stub);
    EXPECT_NE(stubBytes.find(kProductIcon), std::string::npos) << "the product's icon is embedded";

    const auto result = machine.run(machine.stamped(stub, {"partnerId=12"}), {});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find(displayName), std::string::npos) << result.err;
    EXPECT_EQ(machine.installerRuns(), std::vector<std::vector<std::string>>{{"/partnerId=12"}})
        << result.err;
    EXPECT_EQ(testsupport::readFile(machine.privateFolder() + "/acme_notes_.exe"), installer);
}

}  // namespace
