// Form1 created in this process, where its fonts, colours, clipboard calls and lifetime can be
// seen.
#include <gtest/gtest.h>

#include <malloc.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "application.h"
#include "desktop.h"
#include "form1_layout.h"
#include "form1_window.h"

namespace {

namespace ui = quenvar::ui;
using namespace quenvar::desktop;
using namespace std::chrono_literals;
using quenvar::ui::ControlId;

// Catches writes to freed memory without a sanitizer: while a watch is alive, every block the
// program deletes is filled with a pattern and held back instead of being freed;
// writesAfterFree() then counts the held blocks whose pattern was disturbed. This program's
// operator delete, at the end of the file, goes through release().
class FreedMemoryWatch {
 public:
  FreedMemoryWatch() { watching(true); }
  ~FreedMemoryWatch() { watching(false); }  // frees what was held back
  FreedMemoryWatch(const FreedMemoryWatch&) = delete;
  FreedMemoryWatch& operator=(const FreedMemoryWatch&) = delete;

  std::size_t blocksHeld() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return count_;
  }
  std::size_t writesAfterFree() const {
    const std::lock_guard<std::mutex> guard(lock_);
    std::size_t disturbed = 0;
    for (std::size_t i = 0; i < count_; ++i) {
      const auto* bytes = static_cast<const unsigned char*>(held_[i].block);
      const auto* end = bytes + held_[i].size;
      disturbed += std::find_if(bytes, end, [](unsigned char b) { return b != kPattern; }) != end;
    }
    return disturbed;
  }

  static void release(void* block) {
    if (block == nullptr)
      return;
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (watching_ && count_ < std::size(held_)) {
        const std::size_t size = _msize(block);
        std::memset(block, kPattern, size);
        held_[count_++] = {block, size};
        return;
      }
    }
    std::free(block);
  }

 private:
  static void watching(bool on) {
    const std::lock_guard<std::mutex> guard(lock_);
    watching_ = on;
    for (; !on && count_ > 0; --count_)
      std::free(held_[count_ - 1].block);
  }

  static constexpr unsigned char kPattern = 0xDD;
  // Plain storage, initialised before any code runs: operator delete must not allocate.
  static inline std::mutex lock_;
  static inline bool watching_ = false;
  static inline std::size_t count_ = 0;
  static inline struct {
    void* block;
    std::size_t size;
  } held_[1u << 16];
};

// A visible window of this process with that class, once there is one within that time; or null.
HWND ownWindow(const wchar_t* className, std::chrono::milliseconds within = 0ms) {
  HWND window = nullptr;
  waitUntil([&] { return (window = visibleWindowOf(GetCurrentProcessId(), className)) != nullptr; },
            within);
  return window;
}

// Acts on a second thread, as the user and the system do, while the test's thread is inside a
// notice's modal loop or Form1's message loop. When what it waits for does not come (`act`
// returns false), it closes this process's notices and Form1, a late notice included, until the
// test is done with it, so that the test fails instead of hanging.
class OtherThread {
 public:
  explicit OtherThread(std::function<bool()> act)
      : thread_([this, act] {
          for (bool done = act(); !done && !joined_; Sleep(50)) {
            for (const wchar_t* kind : {L"#32770", ui::kForm1ClassName}) {
              if (const HWND window = ownWindow(kind))
                PostMessageW(window, WM_CLOSE, 0, 0);
            }
          }
        }) {}
  ~OtherThread() { join(); }
  void join() {
    joined_ = true;
    if (thread_.joinable())
      thread_.join();
  }

 private:
  std::atomic<bool> joined_ = false;
  std::thread thread_;
};

// Reads the next notice of this process into `seen`, sees whether it stays open for `mustStay`,
// then presses OK.
OtherThread noticeTaker(Notice& seen, bool& stayed, std::chrono::milliseconds mustStay = 0ms) {
  return OtherThread([&seen, &stayed, mustStay] {
    const HWND box = ownWindow(L"#32770", 10s);
    if (box == nullptr)
      return false;
    seen = readNotice(box);
    Sleep(static_cast<DWORD>(mustStay.count()));
    stayed = IsWindow(box) != FALSE;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return true;
  });
}

// The WM_QUIT that closing Form1 posts must not end a later test's message loop.
void drainMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

