#include "clipboard_win32.h"

#include <limits>

namespace quenvar::ui {
namespace {

// A global memory block that is ours to free until the clipboard takes it.
class GlobalText {
 public:
  explicit GlobalText(std::u16string_view text) {
    if (text.size() >= std::numeric_limits<SIZE_T>::max() / sizeof(wchar_t) - 1)
      return;
    handle_ = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    if (handle_ == nullptr)
      return;
    auto* target = static_cast<wchar_t*>(GlobalLock(handle_));
    if (target == nullptr) {
      GlobalFree(handle_);
      handle_ = nullptr;
      return;
    }
    for (char16_t unit : text)
      *target++ = static_cast<wchar_t>(unit);
    *target = L'\0';
    GlobalUnlock(handle_);
  }
  ~GlobalText() {
    if (handle_ != nullptr)
      GlobalFree(handle_);
  }
  GlobalText(const GlobalText&) = delete;
  GlobalText& operator=(const GlobalText&) = delete;

  HANDLE get() const { return handle_; }
  void handOver() { handle_ = nullptr; }  // the system owns it now

 private:
  HGLOBAL handle_ = nullptr;
};

class ClipboardSession {
 public:
  ClipboardSession(HWND owner, const ClipboardApi& api)
      : api_(api), open_(api.open(owner) != FALSE) {}
  ~ClipboardSession() {
    if (open_)
      api_.close();
  }
  ClipboardSession(const ClipboardSession&) = delete;
  ClipboardSession& operator=(const ClipboardSession&) = delete;

  bool isOpen() const { return open_; }

 private:
  const ClipboardApi& api_;
  bool open_;
};

}  // namespace

const ClipboardApi& systemClipboard() {
  static const ClipboardApi api{::OpenClipboard, ::EmptyClipboard, ::SetClipboardData,
                                ::CloseClipboard};
  return api;
}

ClipboardWrite writeClipboardText(HWND owner, std::u16string_view text, const ClipboardApi& api) {
  // The block is filled before the clipboard is opened, so the clipboard is held only briefly.
  GlobalText block(text);
  if (block.get() == nullptr)
    return ClipboardWrite::Failed;
  // Opening with our own window makes it the owner; another program holding the clipboard makes
  // this fail, which the caller retries.
  const ClipboardSession clipboard(owner, api);
  if (!clipboard.isOpen())
    return ClipboardWrite::Busy;
  if (!api.empty())
    return ClipboardWrite::Failed;
  if (api.setData(CF_UNICODETEXT, block.get()) == nullptr)
    return ClipboardWrite::Failed;
  block.handOver();
  return ClipboardWrite::Written;
}

}  // namespace quenvar::ui
