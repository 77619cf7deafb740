#include "form1_handlers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_form1.h"

namespace {

namespace ui = quenvar::ui;
using namespace quenvar::ui::notice;
using quenvar::test::FakeForm1;
using quenvar::test::Faults;
using quenvar::test::Form1State;

const std::u16string kHint(ui::kText1Hint);
const std::u16string kLink = u"https://pan.baidu.com/share/link?shareid=1&uk=1234567890";
const std::u16string kHome = u"http://pan.baidu.com/share/home?uk=1234567890";
const std::u16string kBefore = u"what the user held before";

enum class Do { Type, EditText2, ClickText1, Repair, Copy };
struct Step {
  Do what;
  std::u16string text = {};  // typed into Text1 or Text2
};

void perform(FakeForm1& form, const Step& step) {
  form.noticeOpen = false;  // the user dismissed it before going on
  switch (step.what) {
    case Do::Type:
      form.userEditsText1(step.text);
      break;
    case Do::EditText2:
      form.state.text2 = step.text;
      break;
    case Do::ClickText1:
      ui::onText1Click(form);
      break;
    case Do::Repair:
      ui::onCommand1Click(form);
      break;
    case Do::Copy:
      ui::onCommand2Click(form);
      break;
  }
}

struct Case {
  const char* name;
  std::vector<Step> steps;
  Form1State expected;  // unlisted fields as Form1 starts
  Faults faults = {};
};

const Case kCases[] = {
    // Repair (Command1) tells its outcome once and touches neither Text1 nor the clipboard.
    {"link repaired",
     {{Do::Type, kLink}, {Do::Repair}},
     {.text1 = kLink, .text2 = kHome, .color = ui::kBlack, .notices = {kRepaired}}},
    {"hint still shown is unsupported, and the hint and its colour stay",
     {{Do::Repair}},
     {.notices = {kUnsupported}}},
    {"empty input is unsupported",
     {{Do::Type, u""}, {Do::Repair}},
     {.text1 = u"", .color = ui::kBlack, .notices = {kUnsupported}}},
    {"unsupported keeps the earlier link",
     {{Do::EditText2, u"earlier"}, {Do::Type, kLink + u" "}, {Do::Repair}},
     {.text1 = kLink + u" ", .text2 = u"earlier", .color = ui::kBlack, .notices = {kUnsupported}}},
    {"repaired replaces whatever Text2 held",
     {{Do::EditText2, u"something the user typed"}, {Do::Type, kLink}, {Do::Repair}},
     {.text1 = kLink, .text2 = kHome, .color = ui::kBlack, .notices = {kRepaired}}},
    {"link typed after the hint is repaired",
     {{Do::Type, kHint + kLink}, {Do::Repair}},
     {.text1 = kHint + kLink, .text2 = kHome, .color = ui::kBlack, .notices = {kRepaired}}},
    {"Text1 that cannot be read",
     {{Do::EditText2, u"kept"}, {Do::Repair}},
     {.text2 = u"kept", .notices = {kReadInputFailed}},
     {.failReads = true}},
    {"Text2 that refuses the link",
     {{Do::Type, kLink}, {Do::EditText2, u"kept"}, {Do::Repair}},
     {.text1 = kLink, .text2 = u"kept", .color = ui::kBlack, .notices = {kShowResultFailed}},
     {.failSetText2 = true}},
    {"memory running out on a huge paste",
     {{Do::Type, kLink}, {Do::EditText2, u"kept"}, {Do::Repair}},
     {.text1 = kLink, .text2 = u"kept", .color = ui::kBlack, .notices = {kOutOfMemory}},
     {.throwOnRead = true}},
    {"same input gives the same result each time",
     {{Do::Type, kLink}, {Do::Repair}, {Do::Repair}, {Do::Repair}},
     {.text1 = kLink,
      .text2 = kHome,
      .color = ui::kBlack,
      .notices = {kRepaired, kRepaired, kRepaired}}},

    // Copy (Command2) puts Text2 on the clipboard, unchanged, or says why not.
    {"home link copied",
     {{Do::EditText2, kHome}, {Do::Copy}},
     {.text2 = kHome, .clipboard = kHome, .notices = {kCopied}, .clipboardAttempts = 1}},
    {"user-edited text copied unchanged",
     {{Do::EditText2, u"  anything, 任何文字\t"}, {Do::Copy}},
     {.text2 = u"  anything, 任何文字\t",
      .clipboard = u"  anything, 任何文字\t",
      .notices = {kCopied},
      .clipboardAttempts = 1}},
    {"empty Text2 leaves the clipboard alone", {{Do::Copy}}, {.notices = {kNothingToCopy}}},
    {"busy briefly, then copied",
     {{Do::EditText2, kHome}, {Do::Copy}},
     {.text2 = kHome, .clipboard = kHome, .notices = {kCopied}, .clipboardAttempts = 4},
     {.busyAttempts = 3}},
    {"busy throughout",
     {{Do::EditText2, kHome}, {Do::Copy}},
     {.text2 = kHome, .notices = {kClipboardBusy}, .clipboardAttempts = ui::kClipboardAttempts},
     {.busyAttempts = 1000}},
    {"write refused after the clipboard was emptied",
     {{Do::EditText2, kHome}, {Do::Copy}},
     {.text2 = kHome, .clipboard = std::nullopt, .notices = {kCopyFailed}, .clipboardAttempts = 1},
     {.failWrite = true}},
    {"Text2 that cannot be read",
     {{Do::EditText2, kHome}, {Do::Copy}},
     {.text2 = kHome, .notices = {kReadResultFailed}},
     {.failReads = true}},
    {"memory running out",
     {{Do::EditText2, kHome}, {Do::Copy}},
     {.text2 = kHome, .notices = {kOutOfMemory}},
     {.throwOnRead = true}},
    {"unsupported repair leaves the earlier link to copy",
     {{Do::Type, kLink}, {Do::Repair}, {Do::Type, u"not a link"}, {Do::Repair}, {Do::Copy}},
     {.text1 = u"not a link",
      .text2 = kHome,
      .color = ui::kBlack,
      .clipboard = kHome,
      .notices = {kRepaired, kUnsupported, kCopied},
      .clipboardAttempts = 1}},

    // Text1's hint goes at the first click or change, and only then.
    {"starts with the hint in the scroll-bar colour", {}, {}},
    {"first click empties and turns black",
     {{Do::ClickText1}},
     {.text1 = u"", .color = ui::kBlack}},
    {"later click keeps a pasted link",
     {{Do::ClickText1}, {Do::Type, kLink}, {Do::ClickText1}},
     {.text1 = kLink, .color = ui::kBlack}},
    {"typing without clicking keeps the hint text and turns black",
     {{Do::Type, kHint + u"abc"}},
     {.text1 = kHint + u"abc", .color = ui::kBlack}},
    {"click after typing keeps the text",
     {{Do::Type, kHint + kLink}, {Do::ClickText1}},
     {.text1 = kHint + kLink, .color = ui::kBlack}},
    {"deleting everything stays black and shows no hint",
     {{Do::ClickText1}, {Do::Type, u"x"}, {Do::Type, u""}, {Do::ClickText1}},
     {.text1 = u"", .color = ui::kBlack}},
    {"box that refuses to empty is reported and kept",
     {{Do::ClickText1}},
     {.notices = {kClearHintFailed}},
     {.failSetText1 = true}},
};

TEST(Form1Handlers, ShowWhatTheUserExpects) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeForm1 form(c.faults);
    for (const Step& step : c.steps)
      perform(form, step);
    EXPECT_EQ(form.state, c.expected);
    EXPECT_FALSE(form.clipboardUsedAfterNotice)
        << "the clipboard is never held while a notice shows";
  }
}

TEST(Form1Handlers, CopyWaitsHalfASecondToASecondForABusyClipboard) {
  FakeForm1 form({.busyAttempts = 1000});
  form.state.text2 = kHome;
  ui::onCommand2Click(form);
  EXPECT_GE(form.paused.count(), 500);
  EXPECT_LE(form.paused.count(), 1000);
}

}  // namespace