class Form1InProcess : public testing::Test {
 protected:
  void SetUp() override { create(ui::systemClipboard()); }
  void TearDown() override {
    owner.reset();
    drainMessages();
  }
  void create(const ui::ClipboardApi& clipboard) {
    owner.reset();
    drainMessages();
    owner = ui::createForm1(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE, clipboard);
    ASSERT_TRUE(owner);
    form = ui::form1Window(*owner);
  }

  HWND control(ControlId id) const { return GetDlgItem(form, static_cast<int>(id)); }

  LOGFONTW fontOf(ControlId id) const {
    LOGFONTW font{};
    const auto handle = reinterpret_cast<HFONT>(SendMessageW(control(id), WM_GETFONT, 0, 0));
    EXPECT_NE(handle, nullptr);
    GetObjectW(handle, sizeof(font), &font);
    return font;
  }

  // The colour Form1 tells Text1 to draw its text in.
  COLORREF text1Color() const {
    const HDC dc = CreateCompatibleDC(nullptr);
    SendMessageW(form, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(control(ControlId::Text1)));
    const COLORREF color = GetTextColor(dc);
    DeleteDC(dc);
    return color;
  }

  // Pixels of Text1 as drawn, counted by exact colour.
  int pixelsOfColor(COLORREF color) const {
    const auto pixels = clientPixels(control(ControlId::Text1), true);
    return static_cast<int>(std::count(pixels.begin(), pixels.end(), color));
  }

  std::wstring text(ControlId id) const { return windowText(control(id)); }

  ui::Form1Owner owner;
  HWND form = nullptr;
};

// ---- Fonts ----

const struct {
  ControlId id;
  const char* name;
  int tenthsOfPoint;  // 0: the system's message font
  bool italicAndUnderlined;
} kFonts[] = {
    {ControlId::Label1, "Label1", 120, false},   {ControlId::Label2, "Label2", 120, false},
    {ControlId::Label3, "Label3", 90, false},    {ControlId::Label4, "Label4", 75, true},
    {ControlId::Text1, "Text1", 0, false},       {ControlId::Text2, "Text2", 0, false},
    {ControlId::Command1, "Command1", 0, false}, {ControlId::Command2, "Command2", 0, false},
};

TEST_F(Form1InProcess, LabelsUseMicrosoftYaHeiAtTheirSizesTheRestTheSystemMessageFont) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
  const HDC dc = GetDC(form);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(form, dc);
  for (const auto& want : kFonts) {
    SCOPED_TRACE(want.name);
    const LOGFONTW font = fontOf(want.id);
    if (want.tenthsOfPoint == 0) {
      EXPECT_EQ(std::wstring(font.lfFaceName), std::wstring(metrics.lfMessageFont.lfFaceName));
      EXPECT_EQ(font.lfHeight, metrics.lfMessageFont.lfHeight);
      continue;
    }
    EXPECT_EQ(std::wstring(font.lfFaceName), L"微软雅黑");
    EXPECT_EQ(font.lfHeight, -MulDiv(want.tenthsOfPoint, dpi, 720));
    EXPECT_EQ(font.lfWeight, 400);
    EXPECT_EQ(font.lfCharSet, 134);
    EXPECT_EQ(font.lfItalic != 0, want.italicAndUnderlined);
    EXPECT_EQ(font.lfUnderline != 0, want.italicAndUnderlined);
    EXPECT_FALSE(font.lfStrikeOut);
  }
}

// ---- Text1's colours ----

TEST_F(Form1InProcess, HintIsDrawnInTheScrollBarColourThenTypedTextInBlack) {
  ASSERT_EQ(GetSysColor(COLOR_SCROLLBAR), RGB(200, 200, 200))
      << "the test prefix sets the Windows 10 colour";
  EXPECT_EQ(text1Color(), RGB(200, 200, 200));
  EXPECT_GT(pixelsOfColor(RGB(200, 200, 200)), 5) << "the hint is drawn in its colour";
  EXPECT_EQ(pixelsOfColor(RGB(0, 0, 0)), 0);

  SetWindowTextW(control(ControlId::Text2), L"setting Text2 changes nothing in Text1");
  EXPECT_EQ(text1Color(), RGB(200, 200, 200));

  SetWindowTextW(control(ControlId::Text1), L"typed 1234567890");
  EXPECT_EQ(text1Color(), RGB(0, 0, 0));
  EXPECT_GT(pixelsOfColor(RGB(0, 0, 0)), 5) << "typed text is drawn in black";

  SetWindowTextW(control(ControlId::Text1), L"");
  SetWindowTextW(control(ControlId::Text1), L"again");
  EXPECT_EQ(text1Color(), RGB(0, 0, 0)) << "black for good";
}

