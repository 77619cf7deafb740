// Works the real Quenvar.exe with actions from a seed or from a list file, and after every step
// compares what the window shows with the model (tests/exercise). At the first divergence it
// prints what differed, shrinks the list to one that still diverges, writes it as a list file,
// says how to replay it, and ends. The last line is "N actions, M divergences (seed S)" or
// "(FILE)". The exit status is 0 when every step matched, 1 on a divergence, 2 for bad arguments
// or a bad list, 3 when the test's own machinery failed (the clipboard), which says nothing of
// Quenvar.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "actions.h"
#include "desktop.h"
#include "form1_layout.h"
#include "quenvar_driver.h"
#include "test_support.h"
#include "windows_path.h"

namespace quenvar::exercise {
namespace {

using namespace std::chrono_literals;
using desktop::waitUntil;

constexpr ui::ControlId kIds[kControls] = {ui::ControlId::Command1, ui::ControlId::Text1,
                                           ui::ControlId::Text2, ui::ControlId::Command2};

// Windows' wchar_t is a UTF-16 unit, as the model's char16_t is.
std::wstring wide(std::u16string_view s) {
  return {s.begin(), s.end()};
}
std::u16string units(std::wstring_view s) {
  return {s.begin(), s.end()};
}

std::string shown(std::u16string_view s) {
  const std::u16string cut = s.size() > 200 ? std::u16string(s.substr(0, 100)) + u"…" +
                                                  std::u16string(s.substr(s.size() - 100))
                                            : std::u16string(s);
  std::string out = "\"";
  out += test::utf8(cut);
  return out + "\" (" + std::to_string(s.size()) + " units)";
}

std::string described(const desktop::Notice& n) {
  return shown(units(n.text)) + " captioned " + shown(units(n.caption)) + ", " +
         std::to_string(n.visibleButtons) + " button(s), " + std::to_string(n.okButtons) + " OK, " +
         (n.hasIcon ? "an icon" : "no icon");
}

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
    if (std::any_of(std::begin(kIds), std::end(kIds), [&](auto id) { return !app_->control(id); }))
      return false;
    activate();
    return true;
  }

  // Whether these actions, run on a fresh Quenvar, diverge at any step.
  bool diverges(const Actions& actions) {
    return !start() || std::any_of(actions.begin(), actions.end(), [&](const Action& a) {
      const auto d = step(a);
      return d && !d->empty();
    });
  }

  // Performs one action if the model says it can be done now; returns the differences seen
  // afterwards (empty when the program matches the model).
  std::optional<std::vector<std::string>> step(const Action& a) {
    if (!applicable(a, model_))
      return std::nullopt;
    CopyOutcome held = CopyOutcome::Copied;
    if (a.kind == Kind::CopyWhileClipboardHeld)
      held = copyWhileHeld(a);
    else
      perform(a);
    apply(a, model_, held);
    return settle(a);
  }

 private:
  HWND control(Control c) const { return app_->control(kIds[static_cast<int>(c)]); }

  // Brings Form1 to the front as a click on its caption would.
  void activate() {
    const HWND form = app_->form();
    if (GetForegroundWindow() == form)
      return;
    RECT window{};
    GetWindowRect(form, &window);
    POINT client{0, 0};
    ClientToScreen(form, &client);
    desktop::clickAt({window.left + 60, (window.top + client.y) / 2});
    waitUntil([&] { return GetForegroundWindow() == form; }, 2s);
  }

  // A real click at a point inside a window, given as fractions of its client area.
  void clickIn(HWND target, double fx, double fy) {
    RECT r{};
    GetClientRect(target, &r);
    const int margin = 3;
    POINT p{margin + static_cast<LONG>(fx * std::max<LONG>(1, r.right - 2 * margin)),
            margin + static_cast<LONG>(fy * std::max<LONG>(1, r.bottom - 2 * margin))};
    ClientToScreen(target, &p);
    desktop::clickAt(p);
  }

  // The hint is drawn in a light grey, typed text in black: a dark pixel means typed text, light
  // grey alone means the hint, nothing drawn tells nothing.
  std::optional<bool> hintFromPixels() {
    int dark = 0, grey = 0;
    for (COLORREF p : desktop::clientPixels(control(Control::Text1), false)) {
      const int brightest = std::max({GetRValue(p), GetGValue(p), GetBValue(p)});
      dark += brightest < 170 ? 1 : 0;
      grey += brightest >= 190 && brightest <= 240 ? 1 : 0;
    }
    return dark > 0 ? std::optional(false) : grey > 0 ? std::optional(true) : std::nullopt;
  }

