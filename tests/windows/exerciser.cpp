// Works the real Quenvar.exe with long random sequences of what a person or the system can do,
// from a seed, and after every step compares what the window shows with the model in
// exercise_model.h. On a divergence it prints what differed and a shortened list of actions that
// still diverges, then goes on with a fresh Quenvar.
//
//   exerciser --exe=PATH [--seed=S] [--actions=N | --seconds=T] [--keep=I,J,...]
//             [--shrink-seconds=T] [--target=NAME]
//   exerciser [--seed=S] --list=I,J-K,...      prints those of the seed's actions
// The last line is "N actions, M divergences (seed S)"; the exit status is non-zero on any
// divergence. The same program started with --hold-clipboard=ID holds the clipboard for it.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <tuple>
#include <string>
#include <vector>

#include "desktop.h"
#include "exercise_model.h"
#include "quenvar_driver.h"
#include "windows_path.h"

namespace quenvar::exercise {
namespace {

using namespace std::chrono_literals;
using desktop::utf8;
using desktop::waitUntil;

// ---- Actions ----

enum class Kind {
  ClickText1,
  ClickCommand1,
  ClickCommand2,
  Type,
  Paste,
  SelectAllAndDelete,
  Tab,
  ShiftTab,
  Enter,
  Space,
  Escape,
  End,
  CopyWhileClipboardHeld,
  MinimizeAndRestore,
  DismissWithEnter,
  DismissWithClick,
  DismissWithEscape,
  ClickUnderNotice,
  Close,
};

struct Action {
  Kind kind = Kind::Close;
  std::wstring text;                  // typed, or put on the clipboard before a paste
  double x = 0.5, y = 0.5;            // where in the target a click lands, as fractions
  int holdMilliseconds = 0;           // how long another program keeps the clipboard
  bool newClipboard = false;          // a paste of a text the driver puts there first
  Control under = Control::Command1;  // what a click under a notice hits
};

const char* name(Kind kind) {
  static const char* const names[] = {"click in Text1",
                                      "click Command1",
                                      "click Command2",
                                      "type",
                                      "paste (Ctrl+V)",
                                      "select all and delete",
                                      "Tab",
                                      "Shift+Tab",
                                      "Enter",
                                      "Space",
                                      "Esc",
                                      "End",
                                      "copy while another program holds the clipboard",
                                      "minimise and restore",
                                      "dismiss the notice with Enter",
                                      "dismiss the notice with a click on OK",
                                      "dismiss the notice with Esc",
                                      "click Form1 under the notice",
                                      "close Form1"};
  return names[static_cast<int>(kind)];
}

std::string describe(const Action& a) {
  std::string s = name(a.kind);
  if (a.kind == Kind::Type || (a.kind == Kind::Paste && a.newClipboard))
    s += " \"" + utf8(a.text) + "\"";
  if (a.kind == Kind::CopyWhileClipboardHeld)
    s += " for " + std::to_string(a.holdMilliseconds) + " ms";
  return s;
}

bool needsNotice(Kind k) {
  return k == Kind::DismissWithEnter || k == Kind::DismissWithClick ||
         k == Kind::DismissWithEscape || k == Kind::ClickUnderNotice;
}
bool needsBox(Kind k) {
  return k == Kind::Type || k == Kind::Paste || k == Kind::SelectAllAndDelete;
}
bool applicable(const Action& a, const Model& m) {
  if (m.closed)
    return false;
  if (a.kind == Kind::Close)
    return true;
  if (needsNotice(a.kind) != m.notice.has_value())
    return false;
  return !needsBox(a.kind) || m.focusOnBox();
}

// Small and fully specified, so a seed means the same actions on every platform.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {  // splitmix64
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
  double fraction() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }

 private:
  std::uint64_t state_;
};