// The system colours Text1 is drawn with (window, scroll bar, grey text, window text), set for
// the life of the object.
struct Scheme {
  static constexpr int kElements[] = {COLOR_WINDOW, COLOR_SCROLLBAR, COLOR_GRAYTEXT,
                                      COLOR_WINDOWTEXT};
  explicit Scheme(const COLORREF (&colors)[4]) { SetSysColors(4, kElements, colors); }
  ~Scheme() { SetSysColors(4, kElements, saved); }
  const COLORREF saved[4] = {GetSysColor(kElements[0]), GetSysColor(kElements[1]),
                             GetSysColor(kElements[2]), GetSysColor(kElements[3])};
};

constexpr COLORREF kWhite = RGB(255, 255, 255), kBlackRgb = RGB(0, 0, 0);
constexpr COLORREF kGrey = RGB(109, 109, 109), kLight = RGB(200, 200, 200);
constexpr COLORREF kYellow = RGB(255, 255, 0);

const struct {
  const char* name;
  bool typed;  // after the first change of Text1
  COLORREF scheme[4];
  COLORREF expected;
} kSchemes[] = {
    {"hint on an ordinary scheme", false, {kWhite, kLight, kGrey, kBlackRgb}, kLight},
    {"hint where the scroll bar is white", false, {kWhite, kWhite, kGrey, kBlackRgb}, kGrey},
    {"typed text on an ordinary scheme", true, {kWhite, kLight, kGrey, kBlackRgb}, kBlackRgb},
    {"typed text on a black background", true, {kBlackRgb, kLight, kGrey, kYellow}, kYellow},
    {"hint on a black background", false, {kBlackRgb, kLight, kGrey, kYellow}, kLight},
};

TEST_F(Form1InProcess, TextColourIsNeverLostInTheBackground) {
  for (const auto& c : kSchemes) {
    SCOPED_TRACE(c.name);
    create(ui::systemClipboard());
    if (c.typed)
      SetWindowTextW(control(ControlId::Text1), L"typed");
    const Scheme scheme(c.scheme);
    EXPECT_EQ(text1Color(), c.expected);
  }
}

// ---- Clicks in Text1 and the length limit ----