  // Compares the window with the model, after taking from it what the model leaves to
  // observation: where a click put Text1's caret, and how a copy raced against another program
  // ended. The clipboard is read only when the rest matches: while a copy is still running, a
  // read would hold the clipboard against the program.
  std::vector<std::string> differences(Model& m, bool withPixels) {
    std::vector<std::string> d;
    auto compare = [&](const std::string& what, const std::string& seen, const std::string& model) {
      if (seen != model)
        d.push_back(what + ": " + seen + "; the model: " + model);
    };
    const std::string ended = "ended with exit code ";
    const bool alive = app_->running();
    compare("Quenvar", alive ? "running" : ended + std::to_string(app_->exitCode()),
            m.closed ? ended + "0" : "running");
    if (!alive || m.closed)
      return d;
    for (Box* box : {&m.text1, &m.text2}) {
      const std::string name = box == &m.text1 ? "Text1" : "Text2";
      const HWND window = control(box == &m.text1 ? Control::Text1 : Control::Text2);
      const std::u16string text = units(desktop::windowText(window));
      DWORD start = 0, end = 0;
      SendMessageTimeoutW(window, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                          reinterpret_cast<LPARAM>(&end), SMTO_ABORTIFHUNG, 5000, nullptr);
      if (box->selectionUnknown && text == box->text && start <= end && end <= text.size()) {
        box->start = start;
        box->end = end;
        box->selectionUnknown = false;
      }
      auto range = [](std::size_t from, std::size_t to) {
        return std::to_string(from) + "-" + std::to_string(to);
      };
      compare(name, shown(text), shown(box->text));
      compare(name + "'s selection", range(start, end),
              box->selectionUnknown ? "where a click left it" : range(box->start, box->end));
    }
    const std::vector<HWND> boxes = desktop::noticesOwnedBy(app_->form());
    std::string notices = std::to_string(boxes.size()) + " open";
    for (HWND box : boxes) {
      const desktop::Notice n = desktop::readNotice(box);
      if (m.noticeCouldBeBusyInstead && boxes.size() == 1 && units(n.text) == kClipboardBusy)
        m.copyFoundTheClipboardBusy();
      notices += "; " + described(n);
    }
    const desktop::Notice expected{nullptr, L"Quenvar", wide(m.notice.value_or(u"")), 1, 1, false};
    compare("the notices", notices, m.notice ? "1 open; " + described(expected) : "0 open");
    std::string focus = "none of the controls";
    const HWND focused = app_->focus();
    for (int c = 0; c < kControls; ++c) {
      if (focused == control(static_cast<Control>(c)))
        focus = kControlNames[c];
    }
    compare("the focus", focus,
            m.notice ? "none of the controls" : kControlNames[static_cast<int>(m.focus)]);
    compare("Form1", IsIconic(app_->form()) ? "minimised" : "shown", "shown");
    auto drawn = [](bool hint) { return hint ? "drawn as the hint" : "drawn as typed text"; };
    if (const std::optional<bool> hint = withPixels ? hintFromPixels() : std::nullopt)
      compare("Text1's text", drawn(*hint), drawn(m.hintShown));
    if (!d.empty())
      return d;
    const std::optional<std::wstring> text = clipboard_.text();
    compare("the clipboard's text", text ? shown(units(*text)) : "none", shown(m.clipboard));
    auto earlier = [](bool kept) { return kept ? "with an earlier format" : "no earlier format"; };
    compare("the clipboard", earlier(clipboard_.hasPrivateFormat()),
            earlier(m.clipboardHasOtherFormats));
    return d;
  }

  // Copies while another program holds the clipboard, and says how the copy must end.
  CopyOutcome copyWhileHeld(const Action& a) {
    if (!holder_.hold())
      throw std::runtime_error("the test could not open the clipboard to hold it");
    clickIn(control(Control::Command2), a.x, a.y);
    // Released well within the program's tries (about 0.8 s), the copy must succeed. Held
    // longer, a notice that comes while the clipboard is still held must say it was busy, and one
    // that comes after may say either.
    const bool noticeWhileHeld = app_->waitForNotice(std::chrono::milliseconds(a.holdMilliseconds));
    if (!holder_.release())
      throw std::runtime_error("the test could not close the clipboard it held");
    if (a.holdMilliseconds < 450)
      return CopyOutcome::Copied;
    return noticeWhileHeld ? CopyOutcome::Busy : CopyOutcome::EitherCopiedOrBusy;
  }

