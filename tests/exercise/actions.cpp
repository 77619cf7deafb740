#include "actions.h"

#include <algorithm>
#include <charconv>
#include <iterator>

#include "test_support.h"

namespace quenvar::exercise {
namespace {

// What an action says besides its kind, in the order its line gives it, and what it needs.
enum Field : unsigned { kUnder = 1, kHold = 2, kText = 4, kAt = 8, kNotice = 16, kBox = 32 };

struct KindText {
  const char* word;
  unsigned fields;
  int weight;  // how often the generator picks it among those applicable
};
// In the order of Kind.
constexpr KindText kKinds[] = {
    {"click-text1", kAt, 9},
    {"click-command1", kAt, 8},
    {"click-command2", kAt, 6},
    {"tab", 0, 8},
    {"shift-tab", 0, 5},
    {"enter", 0, 6},
    {"space", 0, 4},
    {"escape", 0, 2},
    {"end", 0, 3},
    {"copy-held", kHold | kAt, 3},
    {"minimise-restore", 0, 2},
    {"type", kText | kBox, 16},
    {"paste", kText | kBox, 8},
    {"select-all-delete", kBox, 3},
    {"dismiss-enter", kNotice, 4},
    {"dismiss-click", kAt | kNotice, 4},
    {"dismiss-escape", kNotice, 3},
    {"click-under-notice", kUnder | kAt | kNotice, 1},
    {"close", 0, 0},
};
static_assert(std::size(kKinds) == static_cast<std::size_t>(Kind::Close) + 1);

const KindText& about(Kind kind) {
  return kKinds[static_cast<int>(kind)];
}

std::u16string digits(int n) {
  const std::string s = std::to_string(n);
  return {s.begin(), s.end()};
}

std::string number(double value) {
  char buffer[32];
  return {buffer, std::to_chars(std::begin(buffer), std::end(buffer), value).ptr};
}

std::string quoted(std::u16string_view text) {
  std::string out = "\"";
  std::size_t run = 0;  // start of the units that go out as they are
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] >= 0x20 && text[i] != u'"' && text[i] != u'\\')
      continue;
    out += test::utf8(text.substr(run, i - run));  // writes a lone surrogate as \uXXXX
    if (i < text.size() && text[i] < 0x20) {
      out += "\\u00";
      out += "0123456789ABCDEF"[text[i] >> 4];
      out += "0123456789ABCDEF"[text[i] & 0xF];
    } else if (i < text.size()) {
      out += '\\';
      out += static_cast<char>(text[i]);
    }
    run = i + 1;
  }
  return out + "\"";
}

// Strict UTF-8 to UTF-16: no overlong forms, no encoded surrogates.
bool appendUtf8(std::string_view bytes, std::u16string& out) {
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const int more = lead < 0x80       ? 0
                     : lead >> 5 == 6  ? 1
                     : lead >> 4 == 14 ? 2
                     : lead >> 3 == 30 ? 3
                                       : -1;
    if (more < 0 || bytes.size() - i <= static_cast<std::size_t>(more))
      return false;
    char32_t c = lead & (0x7Fu >> more);
    for (int k = 1; k <= more; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
      if ((next & 0xC0) != 0x80)
        return false;
      c = c << 6 | (next & 0x3Fu);
    }
    constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (c < kLeast[more] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
      return false;
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += static_cast<std::size_t>(more) + 1;
  }
  return true;
}

// Reads one line's words and quoted texts; the first failure is kept in `error`.
struct Words {
  std::string_view rest;
  std::string error;

  std::string_view word() {
    rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
    const std::string_view w = rest.substr(0, rest.find(' '));
    rest.remove_prefix(w.size());
    return w;
  }
  template <typename T>
  T number(std::string_view suffix = {}) {
    const std::string_view w = word();
    T v{};
    const auto [end, fault] = std::from_chars(w.data(), w.data() + w.size(), v);
    if (fault != std::errc{} || std::string_view(end, w.data() + w.size()) != suffix) {
      std::string what = "\"";
      fail(what.append(w).append("\" is not a number").append(suffix.empty() ? "" : " of ms"));
    }
    return v;
  }
  std::u16string text() {
    std::u16string out;
    rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
    if (!rest.starts_with('"'))
      return fail("a quoted text is missing");
    for (std::size_t i = 1;;) {
      const std::size_t special = rest.find_first_of("\"\\", i);
      if (special == std::string_view::npos)
        return fail("the quote is not closed");
      if (!appendUtf8(rest.substr(i, special - i), out))
        return fail("the text is not UTF-8");
      if (rest[special] == '"') {
        rest.remove_prefix(special + 1);
        return out;
      }
      const std::string_view escape = rest.substr(special, 6);
      unsigned unit = 0;
      if (escape.starts_with("\\\"") || escape.starts_with("\\\\")) {
        out += static_cast<char16_t>(escape[1]);
        i = special + 2;
      } else if (escape.size() == 6 && escape[1] == 'u' &&
                 std::from_chars(escape.data() + 2, escape.data() + 6, unit, 16).ptr ==
                     escape.data() + 6) {
        out += static_cast<char16_t>(unit);
        i = special + 6;
      } else {
        return fail("an escape is not \\\", \\\\ or \\uXXXX");
      }
    }
  }
  // Keeps the first failure; returns an empty text for the caller's convenience.
  std::u16string fail(std::string what) {
    if (error.empty())
      error = std::move(what);
    return {};
  }
};

}  // namespace

