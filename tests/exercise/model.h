// What Quenvar should show after any sequence of user and system actions, written from the
// description of its behaviour alone: it shares no code with the program (not its handlers, its
// layout table or its repair rule). Texts are UTF-16 and counted in units, as Windows counts them.
#pragma once

#include <algorithm>
#include <optional>
#include <string>

namespace quenvar::exercise {

// The controls that take focus, in Tab order.
enum class Control { Command1, Text1, Text2, Command2 };
inline constexpr int kControls = 4;

inline const std::u16string kHint = u"在此输入已经失效的资源链接";
inline const std::u16string kRepaired = u"修复成功";
inline const std::u16string kUnsupported = u"暂不支持此链接...";
inline const std::u16string kCopied = u"链接已复制到剪贴板";
inline const std::u16string kNothingToCopy = u"没有可复制的链接，请先修复链接";
inline const std::u16string kClipboardBusy = u"复制失败，剪贴板暂时无法使用，请稍后重试";

// The rule, as plainly as it can be said: the eleventh unit from the end is "=" (for a shorter
// text, its first unit), and the last ten units (or the whole shorter text) are the key.
inline std::optional<std::u16string> homeLinkFor(const std::u16string& text) {
  const std::size_t n = text.size();
  const bool marked = n >= 11 ? text[n - 11] == u'=' : n > 0 && text[0] == u'=';
  if (!marked)
    return std::nullopt;
  return u"http://pan.baidu.com/share/home?uk=" + (n > 10 ? text.substr(n - 10) : text);
}

// A text box: its text and its selection (start <= end; equal for a plain caret).
struct Box {
  std::u16string text;
  std::size_t start = 0, end = 0;
  // Set by a mouse click, at a point the model cannot map to text; a hand that moves a little
  // while pressing selects a little.
  bool selectionUnknown = false;

  void replaceSelection(const std::u16string& with) {
    text.replace(start, end - start, with);
    start = end = start + with.size();
  }
};

// How a copy ends when another program holds the clipboard for a while.
enum class CopyOutcome { Copied, Busy, EitherCopiedOrBusy };

struct Model {
  Box text1{kHint}, text2;
  bool hintShown = true;  // until Text1's text first changes
  Control focus = Control::Command1;
  std::optional<std::u16string> notice;  // the open notice's text
  bool noticeCouldBeBusyInstead = false;
  Control focusUnderNotice = Control::Command1;
  std::u16string clipboard;  // CF_UNICODETEXT as another program reads it
  bool clipboardHasOtherFormats = true;
  std::u16string clipboardBeforeCopy;
  bool otherFormatsBeforeCopy = true;
  bool closed = false;

  bool focusOnBox() const { return focus == Control::Text1 || focus == Control::Text2; }
  Box& focusedBox() { return focus == Control::Text1 ? text1 : text2; }

  // Any change of Text1's text ends the hint.
  void changedBox(const Box& box) {
    if (&box == &text1)
      hintShown = false;
  }

  void tab(bool backwards) {
    const int step = backwards ? kControls - 1 : 1;
    focus = static_cast<Control>((static_cast<int>(focus) + step) % kControls);
    // The dialog manager selects all of a text box that Tab moves into.
    if (focusOnBox()) {
      focusedBox().start = 0;
      focusedBox().end = focusedBox().text.size();
    }
  }

  void clickText1() {
    focus = Control::Text1;
    if (hintShown) {
      text1 = Box{};
      changedBox(text1);
    } else {
      text1.selectionUnknown = true;
    }
  }

  void type(const std::u16string& text) {
    Box& box = focusedBox();
    box.replaceSelection(text);
    if (!text.empty())
      changedBox(box);
  }
  void selectAllAndDelete() {
    Box& box = focusedBox();
    if (box.text.empty())
      return;
    box = Box{};
    changedBox(box);
  }

  void openNotice(const std::u16string& text) {
    notice = text;
    focusUnderNotice = focus;
  }
  void repair() {
    const auto link = homeLinkFor(text1.text);
    if (link)
      text2 = Box{*link};
    openNotice(link ? kRepaired : kUnsupported);
  }
  void copy(CopyOutcome outcome) {
    if (text2.text.empty() || outcome == CopyOutcome::Busy)
      return openNotice(text2.text.empty() ? kNothingToCopy : kClipboardBusy);
    clipboardBeforeCopy = clipboard;
    otherFormatsBeforeCopy = clipboardHasOtherFormats;
    clipboard = text2.text;
    clipboardHasOtherFormats = false;
    openNotice(kCopied);
    noticeCouldBeBusyInstead = outcome == CopyOutcome::EitherCopiedOrBusy;
  }
  // The program showed that the clipboard stayed busy to its last try.
  void copyFoundTheClipboardBusy() {
    clipboard = clipboardBeforeCopy;
    clipboardHasOtherFormats = otherFormatsBeforeCopy;
    notice = kClipboardBusy;
    noticeCouldBeBusyInstead = false;
  }
  void press(Control button) {
    focus = button;
    if (button == Control::Command1)
      repair();
    else
      copy(CopyOutcome::Copied);
  }
  void dismissNotice() {
    notice.reset();
    noticeCouldBeBusyInstead = false;
    focus = focusUnderNotice;
  }
};

}  // namespace quenvar::exercise
