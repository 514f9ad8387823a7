#pragma once

// The layouts of the program's two windows in dialog units (a quarter of the
// font's average character width horizontally, an eighth of its height
// vertically). The front ends scale them to their own font.

namespace resources {

struct DialogRect {
    int x;
    int y;
    int width;
    int height;
};

// The progress window: a status line, a progress line and a bar, no buttons.
namespace progress_dialog {
inline constexpr int kWidth = 199;
inline constexpr int kHeight = 42;
inline constexpr int kFontPoints = 10;
inline constexpr DialogRect kProgressBar{9, 28, 176, 7};
inline constexpr DialogRect kProgressText{9, 19, 175, 8};
inline constexpr DialogRect kStatusText{9, 6, 176, 8};
}  // namespace progress_dialog

// The program's message box: a word-wrapped message and up to two buttons.
namespace message_box {
inline constexpr int kWidth = 195;
inline constexpr int kHeight = 66;
inline constexpr int kFontPoints = 8;
inline constexpr DialogRect kFirstButton{17, 47, 76, 14};
inline constexpr DialogRect kSecondButton{99, 47, 77, 14};
inline constexpr DialogRect kMessage{7, 7, 181, 36};
}  // namespace message_box

}  // namespace resources
