// Times start to window-shown for two programs, pair by pair, and reads each one's peak memory.
//   startup_bench RUNS PROGRAM.exe BASELINE.exe
// Each pair runs both programs back to back, alternating which goes first, so drift in the
// machine's load falls on both alike.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Run {
  double milliseconds = 0;
  double peakMegabytes = 0;
  bool ok = false;
};

struct Search {
  DWORD pid;
  bool found;
};

BOOL CALLBACK findShown(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == search->pid && IsWindowVisible(window) && GetWindow(window, GW_OWNER) == nullptr) {
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK closeWindowsOf(HWND window, LPARAM data) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == reinterpret_cast<Search*>(data)->pid)
    PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

std::wstring windowsPath(const char* path) {
  std::string p = path;
  if (!p.empty() && p[0] == '/')
    p = "Z:" + p;
  std::replace(p.begin(), p.end(), '/', '\\');
  return {p.begin(), p.end()};
}

Run timeOne(const std::wstring& exe) {
  Run run;
  LARGE_INTEGER frequency, start, shown;
  QueryPerformanceFrequency(&frequency);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::wstring commandLine = L"\"" + exe + L"\"";
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return run;
  }
  Search search{process.dwProcessId, false};
  for (int i = 0; i < 20000 && !search.found; ++i) {
    EnumWindows(findShown, reinterpret_cast<LPARAM>(&search));
    if (!search.found)
      Sleep(1);
  }
  QueryPerformanceCounter(&shown);
  if (search.found) {
    run.milliseconds = 1000.0 * static_cast<double>(shown.QuadPart - start.QuadPart) /
                       static_cast<double>(frequency.QuadPart);
    WaitForInputIdle(process.hProcess, 5000);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof(counters))) {
      run.peakMegabytes = static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
      run.ok = true;
    }
  }
  // Close it as a user would; force only if it does not end.
  Search close{process.dwProcessId, false};
  EnumWindows(closeWindowsOf, reinterpret_cast<LPARAM>(&close));
  if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0)
    TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: startup_bench RUNS PROGRAM.exe BASELINE.exe\n");
    return 2;
  }
  const int runs = std::max(1, std::atoi(argv[1]));
  const std::wstring program = windowsPath(argv[2]), baseline = windowsPath(argv[3]);
  timeOne(program);  // warm the file cache for both before measuring
  timeOne(baseline);
  std::vector<double> programMs, baselineMs, ratios, programMb, baselineMb;
  for (int i = 0; i < runs; ++i) {
    Run a, b;
    if (i % 2 == 0) {
      a = timeOne(program);
      b = timeOne(baseline);
    } else {
      b = timeOne(baseline);
      a = timeOne(program);
    }
    if (!a.ok || !b.ok) {
      std::fprintf(stderr, "run %d: a program did not show its window\n", i + 1);
      return 1;
    }
    programMs.push_back(a.milliseconds);
    baselineMs.push_back(b.milliseconds);
    ratios.push_back(a.milliseconds / b.milliseconds);
    programMb.push_back(a.peakMegabytes);
    baselineMb.push_back(b.peakMegabytes);
  }
  std::printf("pairs: %d\n", runs);
  std::printf("start to window shown, median: program %.1f ms, baseline %.1f ms\n",
              median(programMs), median(baselineMs));
  std::printf("ratio program/baseline, median of pairs: %.3f\n", median(ratios));
  std::printf("peak working set, median: program %.1f MB, baseline %.1f MB\n", median(programMb),
              median(baselineMb));
  return 0;
}
