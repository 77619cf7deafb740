// Works the real Quenvar.exe with actions from a seed or from a list file, and after every step
// compares what the window shows with the model (tests/exercise). At the first divergence it
// prints what differed, shrinks the list to one that still diverges, writes it as a list file,
// says how to replay it, and ends.
//
//   exerciser --exe=PATH [--seed=S] [--actions=N | --seconds=T] [--shrink-seconds=T]
//             [--target=NAME] [--out=DIR]
//   exerciser --exe=PATH --replay=FILE [--shrink-seconds=T] [--target=NAME] [--out=DIR]
// The last line is "N actions, M divergences (seed S)" or "(FILE)". The exit status is 0 when
// every step matched, 1 on a divergence, 2 for bad arguments or a bad list, 3 when the test's
// own machinery failed (the clipboard helper), which says nothing of Quenvar. The same program
// started with --hold-clipboard=ID holds the clipboard for it.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "actions.h"
#include "desktop.h"
#include "quenvar_driver.h"
#include "test_support.h"
#include "windows_path.h"

namespace quenvar::exercise {
namespace {

using namespace std::chrono_literals;
using desktop::waitUntil;
using test::utf8;

// Windows' wchar_t is a UTF-16 unit, as the model's char16_t is.
std::wstring wide(std::u16string_view s) {
  return {s.begin(), s.end()};
}
std::u16string units(std::wstring_view s) {
  return {s.begin(), s.end()};
}

// A failure of the test's own machinery (thrown as std::runtime_error) tells nothing of Quenvar.

struct Seen {
  bool alive = true;
  DWORD exitCode = STILL_ACTIVE;
  std::u16string text1, text2;
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
    s.text1 = units(desktop::windowText(control(Control::Text1)));
    s.text2 = units(desktop::windowText(control(Control::Text2)));
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
  return c >= 0 && c < kControls ? kControlNames[c] : c == -1 ? "nothing" : "another window";
}

std::string shown(const std::u16string& s) {
  std::string quoted = "\"";
  quoted += utf8(s.size() > 200 ? s.substr(0, 100) + u"…" + s.substr(s.size() - 100) : s);
  return quoted + "\" (" + std::to_string(s.size()) + " units)";
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
    const std::u16string text = units(n.text);
    if (m.noticeCouldBeBusyInstead && text == kClipboardBusy)
      m.copyFoundTheClipboardBusy();
    expect(text == *m.notice, "the notice says " + shown(text) + ", the model " + shown(*m.notice));
    expect(n.caption == L"Quenvar", "the notice's caption is " + shown(units(n.caption)));
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

// ---- Steps ----

class Runner {
 public:
  // Starts a fresh Quenvar with the clipboard in a known state; false when Quenvar did not
  // start or its controls were not found.
  bool start() {
    app_.reset();
    model_ = Model{};
    model_.clipboard = u"what the user copied earlier";
    // No Quenvar runs now: a clipboard that cannot be set is the test's own failure.
    if (!clipboard_.put(wide(model_.clipboard)))
      throw std::runtime_error("the test could not put a text on the clipboard");
    app_.emplace();
    if (!app_->ok())
      return false;
    app_->activate();
    return true;
  }

  // Whether these actions, run on a fresh Quenvar, diverge at any step.
  bool diverges(const Actions& actions) {
    if (!start())
      return true;
    return std::any_of(actions.begin(), actions.end(), [&](const Action& a) {
      const auto d = step(a);
      return d && !d->empty();
    });
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
        desktop::typeText(wide(a.text));
        break;
      case Kind::Paste:
        if (a.newClipboard)
          clipboard_.put(wide(a.text));  // if Quenvar kept it busy, the paste shows it
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
        if (!holder_.hold())
          throw std::runtime_error(
              "the clipboard helper did not start, ended, or did not take the clipboard in 10 s");
        q.clickIn(q.control(Control::Command2), a.x, a.y);
        // Released well within the program's tries (about 0.8 s), the copy must succeed. Held
        // longer, a notice that comes while the clipboard is still held must say it was busy,
        // and one that comes after may say either.
        const bool noticeWhileHeld =
            waitUntil([&] { return !desktop::noticesOwnedBy(q.form()).empty(); },
                      std::chrono::milliseconds(a.holdMilliseconds));
        if (!holder_.release())
          throw std::runtime_error(
              "the clipboard helper ended, or did not let go of the clipboard in 10 s");
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
    if (!text || units(*text) != m.clipboard)
      d.push_back("the clipboard holds " + (text ? shown(units(*text)) : std::string("no text")) +
                  ", the model " + shown(m.clipboard));
    if (clipboard_.hasPrivateFormat() != m.clipboardHasOtherFormats)
      d.push_back(m.clipboardHasOtherFormats ? "an earlier format left the clipboard"
                                             : "an earlier format is still on the clipboard");
    return d;
  }

  desktop::ClipboardHolder holder_;
  desktop::ClipboardUser clipboard_;
  std::optional<Quenvar> app_;
  Model model_;
};

// ---- Runs ----

struct Options {
  std::uint64_t seed = 0;
  std::size_t actions = 0;
  int seconds = 0;
  std::wstring replay;  // a list file, as given
  int shrinkSeconds = 120;
  std::string target = "win64";
  std::wstring out = L".";  // where a list that diverged is written
};

// Shrinks a list that diverged, writes it as a list file and says how to replay and keep it.
void keepDiverging(const Options& o, Runner& runner, Actions actions, const std::string& what) {
  if (o.shrinkSeconds > 0) {
    const std::size_t before = actions.size();
    actions = performed(shrink(
        std::move(actions), [&](const Actions& list) { return runner.diverges(list); },
        std::chrono::steady_clock::now() + std::chrono::seconds(o.shrinkSeconds)));
    std::printf("shortened to %zu of %zu actions, still diverging:\n", actions.size(), before);
    for (const Action& a : actions)
      std::printf("  %s\n", toText(a).c_str());
  }
  std::wstring name = L"seed-" + std::to_wstring(o.seed);
  if (!o.replay.empty()) {
    name = o.replay.substr(o.replay.find_last_of(L"/\\") + 1);
    name = name.substr(0, name.rfind(L".txt"));
  }
  const std::wstring path = o.out + L"/diverged-" + name + L".txt";
  const std::string file = desktop::utf8(path);
  std::ofstream out(std::filesystem::path(windowsPath(path)), std::ios::binary);
  if (!(out << toText("diverged: " + what, actions) << std::flush)) {
    std::printf("could not write %s\n", file.c_str());
    return;
  }
  std::printf(
      "wrote %s\nreplay it: tools/exercise.sh --target %s --replay %s\n"
      "keep it as a regression case: copy it into tests/exercise/cases/ and make its first "
      "line say what it caught\n",
      file.c_str(), o.target.c_str(), file.c_str());
}

int exercise(const Options& o) {
  Actions list;
  std::string name = "seed " + std::to_string(o.seed);
  if (!o.replay.empty()) {
    name = desktop::utf8(o.replay);
    std::ifstream in(std::filesystem::path(windowsPath(o.replay)), std::ios::binary);
    ParsedList parsed = parseList(std::string(std::istreambuf_iterator<char>(in), {}));
    if (!in || parsed.actions.empty() || !parsed.error.empty()) {
      std::fprintf(stderr, "exerciser: %s: %s\n", name.c_str(),
                   !in                    ? "cannot be read"
                   : parsed.error.empty() ? "no actions"
                                          : parsed.error.c_str());
      return 2;
    }
    list = std::move(parsed.actions);
  }
  std::printf("%s\n", name.c_str());
  std::fflush(stdout);

  Generator generator(o.seed);
  const auto began = std::chrono::steady_clock::now();
  const auto deadline = began + std::chrono::seconds(o.seconds);
  std::size_t position = 0;
  bool closing = false;
  auto next = [&]() -> std::optional<Action> {
    if (!o.replay.empty())
      return position < list.size() ? std::optional(list[position++]) : std::nullopt;
    if (o.actions > 0 ? position++ < o.actions : std::chrono::steady_clock::now() < deadline)
      return generator.next();
    // Half the seeds end by closing Form1, idle or with a notice open.
    if (o.seed % 2 != 0 || std::exchange(closing, true))
      return std::nullopt;
    return Action(Kind::Close);
  };

  Runner runner;
  if (!runner.start()) {
    std::printf("Quenvar did not start, or its controls were not found\n");
    return 1;
  }
  Actions given;  // applicable or not
  std::size_t done = 0;
  std::vector<std::string> differences;
  for (std::optional<Action> a; differences.empty() && (a = next());) {
    given.push_back(*a);
    if (const auto d = runner.step(*a)) {
      ++done;
      differences = *d;
    }
  }
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - began;
  std::printf("%.1f actions per second\n", static_cast<double>(done) / seconds.count());
  if (!differences.empty()) {
    std::printf("divergence at action %zu: %s\n", done, toText(given.back()).c_str());
    for (const std::string& what : differences)
      std::printf("  %s\n", what.c_str());
    std::fflush(stdout);
    keepDiverging(o, runner, performed(given), differences.front());
  }
  std::printf("%zu actions, %d divergences (%s)\n", done, differences.empty() ? 0 : 1,
              name.c_str());
  return differences.empty() ? 0 : 1;
}

}  // namespace
}  // namespace quenvar::exercise

int wmain(int argc, wchar_t** argv) {
  using namespace quenvar;
  desktop::declareDpiAware();
  exercise::Options o;
  o.seed = static_cast<std::uint64_t>(GetTickCount64()) * 2654435761u % 1000000007u;
  auto number = [](const wchar_t* v) { return std::wcstoull(v, nullptr, 10); };
  const std::pair<std::wstring_view, std::function<void(const wchar_t*)>> options[] = {
      {L"--exe=", [&](auto v) { e2e::settings().exePath = windowsPath(v); }},
      {L"--seed=", [&](auto v) { o.seed = number(v); }},
      {L"--actions=", [&](auto v) { o.actions = static_cast<std::size_t>(number(v)); }},
      {L"--seconds=", [&](auto v) { o.seconds = static_cast<int>(number(v)); }},
      {L"--shrink-seconds=", [&](auto v) { o.shrinkSeconds = static_cast<int>(number(v)); }},
      {L"--target=", [&](auto v) { o.target = desktop::utf8(v); }},
      {L"--replay=", [&](auto v) { o.replay = v; }},
      {L"--out=", [&](auto v) { o.out = v; }}};
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view arg = argv[i];
    if (desktop::isClipboardHolderArgument(arg))
      return desktop::holdClipboardMain(arg);
    const auto option =
        std::find_if(std::begin(options), std::end(options),
                     [&](const auto& known) { return arg.starts_with(known.first); });
    if (option == std::end(options)) {
      std::fprintf(stderr, "exerciser: unknown argument %s\n", desktop::utf8(arg).c_str());
      return 2;
    }
    option->second(argv[i] + option->first.size());
  }
  if (e2e::settings().exePath.empty() || (o.actions == 0 && o.seconds == 0 && o.replay.empty())) {
    std::fprintf(stderr,
                 "usage: exerciser --exe=PATH [--seed=S] [--actions=N | --seconds=T] "
                 "[--shrink-seconds=T] [--target=NAME] [--out=DIR]\n"
                 "       exerciser --exe=PATH --replay=FILE [--shrink-seconds=T] [--target=NAME] "
                 "[--out=DIR]\n");
    return 2;
  }
  try {
    return exercise::exercise(o);
  } catch (const std::runtime_error& e) {
    std::printf("harness error, not a divergence of Quenvar: %s\n", e.what());
    return 3;
  }
}
