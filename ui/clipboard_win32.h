// Puts text on the Windows clipboard. The four clipboard calls come from a table, so a test can
// make one of them fail the way the system would.
#pragma once

#include <windows.h>

#include <string_view>

#include "form1_handlers.h"

namespace quenvar::ui {

struct ClipboardApi {
  BOOL(WINAPI* open)(HWND owner);
  BOOL(WINAPI* empty)();
  HANDLE(WINAPI* setData)(UINT format, HANDLE data);
  BOOL(WINAPI* close)();
};

const ClipboardApi& systemClipboard();

// Replaces everything on the clipboard with `text` as CF_UNICODETEXT, owned by `owner`. Busy when
// another program holds the clipboard open; Failed for anything else, and then nothing of the
// text is left behind.
ClipboardWrite writeClipboardText(HWND owner, std::u16string_view text,
                                  const ClipboardApi& api = systemClipboard());

}  // namespace quenvar::ui
