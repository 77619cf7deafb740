#include "actions.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <optional>

#include "test_support.h"

namespace quenvar::exercise {
namespace {

// What an action says besides its kind, in the order its line gives it, and what it needs.
enum Field : unsigned { kUnder = 1, kHold = 2, kAt = 4, kNotice = 8, kBox = 16 };

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
    {"type", kBox, 16},
    {"paste", kBox, 8},
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

// UTF-8 to UTF-16, leniently: what is not UTF-8 comes out otherwise, which parseList's check
// that a line reads back as written then rejects.
std::u16string fromUtf8(std::string_view bytes) {
  std::u16string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i++]);
    const int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    char32_t c = lead & (0x7Fu >> more);
    for (int k = 0; k < more && i < bytes.size(); ++k)
      c = c << 6 | (static_cast<unsigned char>(bytes[i++]) & 0x3Fu);
    if (c >= 0x10000)
      out +=
          {static_cast<char16_t>(0xD7C0 + (c >> 10)), static_cast<char16_t>(0xDC00 | (c & 0x3FF))};
    else
      out += static_cast<char16_t>(c);
  }
  return out;
}

// The text of a line that starts with a quote, up to its closing quote, which it consumes.
std::u16string unquote(std::string_view& rest) {
  std::u16string out;
  std::size_t i = 1;
  while (i < rest.size() && rest[i] != '"') {
    const std::size_t special = std::min(rest.find_first_of("\"\\", i), rest.size());
    out += fromUtf8(rest.substr(i, special - i));
    if (special + 1 < rest.size() && rest[special] == '\\' && rest[special + 1] == 'u') {
      unsigned unit = 0;
      std::from_chars(rest.data() + special + 2, rest.data() + std::min(special + 6, rest.size()),
                      unit, 16);
      out += static_cast<char16_t>(unit);
      i = special + 6;
    } else if (special + 1 < rest.size() && rest[special] == '\\') {
      out += static_cast<char16_t>(rest[special + 1]);
      i = special + 2;
    } else {
      i = special;
    }
  }
  rest.remove_prefix(std::min(i + 1, rest.size()));
  return out;
}

// An action from its line, or nothing when the line does not name one with what it needs.
std::optional<Action> parseAction(std::string_view rest) {
  auto word = [&] {
    const std::string_view w = rest.substr(0, rest.find(' '));
    rest.remove_prefix(std::min(w.size() + 1, rest.size()));
    return w;
  };
  auto number = [&](auto& value) {
    const std::string_view w = word();
    return std::from_chars(w.data(), w.data() + w.size(), value).ec == std::errc{};
  };
  const std::string_view name = word();
  const auto kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                 [&](const KindText& k) { return k.word == name; });
  if (kind == std::end(kKinds))
    return std::nullopt;
  Action a(static_cast<Kind>(kind - std::begin(kKinds)));
  if (kind->fields & kUnder) {
    const std::string_view control = word();
    const auto at = std::find(std::begin(kControlNames), std::end(kControlNames), control);
    if (at == std::end(kControlNames))
      return std::nullopt;
    a.under = static_cast<Control>(at - std::begin(kControlNames));
  }
  if ((kind->fields & kHold) && !number(a.holdMilliseconds))
    return std::nullopt;
  a.newClipboard = a.kind == Kind::Paste && rest.starts_with('"');
  if (a.kind == Kind::Type || a.newClipboard)
    a.text = unquote(rest);
  if ((kind->fields & kAt) &&
      (word() != "at" || !number(a.x) || !number(a.y) || a.x < 0 || a.x > 1 || a.y < 0 || a.y > 1))
    return std::nullopt;
  return a;
}

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

std::uint64_t Generator::random() {
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
  auto piece = [&] { return pieces[static_cast<std::size_t>(below(std::size(pieces)))]; };
  std::u16string text;
  switch (below(4)) {
    case 0: {  // a link whose key decides the outcome: often ten units, sometimes off by one
      text = u"https://pan.baidu.com/share/link?shareid=" + digits(below(100000)) + u"&uk=";
      const int keyLength = 9 + below(3) + (below(3) == 0 ? 0 : 1 - below(2));
      for (int i = 0; i < keyLength; ++i)
        text += static_cast<char16_t>(u'0' + below(10));
      return text;
    }
    case 1:  // "=" and the first units of ten pieces, a lone surrogate among them at times
      text = u"=";
      for (int i = 0; i < 10; ++i)
        text += piece().substr(0, 1);
      return text;
    default: {
      const int count = 1 + below(5);
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
  for (int pick = below(total); pick >= weights[chosen];)
    pick -= weights[chosen++];
  Action a(static_cast<Kind>(chosen));
  // Every parameter is drawn for every kind, so that one kind's draws never shift another's.
  const double x = fraction(), y = fraction();
  const int hold = below(1501);
  const bool newClipboard = below(10) < 7;
  const auto under = static_cast<Control>(below(kControls));
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
    if (number == 1 && line.starts_with("# "))
      list.caught = line.substr(2);
    if (line.empty() || line.starts_with('#'))
      continue;
    // Only what toText writes is read, so nothing in a list is taken otherwise than meant.
    const std::optional<Action> a = parseAction(line);
    if (!a || toText(*a) != line) {
      list.error =
          "line " + std::to_string(number) + " is not an action as the exerciser writes one";
      return list;
    }
    list.actions.push_back(*a);
  }
  return list;
}

}  // namespace quenvar::exercise
