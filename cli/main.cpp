// quenvar-cli: repairs expired share links in bulk with the same rule as the window, or finds
// every sharer named by the share links in any text.
//   quenvar-cli LINK...                        repair each argument
//   quenvar-cli [-] < FILE                     repair each line of standard input
//   quenvar-cli --scan [--where] [--quiet] [FILE...]
//                                              one home link per sharer found in the files
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "identity.h"
#include "line_repair.h"
#include "messages.h"
#include "scan.h"
#include "share_link.h"
#include "stream_io.h"

namespace {

using quenvar::cli::ArgChar;
using quenvar::cli::LineOutcome;
using quenvar::cli::LineResult;
using quenvar::cli::Message;
using quenvar::cli::Output;

constexpr int kAllRepaired = 0, kSomeUnsupported = 1, kUsageOrIoError = 2;
constexpr int kSharersFound = 0, kNoSharer = 1;

// In the user's language, chosen once.
std::string_view message(Message id) {
  static const quenvar::cli::Language language = quenvar::cli::userLanguage();
  return quenvar::cli::text(language, id);
}
std::string message(Message id, std::initializer_list<std::string_view> args) {
  return quenvar::cli::format(message(id), args);
}

// A message on standard error, after the program's name.
void say(Output& err, std::string_view what) {
  err.append("quenvar-cli: ");
  err.append(what);
  err.append("\n");
}

// Repairs each input (an argument or a line of standard input) and writes one line for it.
class Batch {
 public:
  Batch(Output& out, Output& err) : out_(out), err_(err) {}

  void report(const LineResult& result) {
    ++line_;
    if (result.outcome != LineOutcome::Repaired) {
      reportNotRepaired(result.outcome);
      return;
    }
    // Fixed-size copies: the key goes in sixteen-byte halves and only its length counts.
    constexpr std::string_view prefix = quenvar::cli::homeLinkPrefixUtf8();
    char* p = out_.room(prefix.size() + quenvar::cli::kKeyRoom + 1);
    std::memcpy(p, prefix.data(), prefix.size());
    std::memcpy(p + prefix.size(), result.keyBytes.data(), 16);
    if (result.keyLength > 16)
      std::memcpy(p + prefix.size() + 16, result.keyBytes.data() + 16, 16);
    p[prefix.size() + result.keyLength] = '\n';
    out_.commit(prefix.size() + result.keyLength + 1);
    out_.lineDone();
  }

  // A failed read is reported at the end; every line read before it has been answered. Nothing
  // more is read once the output cannot be written.
  void readStandardInput() {
    quenvar::cli::LineRepairer repairer;
    auto onLine = [this](const LineResult& r) { report(r); };
    const quenvar::cli::ReadEnd end = quenvar::cli::readAll(
        *quenvar::cli::standardInput(),
        [&](const char* data, std::size_t size) {
          repairer.feed(data, size, onLine);
          return !out_.readerGone() && out_.ok();
        },
        [this] {
          out_.flush();
          err_.flush();
        });
    if (end == quenvar::cli::ReadEnd::Ended)
      repairer.finish(onLine);
    else if (end == quenvar::cli::ReadEnd::Failed)
      readFailed_ = true;
  }

  int finish() {
    const bool written = out_.flush();
    if (out_.closed())
      quenvar::cli::endForClosedOutput();
    if (readFailed_)
      say(err_, message(Message::ReadStandardInputFailed));
    if (!written)
      say(err_, message(Message::WriteStandardOutputFailed));
    err_.flush();
    if (readFailed_ || !written)
      return kUsageOrIoError;
    return allRepaired_ ? kAllRepaired : kSomeUnsupported;
  }

 private:
  // An empty line keeps the output in step with the input; standard error says why.
  [[gnu::noinline]] void reportNotRepaired(LineOutcome outcome) {
    allRepaired_ = false;
    out_.append("\n");
    // Both on one screen: the line goes first, so the message stands next to it.
    if (out_.toConsole() && err_.toConsole())
      out_.flush();
    out_.lineDone();
    say(err_, message(outcome == LineOutcome::InvalidUtf8 ? Message::LineNotUtf8
                                                          : Message::LineNotSupported,
                      {std::to_string(line_)}));
    err_.lineDone();
  }

  Output &out_, &err_;
  std::uint64_t line_ = 0;
  bool allRepaired_ = true;
  bool readFailed_ = false;
};

// Finds the sharers named in the inputs and writes each one's home link once, in order of first
// appearance; with --where, at the end, with how many links named each and where the first was.
class Scan {
 public:
  Scan(Output& out, Output& err, bool where, bool quiet)
      : out_(out), err_(err), where_(where), quiet_(quiet) {}

  // `path` null for standard input.
  void read(const ArgChar* path, std::string name) {
    names_.push_back(std::move(name));
    const std::string& shown = names_.back();
    const std::unique_ptr<quenvar::cli::Source> source =
        path ? quenvar::cli::openFile(path) : quenvar::cli::standardInput();
    if (!source) {
      fail(message(Message::CannotOpen, {shown}));
      return;
    }
    quenvar::cli::LinkScanner scanner;
    const std::size_t input = names_.size() - 1;
    auto onLink = [this, input](std::string_view key, std::uint64_t line) {
      table_.add(key, input, line);
    };
    const quenvar::cli::ReadEnd end = quenvar::cli::readAll(
        *source,
        [&](const char* data, std::size_t size) {
          scanner.feed(data, size, onLink);
          writeNewSharers();
          return !out_.readerGone() && out_.ok();
        },
        [this] { out_.flush(); });
    if (end == quenvar::cli::ReadEnd::Ended)
      scanner.finish(onLink);
    else if (end == quenvar::cli::ReadEnd::Failed)
      fail(message(Message::ReadFailed, {shown}));
    table_.addKeyless(scanner.keylessLinks());
    writeNewSharers();
  }

