#include "form1_handlers.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_form1.h"

namespace {

namespace ui = quenvar::ui;
using namespace quenvar::ui::notice;
using quenvar::test::FakeForm1;
using quenvar::test::Form1State;

const std::u16string kHint(ui::kText1Hint);
const std::u16string kLink = u"https://pan.baidu.com/share/link?shareid=1&uk=1234567890";
const std::u16string kHome = u"http://pan.baidu.com/share/home?uk=1234567890";

// What happens between the start and the state a row expects: the user's edits and clicks.
using Step = std::function<void(FakeForm1&)>;
Step type(std::u16string text) {
  return [text](FakeForm1& form) { form.userEditsText1(text); };
}
Step editText2(std::u16string text) {
  return [text](FakeForm1& form) { form.state.text2 = text; };
}
const Step repair = ui::onCommand1Click, copy = ui::onCommand2Click, click = ui::onText1Click;
// The platform failing from then on.
const Step readsFail = [](FakeForm1& form) { form.failReads = true; };
const Step readsRunOutOfMemory = [](FakeForm1& form) { form.throwOnRead = true; };
const Step text1Refuses = [](FakeForm1& form) { form.failSetText1 = true; };
const Step text2Refuses = [](FakeForm1& form) { form.failSetText2 = true; };
const Step clipboardRefuses = [](FakeForm1& form) { form.failWrite = true; };
Step clipboardBusyFor(int attempts) {
  return [attempts](FakeForm1& form) { form.busyAttempts = attempts; };
}

struct Case {
  const char* name;
  std::vector<Step> steps;
  Form1State expected;  // unlisted fields as Form1 starts
};

const Case kCases[] = {
    // Repair (Command1) tells its outcome once and touches neither Text1 nor the clipboard.
    {"link repaired",
     {type(kLink), repair},
     {.text1 = kLink, .text2 = kHome, .color = ui::kBlack, .notices = {kRepaired}}},
    {"hint still shown is unsupported, and the hint and its colour stay",
     {repair},
     {.notices = {kUnsupported}}},
    {"empty input is unsupported",
     {type(u""), repair},
     {.text1 = u"", .color = ui::kBlack, .notices = {kUnsupported}}},
    {"unsupported keeps the earlier link",
     {editText2(u"earlier"), type(kLink + u" "), repair},
     {.text1 = kLink + u" ", .text2 = u"earlier", .color = ui::kBlack, .notices = {kUnsupported}}},
    {"repaired replaces whatever Text2 held",
     {editText2(u"something the user typed"), type(kLink), repair},
     {.text1 = kLink, .text2 = kHome, .color = ui::kBlack, .notices = {kRepaired}}},
    {"link typed after the hint is repaired",
     {type(kHint + kLink), repair},
     {.text1 = kHint + kLink, .text2 = kHome, .color = ui::kBlack, .notices = {kRepaired}}},
    {"Text1 that cannot be read",
     {readsFail, editText2(u"kept"), repair},
     {.text2 = u"kept", .notices = {kReadInputFailed}}},
    {"Text2 that refuses the link",
     {text2Refuses, type(kLink), editText2(u"kept"), repair},
     {.text1 = kLink, .text2 = u"kept", .color = ui::kBlack, .notices = {kShowResultFailed}}},
    {"memory running out on a huge paste",
     {readsRunOutOfMemory, type(kLink), editText2(u"kept"), repair},
     {.text1 = kLink, .text2 = u"kept", .color = ui::kBlack, .notices = {kOutOfMemory}}},
    {"same input gives the same result each time",
     {type(kLink), repair, repair, repair},
     {.text1 = kLink,
      .text2 = kHome,
      .color = ui::kBlack,
      .notices = {kRepaired, kRepaired, kRepaired}}},

    // Copy (Command2) puts Text2 on the clipboard, unchanged, or says why not.
    {"home link copied",
     {editText2(kHome), copy},
     {.text2 = kHome, .clipboard = kHome, .notices = {kCopied}, .clipboardAttempts = 1}},
    {"user-edited text copied unchanged",
     {editText2(u"  anything, 任何文字\t"), copy},
     {.text2 = u"  anything, 任何文字\t",
      .clipboard = u"  anything, 任何文字\t",
      .notices = {kCopied},
      .clipboardAttempts = 1}},
    {"empty Text2 leaves the clipboard alone", {copy}, {.notices = {kNothingToCopy}}},
    {"busy briefly, then copied",
     {clipboardBusyFor(3), editText2(kHome), copy},
     {.text2 = kHome, .clipboard = kHome, .notices = {kCopied}, .clipboardAttempts = 4}},
    {"busy throughout",
     {clipboardBusyFor(1000), editText2(kHome), copy},
     {.text2 = kHome, .notices = {kClipboardBusy}, .clipboardAttempts = ui::kClipboardAttempts}},
    {"write refused after the clipboard was emptied",
     {clipboardRefuses, editText2(kHome), copy},
     {.text2 = kHome, .clipboard = std::nullopt, .notices = {kCopyFailed}, .clipboardAttempts = 1}},
    {"Text2 that cannot be read",
     {readsFail, editText2(kHome), copy},
     {.text2 = kHome, .notices = {kReadResultFailed}}},
    {"memory running out",
     {readsRunOutOfMemory, editText2(kHome), copy},
     {.text2 = kHome, .notices = {kOutOfMemory}}},
    {"unsupported repair leaves the earlier link to copy",
     {type(kLink), repair, type(u"not a link"), repair, copy},
     {.text1 = u"not a link",
      .text2 = kHome,
      .color = ui::kBlack,
      .clipboard = kHome,
      .notices = {kRepaired, kUnsupported, kCopied},
      .clipboardAttempts = 1}},

    // Text1's hint goes at the first click or change, and only then.
    {"starts with the hint in the scroll-bar colour", {}, {}},
    {"first click empties and turns black", {click}, {.text1 = u"", .color = ui::kBlack}},
    {"later click keeps a pasted link",
     {click, type(kLink), click},
     {.text1 = kLink, .color = ui::kBlack}},
    {"typing without clicking keeps the hint text and turns black",
     {type(kHint + u"abc")},
     {.text1 = kHint + u"abc", .color = ui::kBlack}},
    {"click after typing keeps the text",
     {type(kHint + kLink), click},
     {.text1 = kHint + kLink, .color = ui::kBlack}},
    {"deleting everything stays black and shows no hint",
     {click, type(u"x"), type(u""), click},
     {.text1 = u"", .color = ui::kBlack}},
    {"box that refuses to empty is reported and kept",
     {text1Refuses, click},
     {.notices = {kClearHintFailed}}},
};

TEST(Form1Handlers, ShowWhatTheUserExpects) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeForm1 form;
    for (const Step& step : c.steps) {
      form.noticeOpen = false;  // the user dismissed it before going on
      step(form);
    }
    EXPECT_EQ(form.state, c.expected);
    EXPECT_FALSE(form.clipboardUsedAfterNotice)
        << "the clipboard is never held while a notice shows";
  }
}

TEST(Form1Handlers, CopyWaitsHalfASecondToASecondForABusyClipboard) {
  FakeForm1 form;
  form.busyAttempts = 1000;
  form.state.text2 = kHome;
  ui::onCommand2Click(form);
  EXPECT_GE(form.paused.count(), 500);
  EXPECT_LE(form.paused.count(), 1000);
}

}  // namespace
