#include "support/Sandbox.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testsupport {

Sandbox::Sandbox() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "websetup-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a sandbox folder from " + pattern);
    }
    m_path = pattern;
}

Sandbox::~Sandbox() {
    std::error_code ignored;  // a leftover temporary folder must not fail a test
    std::filesystem::remove_all(m_path, ignored);
}

std::string Sandbox::file(std::string_view name) const { return (m_path / name).string(); }

std::string Sandbox::writeFile(std::string_view name, std::string_view content) const {
    const std::string path = file(name);
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