  // The distinct sharers are kept in memory. When it runs out, what was found is still written.
  int outOfMemory() {
    write(table_.sharersCounted());
    if (out_.closed())
      quenvar::cli::endForClosedOutput();
    if (!out_.flush())
      say(err_, message(Message::WriteStandardOutputFailed));
    say(err_, message(Message::OutOfMemory));
    err_.flush();
    return kUsageOrIoError;
  }

  int finish() {
    write(table_.sharers());
    if (!out_.flush()) {
      if (out_.closed())
        quenvar::cli::endForClosedOutput();
      fail(message(Message::WriteStandardOutputFailed));
    }
    if (!quiet_) {
      say(err_, message(Message::ScanSummary,
                        {std::to_string(table_.links()), std::to_string(table_.sharers().size()),
                         std::to_string(table_.keylessLinks())}));
    }
    err_.flush();
    if (failed_)
      return kUsageOrIoError;
    return table_.sharers().empty() ? kNoSharer : kSharersFound;
  }

 private:
  // Without --where each sharer is written once the chunk that names it first has been read.
  void writeNewSharers() {
    if (!where_)
      write(table_.sharers());
  }

  // The sharers not written yet, piece by piece: with the counts known it needs no memory, so it
  // also writes what was found once memory has run out.
  void write(const std::vector<quenvar::cli::SharerTable::Sharer>& sharers) {
    for (; written_ < sharers.size(); ++written_) {
      const auto& sharer = sharers[written_];
      out_.append(quenvar::cli::homeLinkPrefixUtf8());
      out_.append(sharer.key);
      if (where_) {
        out_.append("\t");
        out_.append(std::to_string(sharer.links));  // short enough to need no allocation
        out_.append("\t");
        out_.append(names_[sharer.input]);
        out_.append(":");
        out_.append(std::to_string(sharer.line));
      }
      out_.append("\n");
      out_.lineDone();
    }
  }

  void fail(std::string_view what) {
    failed_ = true;
    say(err_, what);
    err_.lineDone();
  }

  Output &out_, &err_;
  const bool where_, quiet_;
  quenvar::cli::SharerTable table_;
  std::vector<std::string> names_;  // of the inputs, as --where shows them
  std::size_t written_ = 0;         // sharers written so far
  bool failed_ = false;
};

// Command-line arguments as the platform gives them: UTF-16 on Windows, bytes elsewhere.
#ifdef _WIN32
std::string utf8(std::u16string_view text) {
  std::string s;
  quenvar::cli::appendUtf8(s, text);
  return s;
}
std::u16string_view units(const wchar_t* arg) {
  return {reinterpret_cast<const char16_t*>(arg), std::wcslen(arg)};
}
LineResult repairArgument(const wchar_t* arg) {
  return quenvar::cli::repairUtf16(units(arg));
}
std::string narrow(const wchar_t* arg) {
  return utf8(units(arg));
}
#else
LineResult repairArgument(const char* arg) {
  return quenvar::cli::repairBytes(arg);
}
std::string narrow(const char* arg) {
  return arg;
}
#endif

// --help and --version: a closed pipe ends quietly, any other failure shows in the status.
int finishText(Output& out) {
  if (out.flush())
    return kAllRepaired;
  if (out.closed())
    quenvar::cli::endForClosedOutput();
  return kUsageOrIoError;
}

int run(int argc, ArgChar** argv) {
  Output out(1), err(2);
  std::vector<const ArgChar*> inputs;
  bool optionsEnded = false, scan = false, where = false, quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = narrow(argv[i]);
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      inputs.push_back(argv[i]);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      out.append(message(Message::Usage));
      return finishText(out);
    } else if (arg == "--version") {
      out.append("quenvar-cli " QUENVAR_VERSION_STRING "\n");
      return finishText(out);
    } else if (arg == "--scan" || arg == "--where" || arg == "--quiet") {
      (arg == "--scan" ? scan : arg == "--where" ? where : quiet) = true;
    } else {
      say(err, message(Message::UnknownOption, {arg}));
      err.append(message(Message::Usage));
      err.flush();
      return kUsageOrIoError;
    }
  }
  if ((where || quiet) && !scan) {
    say(err, message(Message::OptionNeedsScan));
    err.flush();
    return kUsageOrIoError;
  }

  if (scan) {
    Scan scanning(out, err, where, quiet);
    try {
      if (inputs.empty())
        scanning.read(nullptr, "-");
      for (const ArgChar* input : inputs) {
        if (!out.ok())
          break;
        const std::string name = narrow(input);
        scanning.read(name == "-" ? nullptr : input, name);
      }
      return scanning.finish();
    } catch (const std::bad_alloc&) {
      return scanning.outOfMemory();
    }
  }
  Batch batch(out, err);
  if (inputs.empty())
    batch.readStandardInput();
  for (const ArgChar* argument : inputs) {
    if (!out.ok())
      break;
    if (narrow(argument) == "-")
      batch.readStandardInput();
    else
      batch.report(repairArgument(argument));
  }
  return batch.finish();
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  return run(argc, argv);
}
#else
int main(int argc, char** argv) {
  return run(argc, argv);
}
#endif
