// End to end: the real Quenvar.exe, worked from another process as a user would.
//   e2e_tests --exe=PATH [--dpi=N] [gtest options]
#include <gtest/gtest.h>

#include <oleacc.h>

#include <cwchar>
#include <iterator>
#include <optional>
#include <string>

#include "form1_layout.h"
#include "quenvar_driver.h"
#include "windows_path.h"

namespace {

using namespace std::chrono_literals;
using namespace quenvar::desktop;
using quenvar::e2e::QuenvarProcess;
using quenvar::e2e::settings;
using quenvar::ui::ControlId;
using enum quenvar::ui::ControlId;

const std::wstring kHint = L"在此输入已经失效的资源链接";
const std::wstring kLink = L"https://pan.baidu.com/share/link?shareid=42&uk=1234567890";
const std::wstring kHome = L"http://pan.baidu.com/share/home?uk=1234567890";
const std::wstring kRepaired = L"修复成功", kCopied = L"链接已复制到剪贴板";
const std::wstring kUnsupported = L"暂不支持此链接...",
                   kNothingToCopy = L"没有可复制的链接，请先修复链接";

// Takes the next notice and checks that it is a proper one with this text.
void expectNotice(QuenvarProcess& app, const std::wstring& text) {
  const auto notice = app.takeNotice();
  ASSERT_TRUE(notice) << "no notice appeared; expected \"" << utf8(text) << "\"";
  EXPECT_EQ(utf8(notice->text), utf8(text));
  EXPECT_EQ(utf8(notice->caption), "Quenvar");
  EXPECT_EQ(notice->visibleButtons, 1);
  EXPECT_EQ(notice->okButtons, 1);
  EXPECT_FALSE(notice->hasIcon);
  EXPECT_FALSE(app.waitForNotice(400ms)) << "a second notice followed \"" << utf8(text) << "\"";
  EXPECT_TRUE(app.running());
}

bool focusReaches(const QuenvarProcess& app, ControlId id, std::chrono::milliseconds within = 10s) {
  return waitUntil([&] { return app.focus() == app.control(id); }, within);
}

class Quenvar : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(app.form(), nullptr) << "Form1 did not appear"; }
  QuenvarProcess app;
};

// ---- Form1 as it first appears ----

struct Geometry {
  ControlId id;
  const char* name;
  const wchar_t* kind;
  const wchar_t* text;
  RECT at96, at144;  // left, top, right, bottom in client pixels
};

constexpr RECT box(int left, int top, int width, int height) {
  return {left, top, left + width, top + height};
}

const Geometry kControls[] = {
    {Label1, "Label1", L"Static", L"失效的链接：", box(6, 24, 96, 21), box(9, 36, 144, 32)},
    {Text1, "Text1", L"Edit", L"在此输入已经失效的资源链接", box(121, 21, 235, 27),
     box(182, 32, 353, 41)},
    {Label2, "Label2", L"Static", L"修复后的链接:", box(4, 75, 112, 37), box(6, 113, 168, 56)},
    {Text2, "Text2", L"Edit", L"", box(120, 78, 233, 28), box(180, 117, 350, 42)},
    {Command1, "Command1", L"Button", L"修复链接", box(55, 128, 107, 33), box(83, 192, 161, 50)},
    {Command2, "Command2", L"Button", L"复制已修复链接", box(204, 128, 107, 33),
     box(306, 192, 161, 50)},
    {Label3, "Label3", L"Static", L"By", box(337, 150, 18, 19), box(506, 225, 27, 29)},
    {Label4, "Label4", L"Static", L"Zek", box(357, 152, 23, 16), box(536, 228, 35, 24)},
};

// The name a screen reader gives the window.
std::wstring accessibleName(HWND window) {
  IAccessible* accessible = nullptr;
  if (FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                        __uuidof(IAccessible),
                                        reinterpret_cast<void**>(&accessible)))) {
    return L"<no accessible object>";
  }
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  std::wstring result = L"<no name>";
  if (SUCCEEDED(accessible->get_accName(self, &name)) && name != nullptr) {
    result = name;
    SysFreeString(name);
  }
  accessible->Release();
  return result;
}

