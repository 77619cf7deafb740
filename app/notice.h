#pragma once

#include <windows.h>

#include <string_view>

namespace quenvar::app {

// A modal message box owned by `owner`: the text, the application title, one OK button and no
// icon. Returns when the user dismisses it.
void showNotice(HWND owner, std::wstring_view text);

}  // namespace quenvar::app
