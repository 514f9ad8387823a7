#include "support/Sandbox.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace testsupport {

Sandbox::Sandbox() {
    // mkdtemp's contract on every system: a new folder of a random name that
    // only this user may enter; create_directory is false for one that exists.
    std::random_device random;
    const std::filesystem::path root = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            root / ("websetup-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            std::filesystem::permissions(candidate, std::filesystem::perms::owner_all);
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a sandbox folder in " + root.string());
}

Sandbox::~Sandbox() {
    std::error_code ignored;  // a leftover temporary folder must not fail a test
    std::filesystem::remove_all(m_path, ignored);
}

std::string Sandbox::file(std::string_view name) const { return (m_path / name).string(); }

std::string Sandbox::writeFile(std::string_view name, std::string_view content) const {
    std::string path = file(name);
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!stream.flush()) throw std::runtime_error("cannot write " + path);
    return path;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) throw std::runtime_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

}  // namespace testsupport
