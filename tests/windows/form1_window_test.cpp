// Form1 created in this process, where its fonts and colours can be read: the label fonts, the
// default font, the hint's colour (and its fallback), the change to black, and the re-layout
// when the DPI changes.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "form1_layout.h"
#include "form1_window.h"
#include "text_color.h"

namespace {

using quenvar::ui::ControlId;
namespace ui = quenvar::ui;

class Form1InProcess : public testing::Test {
 protected:
  void SetUp() override {
    form = ui::createForm1(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE);
    ASSERT_NE(form, nullptr);
  }
  void TearDown() override {
    DestroyWindow(form);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }  // includes the WM_QUIT that closing Form1 posts
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
    const HWND box = control(ControlId::Text1);
    RECT r{};
    GetClientRect(box, &r);
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, r.right, r.bottom);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageW(box, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    int count = 0;
    for (int y = 0; y < r.bottom; ++y) {
      for (int x = 0; x < r.right; ++x)
        count += GetPixel(dc, x, y) == color ? 1 : 0;
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return count;
  }

  void leftClick(HWND target) {
    SendMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(target, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  }

  std::wstring text(ControlId id) const {
    std::wstring s(static_cast<std::size_t>(GetWindowTextLengthW(control(id))) + 1, L'\0');
    s.resize(static_cast<std::size_t>(
        GetWindowTextW(control(id), s.data(), static_cast<int>(s.size()))));
    return s;
  }

  HWND form = nullptr;
};

struct LabelFont {
  ControlId id;
  const char* name;
  int tenthsOfPoint;
  bool italicAndUnderlined;
};
const LabelFont kLabelFonts[] = {
    {ControlId::Label1, "Label1", 120, false},
    {ControlId::Label2, "Label2", 120, false},
    {ControlId::Label3, "Label3", 90, false},
    {ControlId::Label4, "Label4", 75, true},
};

int dpiOf(HWND window) {
  const HDC dc = GetDC(window);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(window, dc);
  return dpi;
}

TEST_F(Form1InProcess, LabelsUseMicrosoftYaHeiAtTheirSizes) {
  const int dpi = dpiOf(form);
  for (const LabelFont& want : kLabelFonts) {
    SCOPED_TRACE(want.name);
    const LOGFONTW font = fontOf(want.id);
    EXPECT_EQ(std::wstring(font.lfFaceName), L"微软雅黑");
    EXPECT_EQ(font.lfHeight, -MulDiv(want.tenthsOfPoint, dpi, 720));
    EXPECT_EQ(font.lfWeight, 400);
    EXPECT_EQ(font.lfCharSet, 134);
    EXPECT_EQ(font.lfItalic != 0, want.italicAndUnderlined);
    EXPECT_EQ(font.lfUnderline != 0, want.italicAndUnderlined);
    EXPECT_FALSE(font.lfStrikeOut);
  }
}

TEST_F(Form1InProcess, BoxesAndButtonsUseTheSystemMessageFont) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
  for (ControlId id :
       {ControlId::Text1, ControlId::Text2, ControlId::Command1, ControlId::Command2}) {
    const LOGFONTW font = fontOf(id);
    EXPECT_EQ(std::wstring(font.lfFaceName), std::wstring(metrics.lfMessageFont.lfFaceName));
    EXPECT_EQ(font.lfHeight, metrics.lfMessageFont.lfHeight) << static_cast<int>(id);
  }
}

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

TEST_F(Form1InProcess, HintFallsBackToGreyTextWhenTheScrollBarColourIsTheBackground) {
  const int elements[] = {COLOR_SCROLLBAR};
  const COLORREF saved[] = {GetSysColor(COLOR_SCROLLBAR)};
  const COLORREF invisible[] = {GetSysColor(COLOR_WINDOW)};
  ASSERT_TRUE(SetSysColors(1, elements, invisible));
  const COLORREF drawn = text1Color();
  SetSysColors(1, elements, saved);
  EXPECT_EQ(drawn, GetSysColor(COLOR_GRAYTEXT));
  EXPECT_NE(drawn, GetSysColor(COLOR_WINDOW));
}

TEST_F(Form1InProcess, FirstClickClearsTheHintLaterClicksKeepTheText) {
  leftClick(control(ControlId::Text1));
  EXPECT_EQ(text(ControlId::Text1), L"");
  EXPECT_EQ(text1Color(), RGB(0, 0, 0));
  SetWindowTextW(control(ControlId::Text1), L"pasted uk=1234567890");
  leftClick(control(ControlId::Text1));
  EXPECT_EQ(text(ControlId::Text1), L"pasted uk=1234567890");
}

TEST_F(Form1InProcess, TextBoxesTakeMoreThanTheDefaultLimit) {
  const std::wstring longText(40000, L'7');
  ASSERT_TRUE(SetWindowTextW(control(ControlId::Text2), longText.c_str()));
  EXPECT_EQ(GetWindowTextLengthW(control(ControlId::Text2)), 40000);
}

int iconWidth(HWND form, WPARAM which) {
  const auto icon = reinterpret_cast<HICON>(SendMessageW(form, WM_GETICON, which, 0));
  if (icon == nullptr)
    return 0;
  ICONINFO info{};
  if (!GetIconInfo(icon, &info))
    return -1;
  BITMAP bitmap{};
  GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
  if (info.hbmColor)
    DeleteObject(info.hbmColor);
  if (info.hbmMask)
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
    const HWND text2 = control(ControlId::Text2);
    RECT r{};
    GetWindowRect(text2, &r);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, MulDiv(1800, dpi, 1440));
    EXPECT_EQ(r.bottom - r.top, MulDiv(420, dpi, 1440));
    EXPECT_EQ(fontOf(ControlId::Label4).lfHeight, -MulDiv(75, dpi, 720));
    EXPECT_EQ(fontOf(ControlId::Label1).lfHeight, -MulDiv(120, dpi, 720));
    EXPECT_EQ(iconWidth(form, ICON_BIG), MulDiv(32, dpi, 96));
    EXPECT_EQ(iconWidth(form, ICON_SMALL), MulDiv(16, dpi, 96));
  }
}

}  // namespace