bool applicable(const Action& a, const Model& m) {
  const unsigned fields = about(a.kind).fields;
  if (m.closed || a.kind == Kind::Close)
    return !m.closed;
  return ((fields & kNotice) != 0) == m.notice.has_value() && (!(fields & kBox) || m.focusOnBox());
}

void apply(const Action& a, Model& m, CopyOutcome heldCopy) {
  switch (a.kind) {
    case Kind::ClickText1:
      m.clickText1();
      break;
    case Kind::ClickCommand1:
      m.press(Control::Command1);
      break;
    case Kind::ClickCommand2:
      m.press(Control::Command2);
      break;
    case Kind::Type:
      m.type(a.text);
      break;
    case Kind::Paste:
      if (a.newClipboard) {
        m.clipboard = a.text;
        m.clipboardHasOtherFormats = true;
      }
      m.type(m.clipboard);
      break;
    case Kind::SelectAllAndDelete:
      m.selectAllAndDelete();
      break;
    case Kind::Tab:
    case Kind::ShiftTab:
      m.tab(a.kind == Kind::ShiftTab);
      break;
    case Kind::Enter:
    case Kind::Space:
      if (m.focusOnBox()) {
        if (a.kind == Kind::Space)
          m.type(u" ");
      } else {
        m.press(m.focus);
      }
      break;
    case Kind::End:
      if (m.focusOnBox())
        m.end();
      break;
    case Kind::CopyWhileClipboardHeld:
      m.focus = Control::Command2;
      m.copy(heldCopy);
      break;
    case Kind::DismissWithEnter:
    case Kind::DismissWithClick:
    case Kind::DismissWithEscape:
      m.dismissNotice();
      break;
    case Kind::Close:
      m.closed = true;
      break;
    case Kind::Escape:
    case Kind::MinimizeAndRestore:
    case Kind::ClickUnderNotice:
      break;
  }
}

Actions performed(const Actions& actions) {
  Model m;
  Actions done;
  for (const Action& a : actions) {
    if (applicable(a, m)) {
      apply(a, m);
      done.push_back(a);
    }
  }
  return done;
}

