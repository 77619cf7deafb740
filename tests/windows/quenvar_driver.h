// Drives the real Quenvar.exe from another process, as a user would: finds its window and
// controls, types, clicks, presses Tab, and reads and dismisses its notices.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "form1_layout.h"

namespace quenvar::e2e {

struct Settings {
  std::wstring exePath;  // Windows form of the path to Quenvar.exe
  int dpi = 96;          // the DPI the prefix is set up for
};
Settings& settings();

// Polls until `done` holds or the time runs out; returns whether it held.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

std::wstring windowText(HWND window);
std::wstring className(HWND window);
RECT rectInClient(HWND control, HWND parent);

struct Notice {
  HWND box = nullptr;
  std::wstring caption;
  std::wstring text;
  int visibleButtons = 0;
  int okButtons = 0;
  bool hasIcon = false;
};

class QuenvarProcess {
 public:
  QuenvarProcess();  // starts Quenvar.exe and waits for Form1
  ~QuenvarProcess();
  QuenvarProcess(const QuenvarProcess&) = delete;
  QuenvarProcess& operator=(const QuenvarProcess&) = delete;

  HWND form() const { return form_; }
  HWND control(ui::ControlId id) const { return GetDlgItem(form_, static_cast<int>(id)); }
  bool running() const;
  DWORD closeAndWait();  // exit code, or STILL_ACTIVE when it did not end

  HWND focus() const;
  void pressKey(HWND target, UINT virtualKey);
  void type(HWND target, std::wstring_view text);
  void clickIn(HWND target);  // left button down and up inside the control
  void click(ui::ControlId button);
  void setText(ui::ControlId box, const std::wstring& text);
  std::wstring text(ui::ControlId box) const { return windowText(control(box)); }

  // Waits for a notice owned by Form1, reads it and presses OK.
  std::optional<Notice> takeNotice(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // True when no notice appears within `quiet`.
  bool noNotice(std::chrono::milliseconds quiet = std::chrono::milliseconds(400));
  bool waitForNotice(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  int noticesOpen() const;

 private:
  HWND findNotice() const;
  PROCESS_INFORMATION process_{};
  HWND form_ = nullptr;
};

// The clipboard as another program sees it.
class ClipboardUser {
 public:
  ClipboardUser();
  ~ClipboardUser();
  // Replaces the clipboard with a text and a private format, as a user's earlier copy would.
  bool put(const std::wstring& text);
  std::optional<std::wstring> text() const;
  bool hasPrivateFormat() const;

 private:
  HWND owner_ = nullptr;
  UINT privateFormat_ = 0;
};

// A helper process that holds the clipboard open until released.
class ClipboardHolder {
 public:
  ClipboardHolder();  // returns once the helper holds the clipboard
  ~ClipboardHolder();
  void release();
  bool holding() const { return holding_; }

 private:
  HANDLE held_ = nullptr, release_ = nullptr;
  PROCESS_INFORMATION process_{};
  bool holding_ = false;
};

// Entry of the helper process: hold the clipboard until told to let go.
int holdClipboardMain();

}  // namespace quenvar::e2e