std::wstring randomText(Random& r) {
  static const std::wstring pieces[] = {L"https://pan.baidu.com/share/link?shareid=",
                                        L"&uk=",
                                        L"?uk=",
                                        L"=",
                                        L" ",
                                        L"  ",
                                        L"1234567890",
                                        L"0987654321",
                                        L"42",
                                        L"abc",
                                        L"XYZ",
                                        L".-_/:%#",
                                        L"链接",
                                        L"分享",
                                        L"网盘主页",
                                        L"失效",
                                        L"\U0001F600",
                                        L"\U00020000",
                                        L"\U0001F517",
                                        L"全角＝"};
  std::wstring text;
  switch (r.below(4)) {
    case 0: {  // a link whose key decides the outcome: often ten units, sometimes off by one
      text =
          L"https://pan.baidu.com/share/link?shareid=" + std::to_wstring(r.below(100000)) + L"&uk=";
      const int keyLength = 9 + r.below(3) + (r.below(3) == 0 ? 0 : 1 - r.below(2));
      for (int i = 0; i < keyLength; ++i)
        text += static_cast<wchar_t>(L'0' + r.below(10));
      return text;
    }
    case 1:  // "=" and ten units of anything
      text = L"=";
      for (int i = 0; i < 10; ++i)
        text += pieces[static_cast<std::size_t>(r.below(std::size(pieces)))].substr(0, 1);
      return text;
    default: {
      const int count = 1 + r.below(5);
      for (int i = 0; i < count; ++i)
        text += pieces[static_cast<std::size_t>(r.below(std::size(pieces)))];
      return text;
    }
  }
}

// The next action, chosen with weights that depend only on the parts of the model that no
// observation changes (a notice open or not, what has the focus), so that a seed always gives
// the same actions.
Action nextAction(Random& r, const Model& m) {
  struct Weighted {
    Kind kind;
    int weight;
  };
  std::vector<Weighted> choices;
  if (m.notice) {
    choices = {{Kind::DismissWithEnter, 4},
               {Kind::DismissWithClick, 4},
               {Kind::DismissWithEscape, 3},
               {Kind::ClickUnderNotice, 1}};
  } else {
    choices = {{Kind::ClickText1, 9},
               {Kind::ClickCommand1, 8},
               {Kind::ClickCommand2, 6},
               {Kind::Tab, 8},
               {Kind::ShiftTab, 5},
               {Kind::Enter, 6},
               {Kind::Space, 4},
               {Kind::Escape, 2},
               {Kind::End, 3},
               {Kind::CopyWhileClipboardHeld, 3},
               {Kind::MinimizeAndRestore, 2}};
    if (m.focusOnBox())
      choices.insert(choices.end(),
                     {{Kind::Type, 16}, {Kind::Paste, 8}, {Kind::SelectAllAndDelete, 3}});
  }
  int total = 0;
  for (const Weighted& w : choices)
    total += w.weight;
  int pick = r.below(total);
  Action a;
  a.kind = choices.back().kind;
  for (const Weighted& w : choices) {
    if (pick < w.weight) {
      a.kind = w.kind;
      break;
    }
    pick -= w.weight;
  }
  a.x = r.fraction();
  a.y = r.fraction();
  a.holdMilliseconds = r.below(1501);
  a.newClipboard = r.below(10) < 7;
  a.under = static_cast<Control>(r.below(kControls));
  a.text = randomText(r);
  return a;
}

