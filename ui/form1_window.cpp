// Form1 on Win32: builds the window from the layout table, turns messages into calls of the
// handlers, and provides the control operations the handlers use.
#include "form1_window.h"

#include <commctrl.h>

#include <array>
#include <new>

#include "form1_handlers.h"
#include "form1_layout.h"
#include "identity.h"
#include "notice.h"
#include "win32_support.h"

namespace quenvar::ui {
namespace {

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kFormExStyle = 0;
constexpr UINT_PTR kText1SubclassId = 1;

DWORD controlStyle(ControlKind kind) {
  switch (kind) {
    case ControlKind::Label:
      return WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
    case ControlKind::TextBox:
      return WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
    case ControlKind::PushButton:
      return WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
  }
  return WS_CHILD | WS_VISIBLE;
}

const wchar_t* controlClass(ControlKind kind) {
  switch (kind) {
    case ControlKind::Label:
      return L"STATIC";
    case ControlKind::TextBox:
      return L"EDIT";
    case ControlKind::PushButton:
      return L"BUTTON";
  }
  return L"STATIC";
}

UniqueFont createFont(const FontStyle& style, int dpi) {
  if (style.systemMessageFont) {
    const NONCLIENTMETRICSW metrics = nonClientMetricsForDpi(dpi);
    return UniqueFont(CreateFontIndirectW(&metrics.lfMessageFont));
  }
  LOGFONTW font{};
  font.lfHeight = fontHeightPixels(style.tenthsOfPoint, dpi);
  font.lfWeight = style.weight;
  font.lfItalic = style.italic ? TRUE : FALSE;
  font.lfUnderline = style.underline ? TRUE : FALSE;
  font.lfCharSet = style.charSet;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = CLEARTYPE_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  const std::wstring face = toWide(style.face);
  lstrcpynW(font.lfFaceName, face.c_str(), LF_FACESIZE);
  return UniqueFont(CreateFontIndirectW(&font));
}

}  // namespace

class Form1 final : public Form1Controls {
 public:
  explicit Form1(const ClipboardApi& clipboard) : clipboard_(clipboard) {}
  ~Form1() override;
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  HWND window() const { return window_; }

  // Form1Controls
  std::optional<std::u16string> text1() override { return textOf(ControlId::Text1); }
  bool setText1(std::u16string_view text) override { return setTextOf(ControlId::Text1, text); }
  std::optional<std::u16string> text2() override { return textOf(ControlId::Text2); }
  bool setText2(std::u16string_view text) override { return setTextOf(ControlId::Text2, text); }
  ColorValue text1Color() const override { return text1Color_; }
  void setText1Color(ColorValue color) override;
  ClipboardWrite writeClipboard(std::u16string_view text) override {
    return writeClipboardText(window_, text, clipboard_);
  }
  void pause(std::chrono::milliseconds duration) override;
  void showNotice(std::u16string_view text) override;

 private:
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  bool onCreate(const CREATESTRUCTW& create);
  void onCommand(int id, int code);
  void onActivate(bool active, bool minimized);
  void saveFocus();
  void onDpiChanged(int dpi, const RECT& suggested);
  LRESULT onCtlColorEdit(HDC dc, HWND control);
  void onText1Click();

  static LRESULT CALLBACK text1Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR id, DWORD_PTR data);

  HWND control(ControlId id) const { return GetDlgItem(window_, static_cast<int>(id)); }
  std::optional<std::u16string> textOf(ControlId id) const;
  bool setTextOf(ControlId id, std::u16string_view text);
  void applyDpi(int dpi);
  void sizeWindowForClient(const RECT* suggested);
  template <typename Handler>
  void runUserAction(Handler handler);

  const ClipboardApi clipboard_;  // a copy: the caller's table may not outlive Form1
  HWND window_ = nullptr;         // null before creation and once the window is destroyed
  bool created_ = false;
  int dpi_ = USER_DEFAULT_SCREEN_DPI;
  std::array<UniqueFont, static_cast<std::size_t>(FontId::Count)> fonts_;
  UniqueIcon bigIcon_;
  UniqueIcon smallIcon_;
  ColorValue text1Color_ = kText1HintColor;
  HWND lastFocus_ = nullptr;
  bool inUserAction_ = false;
};

std::optional<std::u16string> Form1::textOf(ControlId id) const {
  const HWND box = control(id);
  if (box == nullptr)
    return std::nullopt;
  const int length = GetWindowTextLengthW(box);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SetLastError(ERROR_SUCCESS);
  const int copied = GetWindowTextW(box, text.data(), length + 1);
  if (copied == 0 && length != 0 && GetLastError() != ERROR_SUCCESS)
    return std::nullopt;
  text.resize(static_cast<std::size_t>(copied));
  return fromWide(text);
}