TEST_F(Form1InProcess, FirstClickClearsTheHintLaterClicksKeepTheText) {
  auto leftClick = [](HWND target) {
    SendMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(target, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  };
  leftClick(control(ControlId::Text1));
  EXPECT_EQ(text(ControlId::Text1), L"");
  EXPECT_EQ(text1Color(), RGB(0, 0, 0));
  SetWindowTextW(control(ControlId::Text1), L"pasted uk=1234567890");
  leftClick(control(ControlId::Text1));
  EXPECT_EQ(text(ControlId::Text1), L"pasted uk=1234567890");
}

TEST_F(Form1InProcess, BothBoxesTakeAPastePastTheDefaultLimit) {
  // The default limit of a text box, 32767 units, applies to typing and pasting, not to
  // WM_SETTEXT.
  const std::wstring longText(40000, L'7');
  ASSERT_TRUE(ClipboardUser().put(longText));
  for (ControlId id : {ControlId::Text1, ControlId::Text2}) {
    SetWindowTextW(control(id), L"");
    SendMessageW(control(id), WM_PASTE, 0, 0);
    EXPECT_EQ(GetWindowTextLengthW(control(id)), 40000) << static_cast<int>(id);
  }
}

// ---- The clipboard refusing the copy ----

BOOL WINAPI refuseOpen(HWND) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
BOOL WINAPI refuseEmpty() {
  return FALSE;
}
HANDLE WINAPI refuseSetData(UINT, HANDLE) {
  return nullptr;
}

constexpr const wchar_t* kLink = L"http://pan.baidu.com/share/home?uk=1234567890";
constexpr const wchar_t* kBusy = L"复制失败，剪贴板暂时无法使用，请稍后重试";
constexpr const wchar_t* kFailed = L"复制失败，请稍后重试";

// The system's clipboard calls, but for one that fails.
template <typename Member, typename Call>
ui::ClipboardApi refusing(Member call, Call refusal) {
  ui::ClipboardApi api = ui::systemClipboard();
  api.*call = refusal;
  return api;
}

const struct {
  const char* name;
  const wchar_t* notice;
  const wchar_t* left;  // on the clipboard afterwards: the earlier text is gone once emptied
  ui::ClipboardApi api;
} kRefusals[] = {
    {"held by another program", kBusy, L"earlier", refusing(&ui::ClipboardApi::open, refuseOpen)},
    {"cannot be emptied", kFailed, L"earlier", refusing(&ui::ClipboardApi::empty, refuseEmpty)},
    {"refuses the text", kFailed, L"<nothing>",
     refusing(&ui::ClipboardApi::setData, refuseSetData)},
    {"takes the text", L"链接已复制到剪贴板", kLink, ui::systemClipboard()},
};

TEST_F(Form1InProcess, CopyReportsSuccessOnlyWhenTheClipboardTookTheText) {
  for (const auto& c : kRefusals) {
    SCOPED_TRACE(c.name);
    // The table is gone once Form1 has been created: Form1 must hold its own copy.
    const FreedMemoryWatch watch;
    auto table = std::make_unique<ui::ClipboardApi>(c.api);
    create(*table);
    table.reset();
    ClipboardUser clipboard;
    ASSERT_TRUE(clipboard.put(L"earlier"));
    SetWindowTextW(control(ControlId::Text2), kLink);
    Notice seen;
    bool stayed = false;
    OtherThread user = noticeTaker(seen, stayed);
    SendMessageW(control(ControlId::Command2), BM_CLICK, 0, 0);
    user.join();
    ASSERT_NE(seen.box, nullptr) << "no notice";
    EXPECT_EQ(utf8(seen.text), utf8(c.notice));
    EXPECT_EQ(utf8(clipboard.text().value_or(L"<nothing>")), utf8(c.left));
  }
}

// ---- Lifetime ----

// The whole program run in this process, the way wWinMain runs it, with a second thread acting
// as the user and the system.
const struct {
  const char* name;
  ControlId button;
  const wchar_t* notice;
} kCloseCases[] = {
    {"while the repair notice is open", ControlId::Command1, L"暂不支持此链接..."},
    {"while the copy notice is open", ControlId::Command2, L"链接已复制到剪贴板"},
};

TEST(Form1Lifetime, ClosedWhileANoticeIsOpenTheProgramEndsCleanly) {
  for (const auto& c : kCloseCases) {
    SCOPED_TRACE(c.name);
    drainMessages();
    const FreedMemoryWatch watch;
    std::wstring seenNotice;
    bool closed = false;
    OtherThread system([&] {
      const HWND form = ownWindow(ui::kForm1ClassName, 10s);
      if (form == nullptr)
        return false;
      SetWindowTextW(GetDlgItem(form, static_cast<int>(ControlId::Text2)), L"a link to copy");
      PostMessageW(GetDlgItem(form, static_cast<int>(c.button)), BM_CLICK, 0, 0);
      const HWND box = ownWindow(L"#32770", 10s);
      if (box == nullptr)
        return false;
      seenNotice = readNotice(box).text;
      // Another program's WM_CLOSE, End task, or logging off.
      closed = PostMessageW(form, WM_CLOSE, 0, 0) != FALSE;
      return true;
    });
    const int exitCode = quenvar::app::runQuenvar(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE);
    system.join();
    EXPECT_EQ(watch.writesAfterFree(), 0u) << "memory was written after it was freed";
    EXPECT_GT(watch.blocksHeld(), 0u) << "the watch saw nothing freed";
    EXPECT_EQ(utf8(seenNotice), utf8(c.notice));
    EXPECT_TRUE(closed);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(ownWindow(ui::kForm1ClassName), nullptr);
  }
}

// Windows destroys a window whose WM_CREATE failed with WM_DESTROY and then WM_NCDESTROY; Wine
// sends only WM_NCDESTROY. Form1's procedure is wrapped so that it gets what Windows sends.
WNDPROC form1Procedure = nullptr;
LRESULT CALLBACK destroyAsWindowsDoes(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = CallWindowProcW(form1Procedure, window, message, wParam, lParam);
  if (message == WM_CREATE && result == -1)
    CallWindowProcW(form1Procedure, window, WM_DESTROY, 0, 0);
  return result;
}

bool isClass(LPCWSTR name, std::wstring_view wanted) {
  if (IS_INTRESOURCE(name))
    return false;
  // Under the common controls v6 manifest system classes come versioned, "6.0...!Edit".
  const std::wstring_view full(name);
  const std::wstring_view base = full.substr(full.find(L'!') + 1);
  return CompareStringOrdinal(base.data(), static_cast<int>(base.size()), wanted.data(),
                              static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL;
}

// Fails the creation of every text box, as a system out of window resources would.
LRESULT CALLBACK failTextBoxes(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    const LPCWSTR name = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs->lpszClass;
    if (isClass(name, L"EDIT"))
      return 1;
    if (isClass(name, ui::kForm1ClassName)) {
      const auto window = reinterpret_cast<HWND>(wParam);
      form1Procedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
          window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(destroyAsWindowsDoes)));
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(Form1StartUp, AWindowThatCannotBeCreatedIsReportedUntilDismissed) {
  drainMessages();
  const HHOOK failing = SetWindowsHookExW(WH_CBT, failTextBoxes, nullptr, GetCurrentThreadId());
  ASSERT_NE(failing, nullptr);
  Notice seen;
  bool stayed = false;
  OtherThread user = noticeTaker(seen, stayed, 700ms);
  const int exitCode = quenvar::app::runQuenvar(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE);
  UnhookWindowsHookEx(failing);
  user.join();
  ASSERT_NE(seen.box, nullptr) << "no notice appeared";
  EXPECT_EQ(utf8(seen.text), "无法创建程序窗口，Quenvar 无法启动");
  EXPECT_EQ(utf8(seen.caption), "Quenvar");
  EXPECT_TRUE(stayed) << "the notice closed before the user dismissed it";
  EXPECT_EQ(exitCode, 1);
  EXPECT_EQ(ownWindow(ui::kForm1ClassName), nullptr);
}

// ---- DPI ----

int iconWidth(HWND form, WPARAM which) {
  const auto icon = reinterpret_cast<HICON>(SendMessageW(form, WM_GETICON, which, 0));
  ICONINFO info{};
  if (!GetIconInfo(icon, &info))
    return 0;
  BITMAP bitmap{};
  GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
  DeleteObject(info.hbmColor);  // null for a monochrome icon, and then nothing happens
  DeleteObject(info.hbmMask);
  return bitmap.bmWidth;
}

TEST_F(Form1InProcess, DpiChangeRelaysOutAndRecreatesFontsAndIcons) {
  for (int dpi : {144, 192, 96}) {
    SCOPED_TRACE(dpi);
    RECT suggested{40, 50, 40 + 900, 50 + 500};
    SendMessageW(form, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    RECT client{};
    GetClientRect(form, &client);
    EXPECT_EQ(client.right, MulDiv(5805, dpi, 1440));
    EXPECT_EQ(client.bottom, MulDiv(2550, dpi, 1440));
    RECT window{};
    GetWindowRect(form, &window);
    EXPECT_EQ(window.left, 40);
    EXPECT_EQ(window.top, 50);
    const RECT r = rectInClient(control(ControlId::Text2), form);
    EXPECT_EQ(r.left, MulDiv(1800, dpi, 1440));
    EXPECT_EQ(r.bottom - r.top, MulDiv(420, dpi, 1440));
    EXPECT_EQ(fontOf(ControlId::Label4).lfHeight, -MulDiv(75, dpi, 720));
    EXPECT_EQ(fontOf(ControlId::Label1).lfHeight, -MulDiv(120, dpi, 720));
    EXPECT_EQ(iconWidth(form, ICON_BIG), MulDiv(32, dpi, 96));
    EXPECT_EQ(iconWidth(form, ICON_SMALL), MulDiv(16, dpi, 96));
  }
}

}  // namespace

// The C++ run-time's operator new takes its memory from malloc, so these match it.
void operator delete(void* block) noexcept {
  FreedMemoryWatch::release(block);
}
void operator delete[](void* block) noexcept {
  FreedMemoryWatch::release(block);
}
void operator delete(void* block, std::size_t) noexcept {
  FreedMemoryWatch::release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  FreedMemoryWatch::release(block);
}