// The model's part of an action. Only called when the action is applicable. `heldCopy` is how
// a copy against a held clipboard must end, as the driver saw it happen.
void apply(const Action& a, Model& m, CopyOutcome heldCopy = CopyOutcome::EitherCopiedOrBusy) {
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
          m.type(L" ");
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

// The seed's actions, made as they are asked for. A dry run of the model picks each one; since
// the choice never depends on what is observed, a seed always gives the same actions. The index
// `closeAt`, when set, is the final step that closes Form1.
class Plan {
 public:
  explicit Plan(std::uint64_t seed) : random_(seed) {}
  const Action& operator[](std::size_t i) {
    if (i == closeAt)
      return close_;
    while (actions_.size() <= i) {
      actions_.push_back(nextAction(random_, dry_));
      apply(actions_.back(), dry_);
      dry_.text1.selectionUnknown = false;
    }
    return actions_[i];
  }
  std::size_t closeAt = static_cast<std::size_t>(-1);

 private:
  Random random_;
  Model dry_;
  std::vector<Action> actions_;
  Action close_;  // a default Action closes Form1
};

// ---- The program as it is seen ----

struct Seen {
  bool alive = true;
  DWORD exitCode = STILL_ACTIVE;
  std::wstring text1, text2;
  DWORD start1 = 0, end1 = 0, start2 = 0, end2 = 0;
  int focus = -1;  // a Control, -1 for nothing, -2 for a window that is not one of them
  std::vector<desktop::Notice> notices;
  std::optional<bool> hintShown;  // from Text1's pixels, when they can tell
  bool minimized = false;
};

class Quenvar {
 public:
  Quenvar() {
    if (app_.form() == nullptr)
      return;
    // Controls are found as a user sees them: the buttons by their captions, the text boxes
    // from top to bottom.
    std::vector<HWND> boxes;
    for (HWND c = GetWindow(app_.form(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      const std::wstring kind = desktop::className(c), text = desktop::windowText(c);
      if (kind == L"Edit")
        boxes.push_back(c);
      else if (kind == L"Button" && text == L"修复链接")
        controls_[static_cast<int>(Control::Command1)] = c;
      else if (kind == L"Button" && text == L"复制已修复链接")
        controls_[static_cast<int>(Control::Command2)] = c;
    }
    std::sort(boxes.begin(), boxes.end(), [](HWND a, HWND b) {
      RECT ra{}, rb{};
      GetWindowRect(a, &ra);
      GetWindowRect(b, &rb);
      return ra.top < rb.top;
    });
    if (boxes.size() == 2) {
      controls_[static_cast<int>(Control::Text1)] = boxes[0];
      controls_[static_cast<int>(Control::Text2)] = boxes[1];
    }
  }
  bool ok() const {
    return std::all_of(std::begin(controls_), std::end(controls_), [](HWND h) { return h; });
  }
  HWND form() const { return app_.form(); }
  HWND control(Control c) const { return controls_[static_cast<int>(c)]; }
  e2e::QuenvarProcess& process() { return app_; }

  // Brings Form1 to the front as a click on its caption would.
  void activate() {
    if (GetForegroundWindow() == form())
      return;
    RECT window{};
    GetWindowRect(form(), &window);
    POINT client{0, 0};
    ClientToScreen(form(), &client);
    click({window.left + 60, (window.top + client.y) / 2});
    waitUntil([&] { return GetForegroundWindow() == form(); }, 2s);
  }

  // A real click at a point inside a window, given as fractions of its client area.
  void clickIn(HWND target, double fx, double fy) {
    RECT r{};
    GetClientRect(target, &r);
    const int margin = 3;
    POINT p{margin + static_cast<LONG>(fx * std::max<LONG>(1, r.right - 2 * margin)),
            margin + static_cast<LONG>(fy * std::max<LONG>(1, r.bottom - 2 * margin))};
    ClientToScreen(target, &p);
    click(p);
  }

  Seen see(bool withPixels) {
    Seen s;
    s.alive = app_.running();
    if (!s.alive) {
      s.exitCode = app_.exitCode();
      return s;
    }
    s.text1 = desktop::windowText(control(Control::Text1));
    s.text2 = desktop::windowText(control(Control::Text2));
    SendMessageTimeoutW(control(Control::Text1), EM_GETSEL, reinterpret_cast<WPARAM>(&s.start1),
                        reinterpret_cast<LPARAM>(&s.end1), SMTO_ABORTIFHUNG, 5000, nullptr);
    SendMessageTimeoutW(control(Control::Text2), EM_GETSEL, reinterpret_cast<WPARAM>(&s.start2),
                        reinterpret_cast<LPARAM>(&s.end2), SMTO_ABORTIFHUNG, 5000, nullptr);
    const HWND focus = app_.focus();
    s.focus = focus == nullptr ? -1 : -2;
    for (int i = 0; i < kControls; ++i) {
      if (controls_[i] == focus)
        s.focus = i;
    }
    for (HWND box : desktop::noticesOwnedBy(form()))
      s.notices.push_back(desktop::readNotice(box));
    s.minimized = IsIconic(form()) != FALSE;
    if (withPixels)
      s.hintShown = hintFromPixels();
    return s;
  }

 private:
  void click(POINT p) {
    // Two clicks close together in time and place would be a double click.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastClick_ < 700ms && std::abs(p.x - lastPoint_.x) < 8 &&
        std::abs(p.y - lastPoint_.y) < 8) {
      Sleep(static_cast<DWORD>(
          std::chrono::duration_cast<std::chrono::milliseconds>(lastClick_ + 700ms - now).count()));
    }
    desktop::clickAt(p);
    lastClick_ = std::chrono::steady_clock::now();
    lastPoint_ = p;
  }

  // The hint is drawn in a light grey, typed text in black: a dark pixel means typed text, light
  // grey alone means the hint, nothing drawn tells nothing.
  std::optional<bool> hintFromPixels() {
    const HWND box = control(Control::Text1);
    RECT r{};
    GetClientRect(box, &r);
    POINT origin{0, 0};
    ClientToScreen(box, &origin);
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = r.right;
    info.bmiHeader.biHeight = -r.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, r.right, r.bottom, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    int dark = 0, grey = 0;
    const auto* pixel = static_cast<const std::uint32_t*>(bits);
    for (LONG i = 0; i < r.right * r.bottom; ++i) {
      const std::uint32_t p = pixel[i];
      const int brightest = std::max({p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF});
      dark += brightest < 170 ? 1 : 0;
      grey += brightest >= 190 && brightest <= 240 ? 1 : 0;
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    if (dark > 0)
      return false;
    if (grey > 0)
      return true;
    return std::nullopt;
  }

  e2e::QuenvarProcess app_;
  HWND controls_[kControls] = {};
  std::chrono::steady_clock::time_point lastClick_{};
  POINT lastPoint_{-100, -100};
};

const char* controlName(int c) {
  static const char* const names[] = {"Command1", "Text1", "Text2", "Command2"};
  return c >= 0 && c < kControls ? names[c] : c == -1 ? "nothing" : "another window";
}

std::string shown(const std::wstring& s) {
  return "\"" + utf8(s.size() > 200 ? s.substr(0, 100) + L"…" + s.substr(s.size() - 100) : s) +
         "\" (" + std::to_string(s.size()) + " units)";
}

// Compares and, where the model left something to observation (a caret placed by a click, the
// outcome of a copy raced against another program), takes what the program shows.
std::vector<std::string> differences(Model& m, const Seen& s) {
  std::vector<std::string> d;
  if (m.closed) {
    if (s.alive)
      d.push_back("Quenvar is still running after Form1 was closed");
    else if (s.exitCode != 0)
      d.push_back("Quenvar ended with exit code " + std::to_string(s.exitCode) + ", not 0");
    return d;
  }
  if (!s.alive) {
    d.push_back("Quenvar is no longer running (exit code " + std::to_string(s.exitCode) + ")");
    return d;
  }
  auto expect = [&](bool same, const std::string& what) {
    if (!same)
      d.push_back(what);
  };
  expect(s.text1 == m.text1.text,
         "Text1 shows " + shown(s.text1) + ", the model has " + shown(m.text1.text));
  expect(s.text2 == m.text2.text,
         "Text2 shows " + shown(s.text2) + ", the model has " + shown(m.text2.text));
  if (m.text1.selectionUnknown) {
    if (s.start1 <= s.end1 && s.end1 <= m.text1.text.size() && s.text1 == m.text1.text) {
      m.text1.start = s.start1;
      m.text1.end = s.end1;
      m.text1.selectionUnknown = false;
    } else {
      d.push_back("a click left Text1 selecting " + std::to_string(s.start1) + "-" +
                  std::to_string(s.end1) + " of " + std::to_string(s.text1.size()) + " units");
    }
  }
  for (const auto& [box, start, end, label] : {std::tuple{&m.text1, s.start1, s.end1, "Text1"},
                                               std::tuple{&m.text2, s.start2, s.end2, "Text2"}}) {
    expect(box->selectionUnknown || (start == box->start && end == box->end),
           std::string(label) + " selects " + std::to_string(start) + "-" + std::to_string(end) +
               ", the model " + std::to_string(box->start) + "-" + std::to_string(box->end));
  }
  expect(s.notices.size() == (m.notice ? 1u : 0u), std::to_string(s.notices.size()) +
                                                       " notices are open, the model has " +
                                                       (m.notice ? "one" : "none"));
  if (m.notice && s.notices.size() == 1) {
    const desktop::Notice& n = s.notices.front();
    if (m.noticeCouldBeBusyInstead && n.text == kClipboardBusy)
      m.copyFoundTheClipboardBusy();
    expect(n.text == *m.notice,
           "the notice says " + shown(n.text) + ", the model " + shown(*m.notice));
    expect(n.caption == L"Quenvar", "the notice's caption is " + shown(n.caption));
    expect(n.visibleButtons == 1 && n.okButtons == 1,
           "the notice has " + std::to_string(n.visibleButtons) + " buttons, " +
               std::to_string(n.okButtons) + " OK");
    expect(!n.hasIcon, "the notice shows an icon");
    expect(s.focus < 0,
           std::string("with a notice open, ") + controlName(s.focus) + " has the focus");
  } else if (!m.notice) {
    expect(s.focus == static_cast<int>(m.focus), std::string(controlName(s.focus)) +
                                                     " has the focus, the model " +
                                                     controlName(static_cast<int>(m.focus)));
  }
  expect(!s.minimized, "Form1 is minimised");
  if (s.hintShown)
    expect(*s.hintShown == m.hintShown,
           std::string("Text1 is drawn ") + (*s.hintShown ? "as the hint" : "as typed text") +
               ", the model says " + (m.hintShown ? "the hint" : "typed text"));
  return d;
}

// ---- Running actions ----

struct Options {
  std::uint64_t seed = 0;
  std::size_t actions = 0;
  int seconds = 0;
  std::vector<std::size_t> keep;  // replay just these of the seed's actions
  int shrinkSeconds = 120;
  std::string target = "win64";
  bool list = false;  // print the actions instead of running them
};

struct Divergence {
  std::size_t index;  // into the seed's actions
  std::vector<std::string> what;
};

class Runner {
 public:
  explicit Runner(desktop::ClipboardHolder& holder) : holder_(holder) {}

  // Starts a fresh Quenvar with the clipboard in a known state.
  bool start() {
    app_.emplace();
    model_ = Model{};
    model_.clipboard = L"what the user copied earlier";
    if (!app_->ok() || !clipboard_.put(model_.clipboard))
      return false;
    app_->activate();
    return true;
  }

  // Performs one action if the model says it can be done now; returns the differences seen
  // afterwards (empty when the program matches the model).
  std::optional<std::vector<std::string>> step(const Action& a) {
    if (!applicable(a, model_))
      return std::nullopt;
    apply(a, model_, perform(a));
    return settle(a);
  }

 private:
  // Does the action; for a copy against a held clipboard, says how it must end.
  CopyOutcome perform(const Action& a) {
    Quenvar& q = *app_;
    switch (a.kind) {
      case Kind::ClickText1:
        q.clickIn(q.control(Control::Text1), a.x, a.y);
        break;
      case Kind::ClickCommand1:
        q.clickIn(q.control(Control::Command1), a.x, a.y);
        break;
      case Kind::ClickCommand2:
        q.clickIn(q.control(Control::Command2), a.x, a.y);
        break;
      case Kind::Type:
        desktop::typeText(a.text);
        break;
      case Kind::Paste:
        if (a.newClipboard)
          clipboard_.put(a.text);
        desktop::pressKey('V', false, true);
        break;
      case Kind::SelectAllAndDelete:
        desktop::pressKey('A', false, true);
        desktop::pressKey(VK_DELETE);
        break;
      case Kind::Tab:
        desktop::pressKey(VK_TAB);
        break;
      case Kind::ShiftTab:
        desktop::pressKey(VK_TAB, true);
        break;
      case Kind::Enter:
      case Kind::DismissWithEnter:
        desktop::pressKey(VK_RETURN);
        break;
      case Kind::Space:
        desktop::pressKey(VK_SPACE);
        break;
      case Kind::Escape:
      case Kind::DismissWithEscape:
        desktop::pressKey(VK_ESCAPE);
        break;
      case Kind::End:
        desktop::pressKey(VK_END);
        break;
      case Kind::CopyWhileClipboardHeld: {
        holder_.hold();
        q.clickIn(q.control(Control::Command2), a.x, a.y);
        // Released well within the program's tries (about 0.8 s), the copy must succeed. Held
        // longer, a notice that comes while the clipboard is still held must say it was busy,
        // and one that comes after may say either.
        const bool noticeWhileHeld =
            waitUntil([&] { return !desktop::noticesOwnedBy(q.form()).empty(); },
                      std::chrono::milliseconds(a.holdMilliseconds));
        holder_.release();
        if (a.holdMilliseconds < 450)
          return CopyOutcome::Copied;
        return noticeWhileHeld ? CopyOutcome::Busy : CopyOutcome::EitherCopiedOrBusy;
      }
      case Kind::MinimizeAndRestore:
        PostMessageW(q.form(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
        waitUntil([&] { return IsIconic(q.form()) != FALSE; }, 3s);
        PostMessageW(q.form(), WM_SYSCOMMAND, SC_RESTORE, 0);
        waitUntil([&] { return IsIconic(q.form()) == FALSE; }, 3s);
        q.activate();  // as the taskbar button does
        break;
      case Kind::DismissWithClick: {
        const auto notices = desktop::noticesOwnedBy(q.form());
        if (!notices.empty())
          q.clickIn(GetDlgItem(notices.front(), IDOK), a.x, a.y);
        break;
      }
      case Kind::ClickUnderNotice:
        q.clickIn(q.control(a.under), a.x, a.y);
        break;
      case Kind::Close:
        PostMessageW(q.form(), WM_CLOSE, 0, 0);
        waitUntil([&] { return !q.process().running(); }, 5s);
        break;
    }
    return CopyOutcome::Copied;
  }

  std::vector<std::string> settle(const Action& a) {
    // Input is taken asynchronously: give it a moment, then wait for the model's state. A wrong
    // effect that comes later still shows at the next step.
    Sleep(a.kind == Kind::Escape || a.kind == Kind::ClickUnderNotice ? 60 : 15);
    const auto timeout = a.kind == Kind::CopyWhileClipboardHeld || a.kind == Kind::ClickCommand2 ||
                                 a.kind == Kind::Enter || a.kind == Kind::Space
                             ? 6s
                             : 3s;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<std::string> d;
    for (;;) {
      Model trial = model_;
      const bool pixels = !trial.closed && !trial.notice && trial.focus != Control::Text1 &&
                          !trial.text1.text.empty();
      const Seen seen = app_->see(pixels);
      d = differences(trial, seen);
      // The clipboard is read only when the rest matches: while a copy is still running, a read
      // would hold the clipboard against the program.
      if (d.empty() && !trial.closed)
        d = clipboardDifferences(trial);
      if (d.empty()) {
        model_ = trial;
        return d;
      }
      if (std::chrono::steady_clock::now() > deadline)
        return d;
      Sleep(20);
    }
  }

  std::vector<std::string> clipboardDifferences(const Model& m) {
    std::vector<std::string> d;
    const std::optional<std::wstring> text = clipboard_.text();
    if (text != m.clipboard)
      d.push_back("the clipboard holds " + (text ? shown(*text) : std::string("no text")) +
                  ", the model " + shown(m.clipboard));
    if (clipboard_.hasPrivateFormat() != m.clipboardHasOtherFormats)
      d.push_back(m.clipboardHasOtherFormats ? "an earlier format left the clipboard"
                                             : "an earlier format is still on the clipboard");
    return d;
  }

  desktop::ClipboardHolder& holder_;
  desktop::ClipboardUser clipboard_;
  std::optional<Quenvar> app_;
  Model model_;
};

// Runs the actions at these indices on a fresh Quenvar; whether it diverged.
bool diverges(Runner& runner, Plan& plan, const std::vector<std::size_t>& indices) {
  if (!runner.start())
    return true;
  for (std::size_t i : indices) {
    const auto d = runner.step(plan[i]);
    if (d && !d->empty())
      return true;
  }
  return false;
}

// Drops steps while the divergence remains, largest pieces first.
std::vector<std::size_t> shrink(Runner& runner, Plan& plan, std::vector<std::size_t> kept,
                                int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (std::size_t piece = kept.size() / 2; piece >= 1; piece /= 2) {
    for (std::size_t at = 0; at < kept.size();) {
      if (std::chrono::steady_clock::now() > deadline)
        return kept;
      std::vector<std::size_t> trial(kept.begin(), kept.begin() + static_cast<long>(at));
      trial.insert(trial.end(), kept.begin() + static_cast<long>(std::min(at + piece, kept.size())),
                   kept.end());
      if (!trial.empty() && diverges(runner, plan, trial))
        kept = trial;
      else
        at += piece;
    }
  }
  return kept;
}

// "3,17,18,40-52": runs of consecutive indices written as ranges.
std::string indexList(const std::vector<std::size_t>& indices) {
  std::string s;
  for (std::size_t i = 0; i < indices.size();) {
    std::size_t j = i;
    while (j + 1 < indices.size() && indices[j + 1] == indices[j] + 1)
      ++j;
    if (!s.empty())
      s += ',';
    s += std::to_string(indices[i]);
    if (j > i) {
      s += '-';
      s += std::to_string(indices[j]);
    }
    i = j + 1;
  }
  return s;
}

void report(const Options& o, Plan& plan, const Divergence& f,
            const std::vector<std::size_t>& session) {
  std::printf("divergence at action #%zu: %s\n", f.index, describe(plan[f.index]).c_str());
  for (const std::string& what : f.what)
    std::printf("  %s\n", what.c_str());
  std::printf("reproduce: tools/exercise.sh --target %s --seed %llu --keep %s\n", o.target.c_str(),
              static_cast<unsigned long long>(o.seed), indexList(session).c_str());
  std::fflush(stdout);
}

int exercise(const Options& o) {
  if (o.list) {
    Plan plan(o.seed);
    for (std::size_t i : o.keep)
      std::printf("  #%zu %s\n", i, describe(plan[i]).c_str());
    return 0;
  }
  desktop::ClipboardHolder holder;
  Runner runner(holder);
  Plan plan(o.seed);
  // Some runs end by closing Form1, idle or with a notice open, as their last step.
  const bool endByClosing = Random(o.seed ^ 0xC105Eull).below(2) == 0;
  const bool bounded = o.actions == 0 && o.keep.empty();
  if (!bounded && o.keep.empty() && endByClosing)
    plan.closeAt = o.actions;
  std::printf("seed %llu\n", static_cast<unsigned long long>(o.seed));
  std::fflush(stdout);

  const auto began = std::chrono::steady_clock::now();
  const auto deadline = began + std::chrono::seconds(o.seconds);
  std::size_t position = 0, performed = 0, divergences = 0;
  bool closing = false, shrunk = false;
  auto nextIndex = [&]() -> std::optional<std::size_t> {
    const std::size_t at = position++;
    if (!o.keep.empty())
      return at < o.keep.size() ? std::optional(o.keep[at]) : std::nullopt;
    if (!bounded)
      return at < o.actions + (endByClosing ? 1 : 0) ? std::optional(at) : std::nullopt;
    if (closing)
      return std::nullopt;
    if (std::chrono::steady_clock::now() > deadline) {
      if (!endByClosing)
        return std::nullopt;
      closing = true;
      plan.closeAt = at;
    }
    return at;
  };

  std::chrono::steady_clock::duration spentShrinking{};
  std::vector<std::size_t> session;  // what this Quenvar has been given
  bool needStart = true;
  while (const auto index = nextIndex()) {
    if (needStart) {
      if (!runner.start()) {
        std::printf("Quenvar did not start, or its controls were not found\n");
        ++divergences;
        break;
      }
      needStart = false;
      session.clear();
    }
    session.push_back(*index);
    const auto d = runner.step(plan[*index]);
    if (!d)
      continue;
    ++performed;
    if (d->empty())
      continue;
    ++divergences;
    report(o, plan, Divergence{*index, *d}, session);
    if (!shrunk && o.shrinkSeconds > 0) {
      shrunk = true;
      const auto shrinking = std::chrono::steady_clock::now();
      const auto kept = shrink(runner, plan, session, o.shrinkSeconds);
      std::printf("shortened to %zu of %zu actions, still diverging:\n", kept.size(),
                  session.size());
      for (std::size_t i : kept)
        std::printf("  #%zu %s\n", i, describe(plan[i]).c_str());
      std::printf(
          "replay the shortened list: tools/exercise.sh --target %s --seed %llu --keep %s\n",
          o.target.c_str(), static_cast<unsigned long long>(o.seed), indexList(kept).c_str());
      std::fflush(stdout);
      spentShrinking += std::chrono::steady_clock::now() - shrinking;
    }
    needStart = true;  // go on with a fresh Quenvar
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began - spentShrinking)
          .count();
  std::printf("%.1f actions per second\n",
              seconds > 0 ? static_cast<double>(performed) / seconds : 0.0);
  std::printf("%zu actions, %zu divergences (seed %llu)\n", performed, divergences,
              static_cast<unsigned long long>(o.seed));
  return divergences == 0 ? 0 : 1;
}

}  // namespace
}  // namespace quenvar::exercise

namespace {

// The value of "--option=value", or null when `arg` is another option.
const char* optionValue(const std::string& arg, const char* option) {
  const std::size_t n = std::strlen(option);
  return arg.compare(0, n, option) == 0 ? arg.c_str() + n : nullptr;
}

std::vector<std::size_t> parseIndexList(const char* text) {
  std::vector<std::size_t> indices;
  for (const char* p = text; *p != '\0';) {
    char* after = nullptr;
    const auto first = static_cast<std::size_t>(std::strtoull(p, &after, 10));
    std::size_t last = first;
    if (*after == '-')
      last = static_cast<std::size_t>(std::strtoull(after + 1, &after, 10));
    for (std::size_t i = first; i <= last; ++i)
      indices.push_back(i);
    if (*after != ',')
      break;
    p = after + 1;
  }
  return indices;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  using namespace quenvar;
  desktop::declareDpiAware();
  exercise::Options o;
  o.seed = static_cast<std::uint64_t>(GetTickCount64()) * 2654435761u % 1000000007u;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view wide = argv[i];
    const std::string arg = desktop::utf8(wide);
    const char* v = nullptr;
    if (desktop::isClipboardHolderArgument(wide)) {
      return desktop::holdClipboardMain(wide);
    } else if (wide.starts_with(L"--exe=")) {
      e2e::settings().exePath = windowsPath(wide.substr(6));
    } else if ((v = optionValue(arg, "--seed="))) {
      o.seed = std::strtoull(v, nullptr, 10);
    } else if ((v = optionValue(arg, "--actions="))) {
      o.actions = static_cast<std::size_t>(std::strtoull(v, nullptr, 10));
    } else if ((v = optionValue(arg, "--seconds="))) {
      o.seconds = std::atoi(v);
    } else if ((v = optionValue(arg, "--shrink-seconds="))) {
      o.shrinkSeconds = std::atoi(v);
    } else if ((v = optionValue(arg, "--target="))) {
      o.target = v;
    } else if ((v = optionValue(arg, "--keep="))) {
      o.keep = parseIndexList(v);
    } else if ((v = optionValue(arg, "--list="))) {
      o.keep = parseIndexList(v);
      o.list = true;
    } else {
      std::fprintf(stderr, "exerciser: unknown argument %s\n", arg.c_str());
      return 2;
    }
  }
  if (!o.list &&
      (e2e::settings().exePath.empty() || (o.actions == 0 && o.seconds == 0 && o.keep.empty()))) {
    std::fprintf(stderr,
                 "usage: exerciser --exe=PATH [--seed=S] [--actions=N | --seconds=T] "
                 "[--keep=I,J-K,...] [--shrink-seconds=T] [--target=NAME]\n"
                 "       exerciser [--seed=S] --list=I,J-K,...\n");
    return 2;
  }
  return exercise::exercise(o);
}
