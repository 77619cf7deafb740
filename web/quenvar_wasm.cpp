// What the page calls in WebAssembly: the repair rule on UTF-16 units, and quenvar-cli's scanner
// and sharer table, which give the sharers as `--where` writes them. Everything passes through
// one buffer in the module's memory, which JavaScript reads and writes between calls.
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line_repair.h"
#include "messages.h"
#include "scan.h"
#include "share_link.h"

#define QUENVAR_EXPORT(name) extern "C" __attribute__((export_name(#name)))

namespace {

// The C++ library for wasm32 is built without exceptions, so its operator new returns null when
// memory runs out: the call traps instead, which the page reports, and nothing is written
// through a null pointer.
[[maybe_unused]] const bool kTrapOnOutOfMemory = [] {
  std::set_new_handler([] { __builtin_trap(); });
  return true;
}();

std::vector<unsigned char> buffer;

std::string_view bufferText(std::size_t bytes) {
  return {reinterpret_cast<const char*>(buffer.data()), bytes};
}

// The scan's texts from quenvar-cli's tables, by the page's numbers for them; {0}, {1}, {2} stand
// for what the page fills in.
constexpr quenvar::cli::Message kScanTexts[] = {
    quenvar::cli::Message::ScanSummary, quenvar::cli::Message::CannotOpen,
    quenvar::cli::Message::ReadFailed, quenvar::cli::Message::OutOfMemory,
    quenvar::cli::Message::NoSharerFound};

// A number's digits in `room`, which holds the longest.
std::string_view digits(std::array<char, 20>& room, std::uint64_t n) {
  return {room.data(),
          static_cast<std::size_t>(std::to_chars(room.data(), room.data() + room.size(), n).ptr -
                                   room.data())};
}

struct Scan {
  quenvar::cli::SharerTable table;
  std::vector<std::string> names;  // of the inputs, as --where shows them
  std::optional<quenvar::cli::LinkScanner> scanner;
  std::uint64_t inputLinks = 0;  // links naming a sharer in the current input

  void onLink(std::string_view key, std::uint64_t line) {
    ++inputLinks;
    table.add(key, names.size() - 1, line);
  }
};
Scan* scan = nullptr;

}  // namespace

// Room for `bytes` in the buffer; its address, which stays valid until the next call.
QUENVAR_EXPORT(buffer) unsigned char* bufferOf(std::size_t bytes) {
  if (buffer.size() < bytes)
    buffer.resize(bytes);
  return buffer.data();
}

// The text of `units` UTF-16 units in the buffer; the home link replaces it there. Returns the
// link's length in units, or -1 when the text is not supported.
QUENVAR_EXPORT(repair) std::int32_t repair(std::size_t units) {
  std::u16string text(units, u'\0');
  std::memcpy(text.data(), buffer.data(), units * sizeof(char16_t));
  const quenvar::RepairResult result = quenvar::repairShareLink(text);
  if (!result.repaired())
    return -1;
  const std::u16string& link = *result.homeLink;
  bufferOf(link.size() * sizeof(char16_t));
  std::memcpy(buffer.data(), link.data(), link.size() * sizeof(char16_t));
  return static_cast<std::int32_t>(link.size());
}

// A scan of new inputs, with no sharer yet.
QUENVAR_EXPORT(scanStart) void scanStart() {
  delete scan;
  scan = new Scan;
}

// An input whose name, `nameBytes` of UTF-8, is in the buffer.
QUENVAR_EXPORT(inputStart) void inputStart(std::size_t nameBytes) {
  scan->names.emplace_back(bufferText(nameBytes));
  scan->scanner.emplace();
  scan->inputLinks = 0;
}

// The input's next `bytes`, in the buffer.
QUENVAR_EXPORT(inputFeed) void inputFeed(std::size_t bytes) {
  scan->scanner->feed(reinterpret_cast<const char*>(buffer.data()), bytes,
                      [](std::string_view key, std::uint64_t line) { scan->onLink(key, line); });
}

// Ends the input, at its end or, when a read failed, where it stopped (as quenvar-cli does, a
// link cut short there is not counted); returns how many of its links named a sharer.
QUENVAR_EXPORT(inputFinish) double inputFinish(bool complete) {
  if (complete) {
    scan->scanner->finish(
        [](std::string_view key, std::uint64_t line) { scan->onLink(key, line); });
  }
  scan->table.addKeyless(scan->scanner->keylessLinks());
  scan->scanner.reset();
  return static_cast<double>(scan->inputLinks);
}

// The sharers from number `first` on as quenvar-cli --scan --where writes them, one line each, as
// many as the buffer holds (at least one); returns the length in bytes, 0 past the last. The
// buffer grows only for a line longer than all of it (a file name of kilobytes), so that with
// `counted` they are given also once memory has run out (a call trapped), as the sharers counted
// until then.
QUENVAR_EXPORT(sharerLines) std::size_t sharerLines(std::size_t first, bool counted) {
  const auto& sharers = counted ? scan->table.sharersCounted() : scan->table.sharers();
  std::size_t size = 0;
  for (std::size_t i = first; i < sharers.size(); ++i) {
    const auto& sharer = sharers[i];
    const std::string_view name = scan->names[sharer.input];
    std::array<char, 20> links, line;
    const std::string_view parts[] = {quenvar::cli::homeLinkPrefixUtf8(),
                                      sharer.key,
                                      "\t",
                                      digits(links, sharer.links),
                                      "\t",
                                      name,
                                      ":",
                                      digits(line, sharer.line),
                                      "\n"};
    std::size_t length = 0;
    for (const std::string_view part : parts)
      length += part.size();
    if (size + length > buffer.size()) {
      if (size != 0)
        break;
      bufferOf(length);
    }
    for (const std::string_view part : parts) {
      std::memcpy(buffer.data() + size, part.data(), part.size());
      size += part.size();
    }
  }
  return size;
}
QUENVAR_EXPORT(sharerCount) double sharerCount() {
  return static_cast<double>(scan->table.sharers().size());
}
QUENVAR_EXPORT(links) double links() {
  return static_cast<double>(scan->table.links());
}
QUENVAR_EXPORT(keylessLinks) double keylessLinks() {
  return static_cast<double>(scan->table.keylessLinks());
}

// One of the scan's texts, NUL-terminated UTF-8.
QUENVAR_EXPORT(scanText) const char* scanTextOf(int language, int id) {
  static std::string text;
  if (id < 0 || static_cast<std::size_t>(id) >= std::size(kScanTexts))
    return "";
  text = quenvar::cli::text(
      language == 0 ? quenvar::cli::Language::Chinese : quenvar::cli::Language::English,
      kScanTexts[id]);
  return text.c_str();
}
