// The handlers of Form1's user actions, written against the few control operations they need so
// they run the same against the real window and against a test fake.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "share_link.h"
#include "text_color.h"

namespace quenvar::ui {

namespace notice {
inline constexpr std::u16string_view kRepaired = u"修复成功";
inline constexpr std::u16string_view kUnsupported = kUnsupportedMessage;
inline constexpr std::u16string_view kCopied = u"链接已复制到剪贴板";
inline constexpr std::u16string_view kNothingToCopy = u"没有可复制的链接，请先修复链接";
inline constexpr std::u16string_view kClipboardBusy = u"复制失败，剪贴板暂时无法使用，请稍后重试";
inline constexpr std::u16string_view kCopyFailed = u"复制失败，请稍后重试";
inline constexpr std::u16string_view kReadInputFailed = u"无法读取输入的链接，请重试";
inline constexpr std::u16string_view kShowResultFailed = u"无法显示修复后的链接，请重试";
inline constexpr std::u16string_view kReadResultFailed = u"无法读取修复后的链接，请重试";
inline constexpr std::u16string_view kClearHintFailed = u"无法清除提示文字，请重试";
inline constexpr std::u16string_view kOutOfMemory = u"内存不足，操作未能完成";
inline constexpr std::u16string_view kUnexpected = u"操作未能完成，请重试";
}  // namespace notice

enum class ClipboardWrite { Written, Busy, Failed };

// A busy clipboard is usually released within a few tens of milliseconds; give the holder about
// eight tenths of a second before telling the user, without freezing the window much longer.
inline constexpr int kClipboardAttempts = 9;
inline constexpr std::chrono::milliseconds kClipboardRetryDelay{100};

class Form1Controls {
 public:
  virtual ~Form1Controls() = default;

  // Reads give nullopt when the platform could not deliver the text; sets report success.
  virtual std::optional<std::u16string> text1() = 0;
  virtual bool setText1(std::u16string_view text) = 0;
  virtual std::optional<std::u16string> text2() = 0;
  virtual bool setText2(std::u16string_view text) = 0;
  virtual ColorValue text1Color() const = 0;
  virtual void setText1Color(ColorValue color) = 0;

  // Replaces everything on the clipboard with the text as plain Unicode text.
  virtual ClipboardWrite writeClipboard(std::u16string_view text) = 0;
  virtual void pause(std::chrono::milliseconds duration) = 0;
  virtual void showNotice(std::u16string_view text) = 0;
};

void onCommand1Click(Form1Controls& controls);  // repair
void onCommand2Click(Form1Controls& controls);  // copy
void onText1Change(Form1Controls& controls);
void onText1Click(Form1Controls& controls);

}  // namespace quenvar::ui
