// The exerciser's actions and all of their handling that needs no window: when one can be done,
// its effect on the model, random actions from a seed, shrinking a list that diverges, and the
// text form in which lists are kept and replayed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model.h"

namespace quenvar::exercise {

inline constexpr const char* kControlNames[kControls] = {"Command1", "Text1", "Text2", "Command2"};

// Each kind of action, in the order in which the generator weighs them: its word in a list file,
// what its line gives besides the word and what it needs (the fields in actions.cpp), and how
// often the generator picks it among those that can be done.
#define QUENVAR_EXERCISE_KINDS(KIND)                                      \
  KIND(ClickText1, "click-text1", kAt, 9)                                 \
  KIND(ClickCommand1, "click-command1", kAt, 8)                           \
  KIND(ClickCommand2, "click-command2", kAt, 6)                           \
  KIND(Tab, "tab", 0, 8)                                                  \
  KIND(ShiftTab, "shift-tab", 0, 5)                                       \
  KIND(Enter, "enter", 0, 6)                                              \
  KIND(Space, "space", 0, 4)                                              \
  KIND(Escape, "escape", 0, 2)                                            \
  KIND(End, "end", 0, 3)                                                  \
  KIND(CopyWhileClipboardHeld, "copy-held", kHold | kAt, 3)               \
  KIND(MinimizeAndRestore, "minimise-restore", 0, 2)                      \
  KIND(Type, "type", kBox, 16)                                            \
  KIND(Paste, "paste", kBox, 8)                                           \
  KIND(SelectAllAndDelete, "select-all-delete", kBox, 3)                  \
  KIND(DismissWithEnter, "dismiss-enter", kNotice, 4)                     \
  KIND(DismissWithClick, "dismiss-click", kAt | kNotice, 4)               \
  KIND(DismissWithEscape, "dismiss-escape", kNotice, 3)                   \
  KIND(ClickUnderNotice, "click-under-notice", kUnder | kAt | kNotice, 1) \
  KIND(Close, "close", 0, 0)

enum class Kind {
#define QUENVAR_KIND_NAME(name, word, fields, weight) name,
  QUENVAR_EXERCISE_KINDS(QUENVAR_KIND_NAME)
#undef QUENVAR_KIND_NAME
};

// Only the fields that its kind uses differ from their defaults.
struct Action {
  explicit Action(Kind k = Kind::Close) : kind(k) {}
  Kind kind;
  std::u16string text;                // typed, or put on the clipboard before a paste
  bool newClipboard = false;          // a paste of `text`, which the driver puts there first
  double x = 0.5, y = 0.5;            // where in the target a click lands, as fractions
  int holdMilliseconds = 0;           // how long another program keeps the clipboard
  Control under = Control::Command1;  // what a click under a notice hits
  bool operator==(const Action&) const = default;
};
using Actions = std::vector<Action>;

bool applicable(const Action& a, const Model& m);
// The model's part of an applicable action. `heldCopy` is how a copy against a held clipboard
// must end, as the driver saw it happen.
void apply(const Action& a, Model& m, CopyOutcome heldCopy = CopyOutcome::EitherCopiedOrBusy);
// What a replay performs: the actions that are applicable when their turn comes.
Actions performed(const Actions& actions);

// Random actions, each applicable after those before it; never a close. The weights depend only
// on what no observation changes (a notice open or not, what has the focus).
class Generator {
 public:
  explicit Generator(std::uint64_t seed) : state_(seed) {}
  Action next();

 private:
  std::uint64_t random();  // splitmix64: small and fully specified, so a seed means the same
  int below(int n) { return static_cast<int>(random() % static_cast<std::uint64_t>(n)); }
  std::u16string randomText();
  std::uint64_t state_;
  Model model_;
};

// Drops actions while `diverges` still holds, halves first, down to single actions, until none
// can go or the deadline passes.
Actions shrink(
    Actions actions, const std::function<bool(const Actions&)>& diverges,
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());

// The text form: UTF-8, one action a line, e.g. `click-text1 at 0.25 0.5`, `type "a\"b"`,
// `paste` (what the clipboard holds), `copy-held 700ms at 0.1 0.9`,
// `click-under-notice Text2 at 0.5 0.5`, `close`. Positions are written exactly, in the fewest
// digits that read back the same. In quotes, `"` and `\` are escaped with `\`, a control
// character or a lone surrogate as `\uXXXX`. The first line, "# " and what the list once caught,
// and other lines that start with "#" are comments. Only lines as toText writes them are read.
std::string toText(const Action& a);
std::string toText(std::string_view caught, const Actions& actions);
struct ParsedList {
  std::string caught;
  Actions actions;
  std::string error;  // names the first line that could not be read; empty when all were
};
ParsedList parseList(std::string_view text);

}  // namespace quenvar::exercise
