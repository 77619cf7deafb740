#include "actions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "test_support.h"

namespace quenvar::exercise {
// Failures show an action as its line.
void PrintTo(const Action& a, std::ostream* os) {
  *os << toText(a);
}
}  // namespace quenvar::exercise

namespace {

using namespace quenvar::exercise;
using quenvar::test::utf8;

Actions parsed(std::string_view text) {
  const ParsedList list = parseList(text);
  EXPECT_EQ(list.error, "") << text;
  return list.actions;
}

Model after(std::string_view text) {
  Model m;
  for (const Action& a : parsed(text)) {
    if (applicable(a, m))
      apply(a, m);
  }
  return m;
}

TEST(ExerciseActions, GeneratedListsAreApplicableInTurnAndTheirTextReadsBackTheSame) {
  Generator generator(20261208);
  Actions actions;
  std::set<Kind> kinds;
  for (int i = 0; i < 5000; ++i) {
    actions.push_back(generator.next());
    kinds.insert(actions.back().kind);
  }
  EXPECT_EQ(kinds.size(), static_cast<std::size_t>(Kind::Close)) << "every kind but a close";
  EXPECT_EQ(performed(actions).size(), actions.size());

  Action typed(Kind::Type), pasted(Kind::Paste);
  typed.text = pasted.text = u"\"\\\t 链接 \U0001F600 \xD83D lone \xDE00 end";
  pasted.newClipboard = true;
  actions.insert(actions.begin(), {typed, pasted, Action()});
  const ParsedList back = parseList(toText("what it caught", actions));
  EXPECT_EQ(back.error, "");
  EXPECT_EQ(back.caught, "what it caught");
  ASSERT_EQ(back.actions.size(), actions.size());
  for (std::size_t i = 0; i < actions.size(); ++i)
    ASSERT_EQ(back.actions[i], actions[i]) << "line " << i + 2;
}

TEST(ExerciseActions, CaseFilesAreReplayedAsWritten) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(QUENVAR_EXERCISE_CASES)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    const ParsedList list = parseList(text);
    EXPECT_EQ(list.error, "") << entry.path();
    EXPECT_FALSE(list.caught.empty()) << entry.path() << ": the first line says what it caught";
    EXPECT_EQ(performed(list.actions), list.actions) << entry.path() << ": all are performed";
    const std::string written = toText(list.caught, list.actions);
    const auto differ = std::mismatch(text.begin(), text.end(), written.begin(), written.end());
    EXPECT_TRUE(written == text) << entry.path() << " is written back otherwise from line "
                                 << 1 + std::count(text.begin(), differ.first, '\n');
    ++files;
  }
  EXPECT_GT(files, 0);
}

TEST(ExerciseActions, ListErrorsNameTheFirstLineThatIsNotAsWritten) {
  const struct {
    const char* name;
    std::string text;
    int line;
  } kBadLines[] = {
      {"unknown", "# x\ntab\njump\n", 3},
      {"more", "tab tab", 1},
      {"unclosed", "type \"abc", 1},
      {"backslash last", "type \"abc\\", 1},
      {"overlong", "type \"\xC0\xAF\"", 1},
      {"raw surrogate", "type \"\xED\xA0\x80\"", 1},
      {"short escape", "type \"\\uD83\"", 1},
      {"outside", "click-text1 at 0.5 1.5", 1},
      {"not a number", "click-text1 at nan 0.5", 1},
      {"not shortest", "click-text1 at 0.50 0.5", 1},
      {"no at", "dismiss-click 0.5 0.5", 1},
      {"control", "click-under-notice Text3 at 0 0", 1},
      {"no ms", "copy-held 700 at 0 0", 1},
  };
  for (const auto& c : kBadLines) {
    EXPECT_EQ(parseList(c.text).error,
              "line " + std::to_string(c.line) + " is not an action as the exerciser writes one")
        << c.name;
  }
}

const std::u16string kLinkText = u"https://pan.baidu.com/share/link?shareid=1&uk=1234567890";
const std::u16string kHome = u"http://pan.baidu.com/share/home?uk=1234567890";
const std::string kTypeLink = "type \"" + utf8(kLinkText) + "\"\n";

