// Drives the real Quenvar.exe from another process: starts it, finds its window and controls,
// types, clicks and presses keys, and reads and dismisses its notices.
#pragma once

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

#include "desktop.h"

namespace quenvar::e2e {

using desktop::className;
using desktop::Notice;
using desktop::rectInClient;
using desktop::waitUntil;
using desktop::windowText;

struct Settings {
  std::wstring exePath;  // Windows form of the path to Quenvar.exe
  int dpi = 96;          // the DPI the prefix is set up for
};
Settings& settings();

class QuenvarProcess {
 public:
  QuenvarProcess();  // starts Quenvar.exe and waits for Form1
  ~QuenvarProcess();
  QuenvarProcess(const QuenvarProcess&) = delete;
  QuenvarProcess& operator=(const QuenvarProcess&) = delete;

  HWND form() const { return form_; }
  template <typename Id>
  HWND control(Id id) const {
    return GetDlgItem(form_, static_cast<int>(id));
  }
  bool running() const;
  DWORD exitCode() const;  // STILL_ACTIVE while it runs
  DWORD closeAndWait();    // exit code, or STILL_ACTIVE when it did not end

  HWND focus() const;
  // Posted messages, which need no foreground window.
  void pressKey(HWND target, UINT virtualKey);
  void type(HWND target, std::wstring_view text);
  void clickIn(HWND target);  // left button down and up inside the control
  template <typename Id>
  void click(Id button) {
    // Posted, not sent: the click opens a modal notice and would block the driver.
    PostMessageW(control(button), BM_CLICK, 0, 0);
  }
  template <typename Id>
  void setText(Id box, const std::wstring& text) {
    SendMessageTimeoutW(control(box), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
  }
  template <typename Id>
  std::wstring text(Id box) const {
    return windowText(control(box));
  }

  // Waits for a notice owned by Form1, reads it and presses OK.
  std::optional<Notice> takeNotice(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // True when no notice appears within `quiet`.
  bool noNotice(std::chrono::milliseconds quiet = std::chrono::milliseconds(400));
  bool waitForNotice(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  int noticesOpen() const { return static_cast<int>(desktop::noticesOwnedBy(form_).size()); }
  DWORD processId() const { return process_.dwProcessId; }

 private:
  HWND findNotice() const;
  PROCESS_INFORMATION process_{};
  HWND form_ = nullptr;
};

}  // namespace quenvar::e2e