bool Form1::setTextOf(ControlId id, std::u16string_view text) {
  const HWND box = control(id);
  return box != nullptr && SetWindowTextW(box, toWide(text).c_str()) != FALSE;
}

void Form1::setText1Color(ColorValue color) {
  text1Color_ = color;
  InvalidateRect(control(ControlId::Text1), nullptr, TRUE);
}

void Form1::pause(std::chrono::milliseconds duration) {
  Sleep(static_cast<DWORD>(duration.count()));
}

void Form1::showNotice(std::u16string_view text) {
  app::showNotice(window_, toWide(text));
}

// The button clicks and the click in Text1 run one at a time: a click that arrives while a
// notice is open (a posted message, say) is dropped rather than stacking a second notice.
template <typename Handler>
void Form1::runUserAction(Handler handler) {
  if (inUserAction_)
    return;
  inUserAction_ = true;
  handler(*this);
  inUserAction_ = false;
}

void Form1::onCommand(int id, int code) {
  switch (static_cast<ControlId>(id)) {
    case ControlId::Command1:
      if (code == BN_CLICKED)
        runUserAction(onCommand1Click);
      return;
    case ControlId::Command2:
      if (code == BN_CLICKED)
        runUserAction(onCommand2Click);
      return;
    case ControlId::Text1:
      if (code == EN_CHANGE)
        onText1Change(*this);
      return;
    default:
      break;
  }
  // Enter on a focused button clicks it, as in any dialog.
  if (id == IDOK) {
    const HWND focus = GetFocus();
    if (focus == control(ControlId::Command1) || focus == control(ControlId::Command2)) {
      SendMessageW(focus, BM_CLICK, 0, 0);
    }
  }
}

void Form1::onText1Click() {
  runUserAction(ui::onText1Click);
}

LRESULT CALLBACK Form1::text1Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                  DWORD_PTR data) {
  if (message == WM_LBUTTONDOWN) {
    // Let the box take focus and place its caret first, as for any click.
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    reinterpret_cast<Form1*>(data)->onText1Click();
    return result;
  }
  if (message == WM_NCDESTROY)
    RemoveWindowSubclass(window, text1Proc, kText1SubclassId);
  return DefSubclassProc(window, message, wParam, lParam);
}

LRESULT Form1::onCtlColorEdit(HDC dc, HWND box) {
  if (box != control(ControlId::Text1))
    return DefWindowProcW(window_, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                          reinterpret_cast<LPARAM>(box));
  const COLORREF background = GetSysColor(COLOR_WINDOW);
  const ColorValue wanted =
      isSystemColor(text1Color_) ? GetSysColor(systemColorIndex(text1Color_)) : text1Color_;
  // A colour that would vanish into the background gives way: the hint to the grey of a hint,
  // typed text to the scheme's ordinary text colour.
  const int fallback = text1Color_ == kText1HintColor ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT;
  SetTextColor(dc, visibleTextColor(wanted, background, GetSysColor(fallback)));
  SetBkColor(dc, background);
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
}

bool Form1::onCreate(const CREATESTRUCTW& create) {
  for (const ControlRow& row : kForm1Controls) {
    const std::wstring text = toWide(row.text);
    const HWND child = CreateWindowExW(
        row.kind == ControlKind::TextBox ? WS_EX_CLIENTEDGE : 0, controlClass(row.kind),
        text.c_str(), controlStyle(row.kind), 0, 0, 0, 0, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), create.hInstance, nullptr);
    if (child == nullptr)
      return false;
    // No length limit: the default of 32767 units would cut a long paste short.
    if (row.kind == ControlKind::TextBox)
      SendMessageW(child, EM_SETLIMITTEXT, 0, 0);
  }
  if (!SetWindowSubclass(control(ControlId::Text1), text1Proc, kText1SubclassId,
                         reinterpret_cast<DWORD_PTR>(this))) {
    return false;
  }
  lastFocus_ = control(ControlId::Command1);
  applyDpi(dpiForWindow(window_));
  sizeWindowForClient(nullptr);
  return true;
}