TEST(ExerciseModel, ShowsWhatQuenvarShould) {
  using enum Control;
  const struct {
    const char* name;
    std::string actions;
    std::u16string text1;
    std::size_t start1, end1;
    std::u16string text2, notice;  // no notice when empty
    Control focus;
    bool hint;
  } kSequences[] = {
      {"start", "", kHint, 0, 0, u"", u"", Command1, true},
      {"click clears the hint", "click-text1 at 0.9 0.9", u"", 0, 0, u"", u"", Text1, false},
      {"tab selects the hint", "tab", kHint, 0, kHint.size(), u"", u"", Text1, true},
      {"typing over the selected hint", "tab\ntype \"a\U0001F600\"", u"a\U0001F600", 3, 3, u"", u"",
       Text1, false},
      {"select all and delete", "tab\nselect-all-delete", u"", 0, 0, u"", u"", Text1, false},
      {"enter in a box types nothing, space a space", "tab\nenter\nspace", u" ", 1, 1, u"", u"",
       Text1, false},
      {"repair", "tab\n" + kTypeLink + "click-command1 at 0 0", kLinkText, 56, 56, kHome, kRepaired,
       Command1, false},
      {"unsupported", "enter", kHint, 0, 0, u"", kUnsupported, Command1, true},
      {"nothing to copy", "shift-tab\nspace", kHint, 0, 0, u"", kNothingToCopy, Command2, true},
      {"dismissed", "shift-tab\nspace\ndismiss-escape", kHint, 0, 0, u"", u"", Command2, true},
      {"copy", "tab\n" + kTypeLink + "shift-tab\nenter\ndismiss-enter\nshift-tab\nspace", kLinkText,
       56, 56, kHome, kCopied, Command2, false},
      {"end puts the caret last", "tab\nend", kHint, kHint.size(), kHint.size(), u"", u"", Text1,
       true},
  };
  for (const auto& s : kSequences) {
    SCOPED_TRACE(s.name);
    const Model m = after(s.actions);
    EXPECT_EQ(utf8(m.text1.text), utf8(s.text1)) << "Text1";
    EXPECT_EQ(m.text1.start, s.start1) << "Text1's selection";
    EXPECT_EQ(m.text1.end, s.end1) << "Text1's selection";
    EXPECT_EQ(utf8(m.text2.text), utf8(s.text2)) << "Text2";
    EXPECT_EQ(utf8(m.notice.value_or(u"")), utf8(s.notice)) << "the notice";
    EXPECT_STREQ(kControlNames[static_cast<int>(m.focus)],
                 kControlNames[static_cast<int>(s.focus)]);
    EXPECT_EQ(m.hintShown, s.hint) << "the hint";
  }
}

TEST(ExerciseModel, ActionsFollowTheNoticeTheFocusAndTheClose) {
  const struct {
    const char* name;
    std::string before, action;
    bool applicable;
  } kCases[] = {
      {"typing on a button", "", "type \"a\"", false},
      {"typing in a box", "tab", "type \"a\"", true},
      {"pasting on a button", "tab\ntab\ntab", "paste", false},
      {"dismissing nothing", "", "dismiss-enter", false},
      {"dismissing a notice", "enter", "dismiss-enter", true},
      {"tab under a notice", "enter", "tab", false},
      {"closing under a notice", "enter", "close", true},
      {"anything after closing", "close", "close", false},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(applicable(parsed(c.action).at(0), after(c.before)), c.applicable) << c.name;
}

TEST(ExerciseShrink, ReachesTheSmallestListThatStillDiverges) {
  // A planted divergence: three Shift+Tabs after typing "needle".
  auto diverges = [](const Actions& list) {
    const auto typed = std::find_if(list.begin(), list.end(), [](const Action& a) {
      return a.kind == Kind::Type && a.text == u"needle";
    });
    return std::count_if(typed, list.end(),
                         [](const Action& a) { return a.kind == Kind::ShiftTab; }) >= 3;
  };
  Generator generator(7);
  Actions actions;
  for (int i = 0; i < 300; ++i)
    actions.push_back(generator.next());
  actions.insert(actions.begin() + 200, parsed("type \"needle\"").at(0));
  ASSERT_TRUE(diverges(actions));
  std::string shrunk;
  for (const Action& a : shrink(actions, diverges))
    shrunk += toText(a) + "\n";
  EXPECT_EQ(shrunk, "type \"needle\"\nshift-tab\nshift-tab\nshift-tab\n");
  EXPECT_EQ(shrink(actions, diverges, std::chrono::steady_clock::now()), actions)
      << "past the deadline nothing is tried";
}

}  // namespace
