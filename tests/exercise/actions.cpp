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
  int weight;
};
constexpr KindText kKinds[] = {
#define QUENVAR_KIND_TEXT(name, word, fields, weight) {word, fields, weight},
    QUENVAR_EXERCISE_KINDS(QUENVAR_KIND_TEXT)
#undef QUENVAR_KIND_TEXT
};

unsigned fieldsOf(Kind kind) {
  return kKinds[static_cast<int>(kind)].fields;
}
bool hasText(const Action& a) {
  return a.kind == Kind::Type || a.newClipboard;
}

std::string number(double value) {
  char buffer[32];
  return {buffer, std::to_chars(std::begin(buffer), std::end(buffer), value).ptr};
}

// test::utf8 writes a control character or a lone surrogate as \uXXXX.
std::string inQuotes(std::u16string_view text) {
  std::u16string escaped;
  for (char16_t unit : text) {
    if (unit == u'"' || unit == u'\\')
      escaped += u'\\';
    escaped += unit;
  }
  std::string out = "\"";
  out += test::utf8(escaped);
  return out + "\"";
}

// The text in quotes at the start of `rest`, which it consumes. It reads leniently: what is not
// written as inQuotes() writes it comes out otherwise, and parseList's check that the line reads
// back as written rejects it.
std::u16string unquote(std::string_view& rest) {
  std::u16string out;
  std::size_t i = 1;
  auto byte = [&]() -> char32_t { return i < rest.size() ? rest[i++] & 0xFFu : 0; };
  while (i < rest.size() && rest[i] != '"') {
    char32_t c = byte();
    if (c == '\\' && i < rest.size() && rest[i] == 'u') {
      unsigned unit = 0;
      std::from_chars(rest.data() + i + 1, rest.data() + std::min(i + 5, rest.size()), unit, 16);
      c = unit;
      i += 5;
    } else if (c == '\\') {
      c = byte();
    } else if (c >= 0xC0) {  // the lead byte of a UTF-8 sequence
      const int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
      c &= 0x3Fu >> more;
      for (int k = 0; k < more; ++k)
        c = c << 6 | (byte() & 0x3Fu);
    }
    if (c >= 0x10000)
      out +=
          {static_cast<char16_t>(0xD7C0 + (c >> 10)), static_cast<char16_t>(0xDC00 | (c & 0x3FF))};
    else
      out += static_cast<char16_t>(c);
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
    const auto at = std::find(std::begin(kControlNames), std::end(kControlNames), word());
    if (at == std::end(kControlNames))
      return std::nullopt;
    a.under = static_cast<Control>(at - std::begin(kControlNames));
  }
  if ((kind->fields & kHold) && !number(a.holdMilliseconds))
    return std::nullopt;
  a.newClipboard = a.kind == Kind::Paste && rest.starts_with('"');
  if (hasText(a))
    a.text = unquote(rest);
  if ((kind->fields & kAt) && (word() != "at" || !number(a.x) || !number(a.y) ||
                               !(a.x >= 0 && a.x <= 1 && a.y >= 0 && a.y <= 1)))
    return std::nullopt;
  return a;
}

}  // namespace

bool applicable(const Action& a, const Model& m) {
  if (m.closed || a.kind == Kind::Close)
    return !m.closed;
  const unsigned fields = fieldsOf(a.kind);
  return ((fields & kNotice) != 0) == m.notice.has_value() && (!(fields & kBox) || m.focusOnBox());
}

void apply(const Action& a, Model& m, CopyOutcome heldCopy) {
  switch (a.kind) {
    case Kind::ClickText1:
      return m.clickText1();
    case Kind::ClickCommand1:
      return m.press(Control::Command1);
    case Kind::ClickCommand2:
      return m.press(Control::Command2);
    case Kind::Type:
      return m.type(a.text);
    case Kind::Paste:
      if (a.newClipboard) {
        m.clipboard = a.text;
        m.clipboardHasOtherFormats = true;
      }
      return m.type(m.clipboard);
    case Kind::SelectAllAndDelete:
      return m.selectAllAndDelete();
    case Kind::Tab:
    case Kind::ShiftTab:
      return m.tab(a.kind == Kind::ShiftTab);
    case Kind::Enter:
    case Kind::Space:
      if (!m.focusOnBox())
        return m.press(m.focus);
      if (a.kind == Kind::Space)
        m.type(u" ");
      return;
    case Kind::End:
      if (m.focusOnBox())
        m.focusedBox().start = m.focusedBox().end = m.focusedBox().text.size();
      return;
    case Kind::CopyWhileClipboardHeld:
      m.focus = Control::Command2;
      return m.copy(heldCopy);
    case Kind::DismissWithEnter:
    case Kind::DismissWithClick:
    case Kind::DismissWithEscape:
      return m.dismissNotice();
    case Kind::Close:
      m.closed = true;
      return;
    case Kind::Escape:
    case Kind::MinimizeAndRestore:
    case Kind::ClickUnderNotice:
      return;
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
      const std::string id = std::to_string(below(100000));
      text = u"https://pan.baidu.com/share/link?shareid=" + std::u16string(id.begin(), id.end());
      text += u"&uk=";
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
    default:
      for (int count = 1 + below(5); count > 0; --count)
        text += piece();
      return text;
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
  auto fraction = [&] { return static_cast<double>(random() >> 11) / 9007199254740992.0; };
  const double x = fraction(), y = fraction();
  const int hold = below(1501);
  const bool newClipboard = below(10) < 7;
  const auto under = static_cast<Control>(below(kControls));
  std::u16string text = randomText();
  const unsigned fields = fieldsOf(a.kind);
  if (fields & kAt) {
    a.x = x;
    a.y = y;
  }
  if (fields & kHold)
    a.holdMilliseconds = hold;
  if (fields & kUnder)
    a.under = under;
  a.newClipboard = a.kind == Kind::Paste && newClipboard;
  if (hasText(a))
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
  const unsigned fields = fieldsOf(a.kind);
  std::string line = kKinds[static_cast<int>(a.kind)].word;
  // Appended word by word: MinGW GCC 12 at -O3 takes " " + a returned string for an overlapping
  // copy (-Wrestrict).
  auto add = [&](const std::string& word) { line.append(" ").append(word); };
  if (fields & kUnder)
    add(kControlNames[static_cast<int>(a.under)]);
  if (fields & kHold)
    add(std::to_string(a.holdMilliseconds) + "ms");
  if (hasText(a))
    add(inQuotes(a.text));
  if (fields & kAt) {
    add("at");
    add(number(a.x));
    add(number(a.y));
  }
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
    const std::string_view line = text.substr(0, text.find('\n'));
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
