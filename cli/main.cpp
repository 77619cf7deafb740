// quenvar-cli: repairs expired share links in bulk with the same rule as the window.
//   quenvar-cli LINK...      repair each argument
//   quenvar-cli [-] < FILE   repair each line of standard input
// One output line per input: the home link, or an empty line when unsupported.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "identity.h"
#include "line_repair.h"
#include "share_link.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

namespace {

using quenvar::cli::LineOutcome;
using quenvar::cli::LineResult;

constexpr int kAllRepaired = 0, kSomeUnsupported = 1, kUsageOrIoError = 2;

constexpr const char* kUsage =
    "用法: quenvar-cli [链接...]\n"
    "      quenvar-cli [-] < 文件\n"
    "\n"
    "把失效的百度网盘分享链接修复为分享者主页的链接。每个输入在标准输出上对应一行：\n"
    "修复后的链接；不支持的输入对应一个空行，并在标准错误上说明是第几行。\n"
    "没有参数或参数为 - 时，从标准输入逐行读取（UTF-8，行尾的 \\n 或 \\r\\n 不计入）。\n"
    "在终端里逐行输入时，每输入一行就给出结果；Ctrl+D（Windows 控制台中为 Ctrl+Z 再按回车）"
    "结束输入。\n"
    "\n"
    "退出状态: 0 全部修复成功；1 有输入不受支持；2 用法错误或读写失败。\n"
    "\n"
    "  --help      显示本帮助\n"
    "  --version   显示版本\n"
    "  --          之后的参数都当作链接\n";

// The standard streams as the platform gives them.
#ifdef _WIN32
using Stream = HANDLE;
Stream standardStream(int which) {
  return GetStdHandle(which == 0   ? STD_INPUT_HANDLE
                      : which == 1 ? STD_OUTPUT_HANDLE
                                   : STD_ERROR_HANDLE);
}
bool isConsole(Stream s) {
  DWORD mode = 0;
  return s != INVALID_HANDLE_VALUE && s != nullptr && GetConsoleMode(s, &mode) != FALSE;
}
#else
using Stream = int;
Stream standardStream(int which) {
  return which;
}
bool isConsole(Stream s) {
  return isatty(s) != 0;
}
#endif

// Writes all of `size` bytes; false on any failure.
bool writeAll(Stream s, const char* data, std::size_t size) {
  while (size > 0) {
#ifdef _WIN32
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!WriteFile(s, data, chunk, &written, nullptr) || written == 0)
      return false;
#else
    const ssize_t written = ::write(s, data, size);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return false;
#endif
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// Buffered UTF-8 text. To a terminal or console it goes out line by line; a Windows console is
// given UTF-16 so Chinese reads correctly whatever its code page.
class Output {
 public:
  explicit Output(int which)
      : stream_(standardStream(which)),
        console_(isConsole(stream_)),
        data_(std::make_unique<char[]>(kCapacity)) {}
  bool toConsole() const { return console_; }

  // Room for `size` (at most kLineRoom) bytes at the end, counted once commit() is called.
  char* room(std::size_t size) {
    if (kCapacity - size_ < size)
      write();
    return data_.get() + size_;
  }
  void commit(std::size_t size) { size_ += size; }
  void append(std::string_view text) {
    while (!text.empty()) {
      if (size_ == kCapacity)
        write();
      const std::size_t part = std::min(text.size(), kCapacity - size_);
      std::memcpy(data_.get() + size_, text.data(), part);
      size_ += part;
      text.remove_prefix(part);
    }
  }
  // Called at line ends, so a write to a console splits no character.
  void lineDone() {
    if (console_)
      write();
  }
  bool flush() {
    write();
    return ok_;
  }

 private:
  static constexpr std::size_t kCapacity = 1u << 16;

  void write() {
    if (size_ == 0)
      return;
#ifdef _WIN32
    if (console_) {
      const int length =
          MultiByteToWideChar(CP_UTF8, 0, data_.get(), static_cast<int>(size_), nullptr, 0);
      std::wstring wide(static_cast<std::size_t>(length), L'\0');
      MultiByteToWideChar(CP_UTF8, 0, data_.get(), static_cast<int>(size_), wide.data(), length);
      DWORD written = 0;
      ok_ = ok_ &&
            WriteConsoleW(stream_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
      size_ = 0;
      return;
    }
#endif
    ok_ = ok_ && writeAll(stream_, data_.get(), size_);
    size_ = 0;
  }

  Stream stream_;
  bool console_;
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  bool ok_ = true;
};

std::string utf8(std::u16string_view text) {
  std::string s;
  quenvar::cli::appendUtf8(s, text);
  return s;
}

enum class InputStatus { Read, Failed };

class Batch {
 public:
  Batch() : out_(1), err_(2) {}
  Output& err() { return err_; }
  Output& out() { return out_; }

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

  InputStatus readStandardInput() {
    quenvar::cli::LineRepairer repairer;
    auto onLine = [this](const LineResult& r) { report(r); };
    const Stream input = standardStream(0);
    // Typed at a terminal: every line is answered as soon as it is entered.
    const bool interactive = isConsole(input);
    auto answer = [&] {
      if (interactive) {
        out_.flush();
        err_.flush();
      }
    };
#ifdef _WIN32
    if (interactive) {
      // A console gives UTF-16; the line reader takes the same text as UTF-8.
      quenvar::cli::Utf16ToUtf8 converter;
      std::vector<wchar_t> wide(4096);
      std::string bytes;
      DWORD got = 0;
      bool ended = false;
      while (!ended &&
             ReadConsoleW(input, wide.data(), static_cast<DWORD>(wide.size()), &got, nullptr) &&
             got > 0) {
        std::u16string_view piece(reinterpret_cast<const char16_t*>(wide.data()), got);
        // Ctrl+Z ends console input; what came before it on its line is the last line.
        if (const std::size_t z = piece.find(u'\x1A'); z != piece.npos) {
          piece = piece.substr(0, z);
          ended = true;
        }
        bytes.clear();
        converter.append(piece, bytes);
        if (ended)
          converter.finish(bytes);
        repairer.feed(bytes.data(), bytes.size(), onLine);
        answer();
      }
      bytes.clear();
      converter.finish(bytes);
      repairer.feed(bytes.data(), bytes.size(), onLine);
      repairer.finish(onLine);
      return InputStatus::Read;
    }
#endif
    std::vector<char> chunk(1u << 17);
    for (;;) {
#ifdef _WIN32
      DWORD got = 0;
      if (!ReadFile(input, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE)
          break;  // the writing end has closed
        return InputStatus::Failed;
      }
#else
      const ssize_t got = ::read(input, chunk.data(), chunk.size());
      if (got < 0 && errno == EINTR)
        continue;
      if (got < 0)
        return InputStatus::Failed;
#endif
      if (got == 0)
        break;
      repairer.feed(chunk.data(), static_cast<std::size_t>(got), onLine);
      answer();
    }
    repairer.finish(onLine);
    return InputStatus::Read;
  }

  int finish(InputStatus input) {
    if (input == InputStatus::Failed)
      err_.append("quenvar-cli: 读取标准输入失败\n");
    const bool written = out_.flush();
    if (!written)
      err_.append("quenvar-cli: 写入标准输出失败\n");
    err_.flush();
    if (input == InputStatus::Failed || !written)
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
    err_.append("quenvar-cli: 第 " + std::to_string(line_) + " 行：" +
                (outcome == LineOutcome::InvalidUtf8 ? std::string("不是有效的 UTF-8 文本")
                                                     : unsupportedMessage_) +
                "\n");
    err_.lineDone();
  }

  Output out_, err_;
  const std::string unsupportedMessage_ = utf8(quenvar::kUnsupportedMessage);
  std::uint64_t line_ = 0;
  bool allRepaired_ = true;
};

// Command-line arguments as the platform gives them: UTF-8 bytes on Linux, UTF-16 on Windows.
#ifdef _WIN32
using ArgChar = wchar_t;
std::u16string_view units(const wchar_t* arg) {
  return {reinterpret_cast<const char16_t*>(arg), std::wcslen(arg)};
}
LineResult repairArgument(const wchar_t* arg) {
  return quenvar::cli::repairText(units(arg));
}
std::string narrow(const wchar_t* arg) {
  return utf8(units(arg));
}
#else
using ArgChar = char;
LineResult repairArgument(const char* arg) {
  return quenvar::cli::repairUtf8Line(reinterpret_cast<const unsigned char*>(arg),
                                      std::strlen(arg));
}
std::string narrow(const char* arg) {
  return arg;
}
#endif

int run(int argc, ArgChar** argv) {
  Batch batch;
  std::vector<const ArgChar*> inputs;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = narrow(argv[i]);
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
      batch.out().append(kUsage);
      return batch.out().flush() ? kAllRepaired : kUsageOrIoError;
    } else if (!optionsEnded && arg == "--version") {
      batch.out().append("quenvar-cli " QUENVAR_VERSION_STRING "\n");
      return batch.out().flush() ? kAllRepaired : kUsageOrIoError;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      batch.err().append("quenvar-cli: 未知选项 " + arg + "\n" + kUsage);
      batch.err().flush();
      return kUsageOrIoError;
    } else {
      inputs.push_back(argv[i]);
    }
  }
  InputStatus input = InputStatus::Read;
  if (inputs.empty())
    input = batch.readStandardInput();
  for (const ArgChar* argument : inputs) {
    if (narrow(argument) == "-") {
      if (batch.readStandardInput() == InputStatus::Failed)
        input = InputStatus::Failed;
    } else {
      batch.report(repairArgument(argument));
    }
  }
  return batch.finish(input);
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
