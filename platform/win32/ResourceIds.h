#pragma once

// Identifiers of the stub's Windows resources (resources/win32/wrenkit-setup.rc.in).
namespace platform {

inline constexpr int kProgramIconId = 128;

inline constexpr int kProgressDialogId = 102;
inline constexpr int kProgressBarId = 1000;
inline constexpr int kProgressTextId = 1001;
inline constexpr int kStatusTextId = 1002;

inline constexpr int kMessageBoxId = 131;
inline constexpr int kMessageTextId = 1004;

}  // namespace platform
