// The window class of Form1: how other programs, and the tests that drive Quenvar, find it.
#pragma once

namespace quenvar::ui {

inline constexpr const wchar_t* kForm1ClassName = L"Quenvar.Form1";

}  // namespace quenvar::ui
