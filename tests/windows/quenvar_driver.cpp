#include "quenvar_driver.h"

#include <cstring>

#include "form1_window.h"

namespace quenvar::e2e {
namespace {

constexpr const wchar_t* kHeldEvent = L"Local\\Quenvar.e2e.clipboard-held";
constexpr const wchar_t* kReleaseEvent = L"Local\\Quenvar.e2e.clipboard-release";

bool openClipboardRetrying(HWND owner) {
  return waitUntil([&] { return OpenClipboard(owner) != FALSE; }, std::chrono::seconds(5));
}

BOOL CALLBACK collectNotice(HWND window, LPARAM data) {
  auto* found = reinterpret_cast<std::pair<HWND, HWND>*>(data);
  if (IsWindowVisible(window) && className(window) == L"#32770" &&
      GetWindow(window, GW_OWNER) == found->first) {
    found->second = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

Settings& settings() {
  static Settings s;
  return s;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done())
      return true;
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    Sleep(20);
  }
}

std::wstring windowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
    return L"<no answer>";
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, 5000, &copied);
  text.resize(copied);
  return text;
}

std::wstring className(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

RECT rectInClient(HWND control, HWND parent) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

QuenvarProcess::QuenvarProcess() {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  std::wstring commandLine = L"\"" + settings().exePath + L"\"";
  if (!CreateProcessW(settings().exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &process_)) {
    return;
  }
  WaitForInputIdle(process_.hProcess, 10000);
  waitUntil([&] {
    HWND candidate = nullptr;
    while ((candidate = FindWindowExW(nullptr, candidate, ui::kForm1ClassName, nullptr)) !=
           nullptr) {
      DWORD pid = 0;
      GetWindowThreadProcessId(candidate, &pid);
      if (pid == process_.dwProcessId && IsWindowVisible(candidate)) {
        form_ = candidate;
        return true;
      }
    }
    return false;
  });
}

QuenvarProcess::~QuenvarProcess() {
  if (process_.hProcess == nullptr)
    return;
  if (running()) {
    // A test that failed midway may leave a notice open; close it so Form1 can close.
    for (int i = 0; i < 5 && findNotice() != nullptr; ++i)
      PostMessageW(findNotice(), WM_COMMAND, IDOK, 0);
    if (form_ != nullptr)
      PostMessageW(form_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0)
      TerminateProcess(process_.hProcess, 99);
  }
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

bool QuenvarProcess::running() const {
  return process_.hProcess != nullptr && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

DWORD QuenvarProcess::closeAndWait() {
  PostMessageW(form_, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0)
    return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process_.hProcess, &code);
  return code;
}

HWND QuenvarProcess::focus() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(process_.dwThreadId, &info))
    return nullptr;
  return info.hwndFocus;
}

void QuenvarProcess::pressKey(HWND target, UINT virtualKey) {
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)) << 16;
  PostMessageW(target, WM_KEYDOWN, virtualKey, scan | 1);
  PostMessageW(target, WM_KEYUP, virtualKey, scan | 1 | (1u << 30) | (1u << 31));
}

void QuenvarProcess::type(HWND target, std::wstring_view text) {
  for (wchar_t c : text)
    PostMessageW(target, WM_CHAR, c, 1);
}

void QuenvarProcess::clickIn(HWND target) {
  const LPARAM at = MAKELPARAM(8, 8);
  PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(target, WM_LBUTTONUP, 0, at);
}

void QuenvarProcess::click(ui::ControlId button) {
  // Posted, not sent: the click opens a modal notice and would block the driver.
  PostMessageW(control(button), BM_CLICK, 0, 0);
}

void QuenvarProcess::setText(ui::ControlId box, const std::wstring& text) {
  SendMessageTimeoutW(control(box), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                      SMTO_ABORTIFHUNG, 5000, nullptr);
}

HWND QuenvarProcess::findNotice() const {
  std::pair<HWND, HWND> found{form_, nullptr};
  EnumWindows(collectNotice, reinterpret_cast<LPARAM>(&found));
  return found.second;
}

