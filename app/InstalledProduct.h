#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Whether the "Reel Box" product is installed on this machine, read from its
// machine-wide uninstall entry. Constructing one performs the whole probe
// (entry, both values, then the executable); every failure leaves installed
// false, and nothing is reported or thrown.
struct InstalledProduct {
    // Name of the product's uninstall entry and of its executable.
    static constexpr const char kRegistryName[] = "ReelBox";
    static constexpr const wchar_t kExecutableName[] = L"reelbox.exe";
    // A value is read into a buffer of this many UTF-16 units, its
    // terminating NUL included; a longer value fails the read.
    static constexpr std::size_t kValueBufferUnits = 512;

    InstalledProduct();

    std::wstring exePath() const { return m_exePath; }

    // The entry has both values and something exists at exePath().
    bool installed = false;
    std::wstring installLocation;
    // Only its presence counts.
    std::wstring displayVersion;

private:
    // installLocation, the path separator ("\\" on Windows, "/" elsewhere)
    // and the executable name; empty unless both values were read.
    std::wstring m_exePath;
};

// The text a stored entry value reads as: taken up to its first NUL; empty
// optional when it does not fit kValueBufferUnits UTF-16 units with its NUL.
std::optional<std::wstring> readEntryValueText(std::string_view stored);
