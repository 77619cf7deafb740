// quenvar-cli: repairs expired share links in bulk with the same rule as the window.
//   quenvar-cli LINK...      repair each argument
//   quenvar-cli [-] < FILE   repair each line of standard input
// One output line per input: the home link, or an empty line when unsupported.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "identity.h"
#include "line_repair.h"
#include "share_link.h"
#include "stream_io.h"

namespace {

using quenvar::cli::ArgChar;
using quenvar::cli::LineOutcome;
using quenvar::cli::LineResult;
using quenvar::cli::Output;

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

std::string utf8(std::u16string_view text) {
  std::string s;
  quenvar::cli::appendUtf8(s, text);
  return s;
}

// Repairs each input (an argument or a line of standard input) and writes one line for it.
class Batch {
 public:
  Batch() : out_(1), err_(2) {}
  Output& out() { return out_; }
  Output& err() { return err_; }

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

  // A failed read is reported at the end; every line read before it has been answered.
  void readStandardInput() {
    quenvar::cli::LineRepairer repairer;
    auto onLine = [this](const LineResult& r) { report(r); };
    const bool read = quenvar::cli::readAll(
        *quenvar::cli::standardInput(),
        [&](const char* data, std::size_t size) { repairer.feed(data, size, onLine); },
        [this] {
          out_.flush();
          err_.flush();
        });
    if (read)
      repairer.finish(onLine);
    else
      readFailed_ = true;
  }

  int finish() {
    if (readFailed_)
      err_.append("quenvar-cli: 读取标准输入失败\n");
    const bool written = out_.flush();
    if (!written)
      err_.append("quenvar-cli: 写入标准输出失败\n");
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
  bool readFailed_ = false;
};

// Command-line arguments as the platform gives them: UTF-16 on Windows, bytes elsewhere.
#ifdef _WIN32
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
  if (inputs.empty())
    batch.readStandardInput();
  for (const ArgChar* argument : inputs) {
    if (narrow(argument) == "-") {
      batch.readStandardInput();
    } else {
      batch.report(repairArgument(argument));
    }
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
