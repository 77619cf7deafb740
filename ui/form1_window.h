#pragma once

#include <windows.h>

#include <memory>

#include "clipboard_win32.h"
#include "form1_class_name.h"

namespace quenvar::ui {

class Form1;
struct Form1Deleter {
  void operator()(Form1* form) const;
};
// Owns Form1's state and its window. The window procedure only borrows the state and lets go of
// it when the window is destroyed, so the state outlives every handler, including one whose
// notice was open when the window went.
using Form1Owner = std::unique_ptr<Form1, Form1Deleter>;

// Creates Form1 with its controls, laid out for the DPI of the monitor it opens on, and shows
// it. Returns null when the window could not be created. `clipboard` is the system's except in
// tests.
Form1Owner createForm1(HINSTANCE instance, int showCommand,
                       const ClipboardApi& clipboard = systemClipboard());

// Form1's window; null once it has been destroyed.
HWND form1Window(const Form1& form);

}  // namespace quenvar::ui
