// A baseline for the start-up benchmark: Quenvar's window written the plainest way, in one
// function, with the same eight controls (classes, styles, texts, fonts), the same icon and
// manifest, the same DPI scaling and sizing, and the same message loop; no table, no classes.
#include <windows.h>
#include <commctrl.h>

namespace {

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CTLCOLOREDIT && GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == 2) {
    SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_SCROLLBAR));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK text1Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR) {
  return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&classes);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = L"PlainControls";
  RegisterClassExW(&windowClass);
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  const HWND form =
      CreateWindowExW(0, L"PlainControls", L"Quenvar", style, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  const int dpi = static_cast<int>(GetDpiForWindow(form));
  auto px = [dpi](int pixelsAt96) { return MulDiv(pixelsAt96, dpi, 96); };

  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0,
                             static_cast<UINT>(dpi));
  const HFONT messageFont = CreateFontIndirectW(&metrics.lfMessageFont);
  auto yahei = [&](int tenths, bool italicUnderlined) {
    return CreateFontW(-MulDiv(tenths, dpi, 720), 0, 0, 0, 400, italicUnderlined, italicUnderlined,
                       FALSE, 134, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"微软雅黑");
  };
  const HFONT label12 = yahei(120, false), label9 = yahei(90, false), label75 = yahei(75, true);

  const DWORD label = WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
  const DWORD box = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
  const DWORD button = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
  auto add = [&](DWORD exStyle, const wchar_t* kind, const wchar_t* text, DWORD controlStyle,
                 int id, int x, int y, int w, int h, HFONT font) {
    const HWND control =
        CreateWindowExW(exStyle, kind, text, controlStyle, px(x), px(y), px(w), px(h), form,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
  };
  const HWND command1 = add(0, L"BUTTON", L"修复链接", button, 5, 55, 128, 107, 33, messageFont);
  add(0, L"STATIC", L"失效的链接：", label, 1, 6, 24, 96, 21, label12);
  const HWND text1 = add(WS_EX_CLIENTEDGE, L"EDIT", L"在此输入已经失效的资源链接", box, 2, 121, 21,
                         235, 27, messageFont);
  add(0, L"STATIC", L"修复后的链接:", label, 3, 4, 75, 112, 37, label12);
  const HWND text2 = add(WS_EX_CLIENTEDGE, L"EDIT", L"", box, 4, 120, 78, 233, 28, messageFont);
  add(0, L"BUTTON", L"复制已修复链接", button, 6, 204, 128, 107, 33, messageFont);
  add(0, L"STATIC", L"By", label, 7, 337, 150, 18, 19, label9);
  add(0, L"STATIC", L"Zek", label, 8, 357, 152, 23, 16, label75);
  SendMessageW(text1, EM_SETLIMITTEXT, 0, 0);
  SendMessageW(text2, EM_SETLIMITTEXT, 0, 0);
  SetWindowSubclass(text1, text1Proc, 1, 0);

  const HICON big = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                  GetSystemMetricsForDpi(SM_CXICON, dpi),
                                                  GetSystemMetricsForDpi(SM_CXICON, dpi), 0));
  const HICON small = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                    GetSystemMetricsForDpi(SM_CXSMICON, dpi),
                                                    GetSystemMetricsForDpi(SM_CXSMICON, dpi), 0));
  SendMessageW(form, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  SendMessageW(form, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

  RECT frame{0, 0, px(387), px(170)};
  AdjustWindowRectExForDpi(&frame, style, FALSE, 0, static_cast<UINT>(dpi));
  SetWindowPos(form, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
  ShowWindow(form, showCommand);
  UpdateWindow(form);
  SetFocus(command1);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(form, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return 0;
}
