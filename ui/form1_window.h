#pragma once

#include <windows.h>

namespace quenvar::ui {

inline constexpr const wchar_t* kForm1ClassName = L"Quenvar.Form1";

// Creates Form1 with its controls, laid out for the DPI of the monitor it opens on, and shows
// it. Returns nullptr when the window could not be created.
HWND createForm1(HINSTANCE instance, int showCommand);

}  // namespace quenvar::ui