void Form1::applyDpi(int dpi) {
  dpi_ = dpi;
  // New fonts and icons are handed out before the old ones are released.
  decltype(fonts_) fonts;
  for (std::size_t i = 0; i < fonts.size(); ++i)
    fonts[i] = createFont(fontStyle(static_cast<FontId>(i)), dpi);
  for (const ControlRow& row : kForm1Controls) {
    const HWND child = control(row.id);
    MoveWindow(child, twipsToPixels(row.left, dpi), twipsToPixels(row.top, dpi),
               twipsToPixels(row.width, dpi), twipsToPixels(row.height, dpi), TRUE);
    const HFONT font = fonts[static_cast<std::size_t>(row.font)].get();
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  fonts_ = std::move(fonts);

  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
  auto loadIcon = [&](int metric) {
    const int size = systemMetricForDpi(metric, dpi);
    return UniqueIcon(static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(QUENVAR_ICON_ID), IMAGE_ICON, size, size, 0)));
  };
  UniqueIcon big = loadIcon(SM_CXICON);
  UniqueIcon small = loadIcon(SM_CXSMICON);
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
  bigIcon_ = std::move(big);
  smallIcon_ = std::move(small);
}

void Form1::sizeWindowForClient(const RECT* suggested) {
  const RECT frame =
      windowRectForClient(twipsToPixels(kClientWidthTwips, dpi_),
                          twipsToPixels(kClientHeightTwips, dpi_), kFormStyle, kFormExStyle, dpi_);
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  if (suggested == nullptr)
    flags |= SWP_NOMOVE;
  const int x = suggested ? suggested->left : 0, y = suggested ? suggested->top : 0;
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  SetWindowPos(window_, nullptr, x, y, width, height, flags);
  // The frame the system really drew may differ from the computed one (a system that does not
  // scale the caption with the DPI, say); correct by what the client area came out as.
  RECT client{};
  GetClientRect(window_, &client);
  const int wantWidth = twipsToPixels(kClientWidthTwips, dpi_);
  const int wantHeight = twipsToPixels(kClientHeightTwips, dpi_);
  if (client.right != wantWidth || client.bottom != wantHeight) {
    width += wantWidth - client.right;
    height += wantHeight - client.bottom;
    SetWindowPos(window_, nullptr, x, y, width, height, flags);
  }
}

void Form1::onDpiChanged(int dpi, const RECT& suggested) {
  applyDpi(dpi);
  sizeWindowForClient(&suggested);
}

// Keep the focused control across deactivation and minimising, as a dialog does.
void Form1::saveFocus() {
  const HWND focus = GetFocus();
  if (focus != nullptr && IsChild(window_, focus))
    lastFocus_ = focus;
}

void Form1::onActivate(bool active, bool minimized) {
  if (!active)
    saveFocus();
  else if (!minimized)
    SetFocus(lastFocus_ != nullptr ? lastFocus_ : control(ControlId::Command1));
}

LRESULT Form1::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      onCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CTLCOLOREDIT:
      return onCtlColorEdit(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_ACTIVATE:
      onActivate(LOWORD(wParam) != WA_INACTIVE, HIWORD(wParam) != 0);
      return 0;
    case WM_SYSCOMMAND:
      // Minimising may take the focus away before the window is told it is inactive.
      if ((wParam & 0xFFF0) == SC_MINIMIZE)
        saveFocus();
      return DefWindowProcW(window_, message, wParam, lParam);
    case WM_DPICHANGED:
      onDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_DESTROY:
      // A window that failed to be created ends nothing: the start-up failure notice that
      // follows must stay until the user dismisses it.
      if (created_)
        PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}

Form1::~Form1() {
  if (window_ != nullptr)
    DestroyWindow(window_);
}

LRESULT CALLBACK Form1::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    form = static_cast<Form1*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
    form->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  if (form == nullptr)
    return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_CREATE) {
    try {
      form->created_ = form->onCreate(*reinterpret_cast<const CREATESTRUCTW*>(lParam));
    } catch (...) {
    }
    return form->created_ ? 0 : -1;
  }
  if (message == WM_NCDESTROY) {
    // Only let go: the owner releases the state, after any handler still running has returned.
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    form->window_ = nullptr;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  // No exception may cross back into the system's message dispatch.
  try {
    return form->handle(message, wParam, lParam);
  } catch (...) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
}

void Form1Deleter::operator()(Form1* form) const {
  delete form;
}

Form1Owner createForm1(HINSTANCE instance, int showCommand, const ClipboardApi& clipboard) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = Form1::windowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kForm1ClassName;
  // No class icons: Form1 sets its own, at the sizes its DPI asks for, before it is shown.
  if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return nullptr;
  }
  Form1Owner form(new (std::nothrow) Form1(clipboard));
  if (!form)
    return nullptr;
  const HWND window = CreateWindowExW(kFormExStyle, kForm1ClassName, L"" QUENVAR_NAME, kFormStyle,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                      nullptr, nullptr, instance, form.get());
  if (window == nullptr)
    return nullptr;
  ShowWindow(window, showCommand);
  UpdateWindow(window);
  return form;
}

HWND form1Window(const Form1& form) {
  return form.window();
}

}  // namespace quenvar::ui
