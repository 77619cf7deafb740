// quenvar-cli: repairs expired share links in bulk with the same rule as the window.
//   quenvar-cli LINK...      repair each argument
//   quenvar-cli [-] < FILE   repair each line of standard input
// One output line per input: the home link, or an empty line when unsupported.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "identity.h"
#include "line_repair.h"
#include "share_link.h"

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
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
    "\n"
    "退出状态: 0 全部修复成功；1 有输入不受支持；2 用法错误或读写失败。\n"
    "\n"
    "  --help      显示本帮助\n"
    "  --version   显示版本\n"
    "  --          之后的参数都当作链接\n";

// Buffered text output. UTF-8 bytes, except to a Windows console, which is given UTF-16 so
// Chinese reads correctly whatever its code page.
class Output {
 public:
  explicit Output(std::FILE* file) : file_(file) {
#ifdef _WIN32
    _setmode(_fileno(file), _O_BINARY);
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    DWORD mode = 0;
    console_ = handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
#endif
  }
  std::string& buffer() {
    return buffer_;
  }
  // Called at line ends only, so a console write never splits a character.
  void lineDone() {
    if (buffer_.size() >= kFlushAt)
      write();
  }
  // Writes what is buffered and pushes it out of the C library too.
  bool flush() {
    write();
    ok_ = std::fflush(file_) == 0 && ok_;
    return ok_;
  }

 private:
  static constexpr std::size_t kFlushAt = 1u << 20;

  void write() {
    if (buffer_.empty())
      return;
#ifdef _WIN32
    if (console_ != nullptr) {
      const int length = MultiByteToWideChar(CP_UTF8, 0, buffer_.data(),
                                             static_cast<int>(buffer_.size()), nullptr, 0);
      std::wstring wide(static_cast<std::size_t>(length), L'\0');
      MultiByteToWideChar(CP_UTF8, 0, buffer_.data(), static_cast<int>(buffer_.size()), wide.data(),
                          length);
      DWORD written = 0;
      ok_ = ok_ && WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written,
                                 nullptr);
      buffer_.clear();
      return;
    }
#endif
    ok_ = ok_ && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
    buffer_.clear();
  }

  std::FILE* file_;
  std::string buffer_;
  bool ok_ = true;
#ifdef _WIN32
  HANDLE console_ = nullptr;
#endif
};

class Batch {
 public:
  Batch() : out_(stdout), err_(stderr) {}

  void report(const LineResult& result) {
    ++line_;
    std::string& out = out_.buffer();
    if (result.outcome == LineOutcome::Repaired) {
      // A key is at most ten units, so the whole line fits a small buffer: one append a line.
      const std::string_view prefix = quenvar::cli::homeLinkPrefixUtf8();
      char line[128];
      static_assert(sizeof(line) >
                    quenvar::kHomeLinkPrefix.size() + 3 * quenvar::UserKeyLength + 1);
      std::memcpy(line, prefix.data(), prefix.size());
      std::size_t length =
          prefix.size() + quenvar::cli::encodeUtf8(result.key, line + prefix.size());
      line[length++] = '\n';
      out.append(line, length);
      out_.lineDone();
      return;
    } else {
      allRepaired_ = false;
      const char* why = result.outcome == LineOutcome::InvalidUtf8 ? "不是有效的 UTF-8 文本"
                                                                   : "暂不支持此链接...";
      // Flushing both keeps messages next to their lines when both go to a terminal.
      out_.flush();
      err_.buffer() += "quenvar-cli: 第 " + std::to_string(line_) + " 行：" + why + "\n";
      err_.flush();
    }
    out += '\n';
    out_.lineDone();
  }

  bool readStandardInput() {
    quenvar::cli::LineRepairer repairer;
    auto onLine = [this](const LineResult& r) { report(r); };
#ifdef _WIN32
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode)) {
      // Typed at a console: read UTF-16 and hand the same UTF-8 to the line reader.
      std::vector<wchar_t> wide(4096);
      DWORD got = 0;
      while (ReadConsoleW(input, wide.data(), static_cast<DWORD>(wide.size()), &got, nullptr) &&
             got > 0) {
        const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(got),
                                               nullptr, 0, nullptr, nullptr);
        std::string bytes(static_cast<std::size_t>(length), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(got), bytes.data(), length,
                            nullptr, nullptr);
        if (bytes.size() == 1 && bytes[0] == '\x1A')
          break;  // Ctrl+Z ends console input
        repairer.feed(bytes.data(), bytes.size(), onLine);
      }
      repairer.finish(onLine);
      return true;
    }
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    std::vector<char> chunk(1u << 18);
    for (;;) {
      const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), stdin);
      if (got > 0)
        repairer.feed(chunk.data(), got, onLine);
      if (got < chunk.size())
        break;
    }
    if (std::ferror(stdin))
      return false;
    repairer.finish(onLine);
    return true;
  }

  int finish(bool inputOk) {
    if (!inputOk)
      err_.buffer() += "quenvar-cli: 读取标准输入失败\n";
    const bool written = out_.flush();
    if (!written)
      err_.buffer() += "quenvar-cli: 写入标准输出失败\n";
    err_.flush();
    if (!inputOk || !written)
      return kUsageOrIoError;
    return allRepaired_ ? kAllRepaired : kSomeUnsupported;
  }

  Output& err() {
    return err_;
  }
  Output& out() {
    return out_;
  }

 private:
  Output out_, err_;
  std::uint64_t line_ = 0;
  bool allRepaired_ = true;
};

// Command-line arguments as the platform gives them: UTF-8 bytes on Linux, UTF-16 on Windows.
#ifdef _WIN32
using ArgChar = wchar_t;
LineResult repairArgument(const wchar_t* arg) {
  const std::wstring_view wide(arg);
  static std::u16string units;  // the key views it until the line is written
  units.assign(wide.begin(), wide.end());
  return quenvar::cli::repairText(units);
}
std::string narrow(const wchar_t* arg) {
  std::string s;
  const std::wstring_view wide(arg);
  quenvar::cli::appendUtf8(s, std::u16string(wide.begin(), wide.end()));
  return s;
}
#else
using ArgChar = char;
LineResult repairArgument(const char* arg) {
  static quenvar::cli::TailDecoder decoder;
  decoder.reset();
  decoder.consume(arg, std::strlen(arg));
  return decoder.finish(false);
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
      batch.out().buffer() += kUsage;
      return batch.out().flush() ? kAllRepaired : kUsageOrIoError;
    } else if (!optionsEnded && arg == "--version") {
      batch.out().buffer() += "quenvar-cli " QUENVAR_VERSION_STRING "\n";
      return batch.out().flush() ? kAllRepaired : kUsageOrIoError;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      batch.err().buffer() += "quenvar-cli: 未知选项 " + arg + "\n" + kUsage;
      batch.err().flush();
      return kUsageOrIoError;
    } else {
      inputs.push_back(argv[i]);
    }
  }
  bool inputOk = true;
  if (inputs.empty()) {
    inputOk = batch.readStandardInput();
  }
  for (const ArgChar* input : inputs) {
    if (narrow(input) == "-") {
      inputOk = batch.readStandardInput() && inputOk;
    } else {
      batch.report(repairArgument(input));
    }
  }
  return batch.finish(inputOk);
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