TEST_F(Quenvar, Form1HasItsCaptionFrameSizeAndControlsEachBoxNamedByItsLabel) {
  const int dpi = settings.dpi;
  ASSERT_TRUE(dpi == 96 || dpi == 144) << "no expectations for " << dpi << " DPI";
  EXPECT_EQ(utf8(windowText(app.form())), "Quenvar");
  const LONG frame = GetWindowLongW(app.form(), GWL_STYLE);
  EXPECT_TRUE(frame & WS_SYSMENU);
  EXPECT_TRUE(frame & WS_MINIMIZEBOX);
  EXPECT_FALSE(frame & WS_MAXIMIZEBOX);
  EXPECT_FALSE(frame & WS_THICKFRAME) << "a fixed border";
  RECT client{};
  GetClientRect(app.form(), &client);
  EXPECT_EQ(client.right, dpi == 96 ? 387 : 581);
  EXPECT_EQ(client.bottom, dpi == 96 ? 170 : 255);
  EXPECT_EQ(GetMenu(app.form()), nullptr);

  int children = 0;
  for (HWND c = GetWindow(app.form(), GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
    ++children;
  EXPECT_EQ(children, 8);

  for (std::size_t i = 0; i < std::size(kControls); ++i) {
    const Geometry& g = kControls[i];
    SCOPED_TRACE(g.name);
    const HWND control = app.control(g.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(utf8(className(control)), utf8(g.kind));
    EXPECT_EQ(utf8(windowText(control)), utf8(g.text));
    const RECT r = rectInClient(control, app.form());
    const RECT& want = dpi == 96 ? g.at96 : g.at144;
    EXPECT_EQ(r.left, want.left);
    EXPECT_EQ(r.top, want.top);
    EXPECT_EQ(r.right - r.left, want.right - want.left);
    EXPECT_EQ(r.bottom - r.top, want.bottom - want.top);
    if (g.kind == std::wstring(L"Edit")) {
      EXPECT_FALSE(GetWindowLongW(control, GWL_STYLE) & (ES_MULTILINE | ES_READONLY))
          << "text boxes are single-line and editable";
      EXPECT_GT(SendMessageW(control, EM_GETLIMITTEXT, 0, 0), 0x7FFF0000) << "no length limit";
      // Screen readers name a text box after the label just before it in z-order.
      const Geometry& label = kControls[i - 1];
      EXPECT_EQ(GetWindow(control, GW_HWNDPREV), app.control(label.id));
      EXPECT_EQ(utf8(accessibleName(control)), utf8(label.text));
    }
  }
}

// ---- Keyboard ----

// Focus starts on Command1, Enter clicks the focused button, Tab walks the controls in order and
// keeps the hint, and a link typed after the hint is repaired.
TEST_F(Quenvar, KeyboardAlone) {
  ASSERT_TRUE(focusReaches(app, Command1)) << "focus starts on Command1";
  app.pressKey(app.focus(), VK_RETURN);
  expectNotice(app, kUnsupported);
  auto tab = [&](ControlId next) {
    app.pressKey(app.focus(), VK_TAB);
    EXPECT_TRUE(focusReaches(app, next, 3s))
        << "Tab should reach control " << static_cast<int>(next);
  };
  for (ControlId next : {Text1, Text2, Command2})
    tab(next);
  app.pressKey(app.focus(), VK_RETURN);
  expectNotice(app, kNothingToCopy);
  ASSERT_TRUE(focusReaches(app, Command2)) << "the focus is back after the notice";
  tab(Command1);
  tab(Text1);
  EXPECT_EQ(utf8(app.text(Text1)), utf8(kHint)) << "Tab does not clear the hint";
  app.pressKey(app.control(Text1), VK_END);
  app.type(app.control(Text1), kLink);
  ASSERT_TRUE(waitUntil([&] { return app.text(Text1) == kHint + kLink; })) << utf8(app.text(Text1));
  app.click(Command1);
  expectNotice(app, kRepaired);
  EXPECT_EQ(utf8(app.text(Text2)), utf8(kHome));
}

TEST_F(Quenvar, RepairOutcomesThroughTheWindow) {
  const struct {
    const char* name;
    std::wstring text1, notice, text2After;
  } steps[] = {
      {"hint still there", kHint, kUnsupported, L""},
      {"empty input", L"", kUnsupported, L""},
      {"a share link", kLink, kRepaired, kHome},
      {"unsupported keeps the earlier link", kLink + L" ", kUnsupported, kHome},
      {"the same link again", kLink, kRepaired, kHome},
      {"a short input with the marker", L"=abc", kRepaired,
       L"http://pan.baidu.com/share/home?uk==abc"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    app.setText(Text1, s.text1);
    // Two clicks arriving together: the second, while the notice is open, must not stack a
    // second notice on it or bring one after it.
    app.click(Command1);
    app.click(Command1);
    expectNotice(app, s.notice);
    EXPECT_EQ(utf8(app.text(Text2)), utf8(s.text2After));
    EXPECT_EQ(utf8(app.text(Text1)), utf8(s.text1)) << "repair leaves Text1 alone";
  }
}

// ---- Copy ----

// Copying puts Text2 on the clipboard, as it is and in place of everything there, or says why
// not and leaves the clipboard alone.
TEST_F(Quenvar, CopyThroughTheWindow) {
  const std::wstring earlier = L"what the user copied earlier";
  ClipboardUser clipboard;
  ASSERT_TRUE(clipboard.put(earlier));
  auto clipboardText = [&] { return utf8(clipboard.text().value_or(L"<none>")); };
  auto repair = [&](const std::wstring& link, const std::wstring& notice) {
    app.setText(Text1, link);
    app.click(Command1);
    expectNotice(app, notice);
  };

  app.click(Command2);
  expectNotice(app, kNothingToCopy);
  EXPECT_EQ(clipboardText(), utf8(earlier));
  EXPECT_TRUE(clipboard.hasPrivateFormat());

  const std::wstring edited = L"  自己改过的 text\twith tab ";
  app.setText(Text2, edited);
  app.click(Command2);
  expectNotice(app, kCopied);
  EXPECT_EQ(clipboardText(), utf8(edited)) << "copied unchanged";

  ASSERT_TRUE(clipboard.put(earlier));
  repair(kLink, kRepaired);
  repair(L"no key here", kUnsupported);
  app.click(Command2);
  expectNotice(app, kCopied);
  EXPECT_EQ(clipboardText(), utf8(kHome)) << "the last repaired link";
  EXPECT_FALSE(clipboard.hasPrivateFormat()) << "the earlier contents are gone";

  // Another program holding the clipboard through the retries, then within them.
  ASSERT_TRUE(clipboard.put(earlier));
  ClipboardHolder holder;
  ASSERT_TRUE(holder.hold());
  app.click(Command2);
  expectNotice(app, L"复制失败，剪贴板暂时无法使用，请稍后重试");
  ASSERT_TRUE(holder.release());
  EXPECT_EQ(clipboardText(), utf8(earlier));
  EXPECT_TRUE(clipboard.hasPrivateFormat());
  EXPECT_EQ(utf8(app.text(Text2)), utf8(kHome));
  app.click(Command2);
  expectNotice(app, kCopied);
  EXPECT_EQ(clipboardText(), utf8(kHome)) << "the program carries on";

  ASSERT_TRUE(clipboard.put(earlier));
  ASSERT_TRUE(holder.hold());
  app.click(Command2);
  Sleep(250);
  holder.release();
  expectNotice(app, kCopied);
  EXPECT_EQ(clipboardText(), utf8(kHome)) << "written without complaint once released";
}

// ---- Text1's hint ----

TEST_F(Quenvar, FirstClickClearsTheHintAndLaterClicksKeepThePastedLink) {
  const HWND text1 = app.control(Text1);
  app.clickIn(text1);
  ASSERT_TRUE(waitUntil([&] { return app.text(Text1).empty(); })) << utf8(app.text(Text1));
  app.type(text1, kLink);
  ASSERT_TRUE(waitUntil([&] { return app.text(Text1) == kLink; }));
  app.clickIn(text1);
  app.clickIn(text1);
  EXPECT_FALSE(waitUntil([&] { return app.text(Text1) != kLink; }, 500ms))
      << "a later click threw away the link: " << utf8(app.text(Text1));
  app.click(Command1);
  expectNotice(app, kRepaired);
  EXPECT_EQ(utf8(app.text(Text2)), utf8(kHome));
}

// ---- Lifetime ----

TEST(QuenvarLifetime, ClosingForm1EndsTheProgram) {
  const struct {
    const char* name;
    std::optional<ControlId> button;  // clicked first
    bool dismissed;                   // the notice that follows, before closing
  } cases[] = {{"idle", std::nullopt, false},
               {"after a notice", Command1, true},
               {"while the repair notice is open", Command1, false},
               {"while the copy notice is open", Command2, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QuenvarProcess app;
    ASSERT_NE(app.form(), nullptr);
    app.setText(Text2, L"a link to copy");
    if (c.button) {
      app.click(*c.button);
      ASSERT_TRUE(app.waitForNotice());
    }
    if (c.dismissed)
      expectNotice(app, kUnsupported);
    EXPECT_EQ(app.closeAndWait(), 0u);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  declareDpiAware();
  CoInitialize(nullptr);  // for the accessible names
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view arg = argv[i];
    if (arg.starts_with(L"--dpi="))
      settings.dpi = static_cast<int>(std::wcstol(argv[i] + 6, nullptr, 10));
    if (arg.starts_with(L"--exe="))
      settings.exePath = quenvar::windowsPath(arg.substr(6));
  }
  if (settings.exePath.empty()) {
    std::fprintf(stderr, "usage: e2e_tests --exe=PATH [--dpi=N]\n");
    return 2;
  }
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  if (dpi != settings.dpi) {
    std::fprintf(stderr, "the system reports %d DPI, not the %d this run expects\n", dpi,
                 settings.dpi);
    return 2;
  }
  return RUN_ALL_TESTS();
}