  void perform(const Action& a) {
    const HWND form = app_->form();
    switch (a.kind) {
      case Kind::ClickText1:
        return clickIn(control(Control::Text1), a.x, a.y);
      case Kind::ClickCommand1:
        return clickIn(control(Control::Command1), a.x, a.y);
      case Kind::ClickCommand2:
        return clickIn(control(Control::Command2), a.x, a.y);
      case Kind::ClickUnderNotice:
        return clickIn(control(a.under), a.x, a.y);
      case Kind::Type:
        return desktop::typeText(wide(a.text));
      case Kind::Paste:
        if (a.newClipboard)
          clipboard_.put(wide(a.text));  // if Quenvar kept it busy, the paste shows it
        return desktop::pressKey('V', false, true);
      case Kind::SelectAllAndDelete:
        desktop::pressKey('A', false, true);
        return desktop::pressKey(VK_DELETE);
      case Kind::Tab:
      case Kind::ShiftTab:
        return desktop::pressKey(VK_TAB, a.kind == Kind::ShiftTab);
      case Kind::Enter:
      case Kind::DismissWithEnter:
        return desktop::pressKey(VK_RETURN);
      case Kind::Space:
        return desktop::pressKey(VK_SPACE);
      case Kind::Escape:
      case Kind::DismissWithEscape:
        return desktop::pressKey(VK_ESCAPE);
      case Kind::End:
        return desktop::pressKey(VK_END);
      case Kind::MinimizeAndRestore:
        PostMessageW(form, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        waitUntil([&] { return IsIconic(form) != FALSE; }, 3s);
        PostMessageW(form, WM_SYSCOMMAND, SC_RESTORE, 0);
        waitUntil([&] { return IsIconic(form) == FALSE; }, 3s);
        return activate();  // as the taskbar button does
      case Kind::DismissWithClick:
        for (HWND box : desktop::noticesOwnedBy(form))  // the topmost
          return clickIn(GetDlgItem(box, IDOK), a.x, a.y);
        return;
      case Kind::Close:
        PostMessageW(form, WM_CLOSE, 0, 0);
        waitUntil([&] { return !app_->running(); }, 5s);
        return;
      case Kind::CopyWhileClipboardHeld:
        return;  // copyWhileHeld()
    }
  }

  std::vector<std::string> settle(const Action& a) {
    // Input is taken asynchronously: give it a moment, then wait for the model's state. A wrong
    // effect that comes later still shows at the next step.
    Sleep(a.kind == Kind::Escape || a.kind == Kind::ClickUnderNotice ? 60 : 15);
    const bool slow = a.kind == Kind::CopyWhileClipboardHeld || a.kind == Kind::ClickCommand2 ||
                      a.kind == Kind::Enter || a.kind == Kind::Space;
    const auto deadline = std::chrono::steady_clock::now() + (slow ? 6s : 3s);
    for (;;) {
      Model trial = model_;
      const std::vector<std::string> d =
          differences(trial, !trial.closed && !trial.notice && trial.focus != Control::Text1 &&
                                 !trial.text1.text.empty());
      if (d.empty())
        model_ = trial;
      if (d.empty() || std::chrono::steady_clock::now() > deadline)
        return d;
      Sleep(20);
    }
  }

  desktop::ClipboardHolder holder_;
  desktop::ClipboardUser clipboard_;
  std::optional<e2e::QuenvarProcess> app_;
  Model model_;
};

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
  const std::wstring name = o.replay.empty() ? L"seed-" + std::to_wstring(o.seed)
                                             : std::filesystem::path(o.replay).stem().wstring();
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
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view arg = argv[i];
    const std::wstring value(arg.substr(arg.find(L'=') + 1));
    const std::uint64_t number = std::wcstoull(value.c_str(), nullptr, 10);
    if (arg.starts_with(L"--exe="))
      e2e::settings.exePath = windowsPath(value);
    else if (arg.starts_with(L"--seed="))
      o.seed = number;
    else if (arg.starts_with(L"--actions="))
      o.actions = static_cast<std::size_t>(number);
    else if (arg.starts_with(L"--seconds="))
      o.seconds = static_cast<int>(number);
    else if (arg.starts_with(L"--shrink-seconds="))
      o.shrinkSeconds = static_cast<int>(number);
    else if (arg.starts_with(L"--target="))
      o.target = desktop::utf8(value);
    else if (arg.starts_with(L"--replay="))
      o.replay = value;
    else if (arg.starts_with(L"--out="))
      o.out = value;
    else {
      std::fprintf(stderr, "exerciser: unknown argument %s\n", desktop::utf8(arg).c_str());
      return 2;
    }
  }
  if (e2e::settings.exePath.empty() || (o.actions == 0 && o.seconds == 0 && o.replay.empty())) {
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