std::optional<Notice> QuenvarProcess::takeNotice(std::chrono::milliseconds timeout) {
  HWND box = nullptr;
  if (!waitUntil([&] { return (box = findNotice()) != nullptr; }, timeout))
    return std::nullopt;
  // The message text is drawn by a static control with the id 0xFFFF.
  waitUntil([&] { return GetDlgItem(box, 0xFFFF) != nullptr; }, std::chrono::seconds(2));
  Notice notice;
  notice.box = box;
  notice.caption = windowText(box);
  notice.text = windowText(GetDlgItem(box, 0xFFFF));
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child))
      continue;
    const std::wstring kind = className(child);
    if (kind == L"Button") {
      ++notice.visibleButtons;
      if (GetDlgCtrlID(child) == IDOK)
        ++notice.okButtons;
    }
    // Wine keeps an icon control in every message box; it holds an icon only when one is shown.
    DWORD_PTR icon = 0;
    if (kind == L"Static" && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon) && icon != 0) {
      notice.hasIcon = true;
    }
  }
  const HWND ok = GetDlgItem(box, IDOK);
  PostMessageW(ok != nullptr ? ok : box, ok != nullptr ? BM_CLICK : WM_CLOSE, 0, 0);
  waitUntil([&] { return !IsWindow(box); }, std::chrono::seconds(5));
  return notice;
}

bool QuenvarProcess::noNotice(std::chrono::milliseconds quiet) {
  return !waitUntil([&] { return findNotice() != nullptr; }, quiet);
}

int QuenvarProcess::noticesOpen() const {
  int count = 0;
  for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
    if (IsWindowVisible(w) && className(w) == L"#32770" && GetWindow(w, GW_OWNER) == form_)
      ++count;
  }
  return count;
}

bool QuenvarProcess::waitForNotice(std::chrono::milliseconds timeout) const {
  return waitUntil([&] { return findNotice() != nullptr; }, timeout);
}

ClipboardUser::ClipboardUser()
    : owner_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                             nullptr)),
      privateFormat_(RegisterClipboardFormatW(L"Quenvar.e2e.earlier-copy")) {}

ClipboardUser::~ClipboardUser() {
  if (owner_ != nullptr)
    DestroyWindow(owner_);
}

bool ClipboardUser::put(const std::wstring& text) {
  auto block = [](const void* data, std::size_t bytes) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory != nullptr) {
      std::memcpy(GlobalLock(memory), data, bytes);
      GlobalUnlock(memory);
    }
    return memory;
  };
  if (!openClipboardRetrying(owner_))
    return false;
  const char marker[] = "earlier";
  const bool ok =
      EmptyClipboard() &&
      SetClipboardData(CF_UNICODETEXT, block(text.c_str(), (text.size() + 1) * sizeof(wchar_t))) &&
      SetClipboardData(privateFormat_, block(marker, sizeof(marker)));
  CloseClipboard();
  return ok;
}

std::optional<std::wstring> ClipboardUser::text() const {
  if (!openClipboardRetrying(owner_))
    return std::nullopt;
  std::optional<std::wstring> result;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      result = std::wstring(chars);
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return result;
}

bool ClipboardUser::hasPrivateFormat() const {
  return IsClipboardFormatAvailable(privateFormat_) != FALSE;
}

ClipboardHolder::ClipboardHolder()
    : held_(CreateEventW(nullptr, TRUE, FALSE, kHeldEvent)),
      release_(CreateEventW(nullptr, TRUE, FALSE, kReleaseEvent)) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --hold-clipboard";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if (CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &process_)) {
    holding_ = WaitForSingleObject(held_, 10000) == WAIT_OBJECT_0;
  }
}

void ClipboardHolder::release() {
  SetEvent(release_);
  if (process_.hProcess != nullptr)
    WaitForSingleObject(process_.hProcess, 5000);
}

ClipboardHolder::~ClipboardHolder() {
  release();
  if (process_.hProcess != nullptr) {
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  CloseHandle(held_);
  CloseHandle(release_);
}

int holdClipboardMain() {
  const HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, kHeldEvent);
  const HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, kReleaseEvent);
  if (held == nullptr || release == nullptr || !openClipboardRetrying(nullptr))
    return 1;
  SetEvent(held);
  WaitForSingleObject(release, 30000);
  CloseClipboard();
  return 0;
}

}  // namespace quenvar::e2e
