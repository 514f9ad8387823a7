#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything
// in it by the destructor. Each test that touches files makes its own.
class Sandbox {
public:
    Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;
    ~Sandbox();

    const std::filesystem::path& path() const { return m_path; }

    // Path of name inside the sandbox, as narrow text.
    std::string file(std::string_view name) const;

    // Writes content (binary) to name inside the sandbox and returns its path.
    std::string writeFile(std::string_view name, std::string_view content) const;

private:
    std::filesystem::path m_path;
};

// The whole content of a file (binary); throws std::runtime_error when it
// cannot be read.
std::string readFile(const std::filesystem::path& path);

}  // namespace testsupport