std::uint64_t Random::next() {  // splitmix64
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::u16string Generator::randomText() {
  // clang-format off
  static const std::u16string pieces[] = {
      u"https://pan.baidu.com/share/link?shareid=", u"&uk=", u"?uk=", u"=", u" ", u"  ",
      u"1234567890", u"0987654321", u"42", u"abc", u"XYZ", u".-_/:%#", u"链接", u"分享",
      u"网盘主页", u"失效", u"\U0001F600", u"\U00020000", u"\U0001F517", u"全角＝"};
  // clang-format on
  Random& r = random_;
  auto piece = [&] { return pieces[static_cast<std::size_t>(r.below(std::size(pieces)))]; };
  std::u16string text;
  switch (r.below(4)) {
    case 0: {  // a link whose key decides the outcome: often ten units, sometimes off by one
      text = u"https://pan.baidu.com/share/link?shareid=" + digits(r.below(100000)) + u"&uk=";
      const int keyLength = 9 + r.below(3) + (r.below(3) == 0 ? 0 : 1 - r.below(2));
      for (int i = 0; i < keyLength; ++i)
        text += static_cast<char16_t>(u'0' + r.below(10));
      return text;
    }
    case 1:  // "=" and the first units of ten pieces, a lone surrogate among them at times
      text = u"=";
      for (int i = 0; i < 10; ++i)
        text += piece().substr(0, 1);
      return text;
    default: {
      const int count = 1 + r.below(5);
      for (int i = 0; i < count; ++i)
        text += piece();
      return text;
    }
  }
}

Action Generator::next() {
  int weights[std::size(kKinds)] = {}, total = 0;
  for (std::size_t k = 0; k < std::size(kKinds); ++k)
    total += weights[k] = applicable(Action(static_cast<Kind>(k)), model_) ? kKinds[k].weight : 0;
  std::size_t chosen = 0;
  for (int pick = random_.below(total); pick >= weights[chosen];)
    pick -= weights[chosen++];
  Action a(static_cast<Kind>(chosen));
  // Every parameter is drawn for every kind, so that one kind's draws never shift another's.
  const double x = random_.fraction(), y = random_.fraction();
  const int hold = random_.below(1501);
  const bool newClipboard = random_.below(10) < 7;
  const auto under = static_cast<Control>(random_.below(kControls));
  std::u16string text = randomText();
  const unsigned fields = about(a.kind).fields;
  if (fields & kAt) {
    a.x = x;
    a.y = y;
  }
  if (fields & kHold)
    a.holdMilliseconds = hold;
  if (fields & kUnder)
    a.under = under;
  a.newClipboard = a.kind == Kind::Paste && newClipboard;
  if (a.kind == Kind::Type || a.newClipboard)
    a.text = std::move(text);
  apply(a, model_);
  return a;
}

Actions shrink(Actions kept, const std::function<bool(const Actions&)>& diverges,
               std::chrono::steady_clock::time_point deadline) {
  for (std::size_t piece = kept.size() / 2; piece >= 1; piece /= 2) {
    for (std::size_t at = 0; at < kept.size();) {
      if (std::chrono::steady_clock::now() > deadline)
        return kept;
      Actions trial(kept.begin(), kept.begin() + static_cast<long>(at));
      trial.insert(trial.end(), kept.begin() + static_cast<long>(std::min(at + piece, kept.size())),
                   kept.end());
      if (!trial.empty() && diverges(trial))
        kept = std::move(trial);
      else
        at += piece;
    }
  }
  return kept;
}

std::string toText(const Action& a) {
  const unsigned fields = about(a.kind).fields;
  std::string line = about(a.kind).word;
  if (fields & kUnder)
    line += std::string(" ") + kControlNames[static_cast<int>(a.under)];
  if (fields & kHold)
    line += " " + std::to_string(a.holdMilliseconds) + "ms";
  if (a.kind == Kind::Type || a.newClipboard)
    line += " " + quoted(a.text);
  if (fields & kAt)
    line += " at " + number(a.x) + " " + number(a.y);
  return line;
}

std::string toText(std::string_view caught, const Actions& actions) {
  std::string text = "# " + std::string(caught) + "\n";
  for (const Action& a : actions)
    text += toText(a) + "\n";
  return text;
}

ParsedList parseList(std::string_view text) {
  ParsedList list;
  for (int number = 1; !text.empty(); ++number) {
    std::string_view line = text.substr(0, text.find('\n'));
    text.remove_prefix(std::min(line.size() + 1, text.size()));
    if (line.ends_with('\r'))
      line.remove_suffix(1);
    if (line.starts_with('#')) {
      if (number == 1)
        list.caught = line.substr(std::min(line.find_first_not_of("# "), line.size()));
      continue;
    }
    if (line.find_first_not_of(' ') == std::string_view::npos)
      continue;
    Words words{line, {}};
    const std::string_view word = words.word();
    const auto kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                   [&](const KindText& k) { return k.word == word; });
    Action a;
    if (kind == std::end(kKinds)) {
      words.fail("no such action");
    } else {
      a.kind = static_cast<Kind>(kind - std::begin(kKinds));
      if (kind->fields & kUnder) {
        const std::string_view name = words.word();
        const auto control = std::find(std::begin(kControlNames), std::end(kControlNames), name);
        if (control == std::end(kControlNames))
          words.fail("no such control");
        a.under = static_cast<Control>(control - std::begin(kControlNames));
      }
      if (kind->fields & kHold)
        a.holdMilliseconds = words.number<int>("ms");
      a.newClipboard = a.kind == Kind::Paste && words.rest.find('"') != std::string_view::npos;
      if (a.kind == Kind::Type || a.newClipboard)
        a.text = words.text();
      if (kind->fields & kAt) {
        if (words.word() != "at")
          words.fail("\"at\" is missing");
        a.x = words.number<double>();
        a.y = words.number<double>();
        if (!(a.x >= 0 && a.x <= 1 && a.y >= 0 && a.y <= 1))
          words.fail("a position must be from 0 to 1");
      }
      if (words.rest.find_first_not_of(' ') != std::string_view::npos)
        words.fail("more follows the action");
    }
    if (!words.error.empty()) {
      list.error = "line " + std::to_string(number) + ": " + words.error;
      return list;
    }
    list.actions.push_back(a);
  }
  return list;
}

}  // namespace quenvar::exercise
