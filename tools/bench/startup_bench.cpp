// Times start to window-shown for Quenvar and two baselines (the same window written plainly,
// and an empty window), round by round, and reads each one's peak memory. The ratios are
// medians of the ratios within each round.
//   startup_bench ROUNDS QUENVAR.exe PLAIN_CONTROLS.exe EMPTY.exe
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "windows_path.h"

namespace {

using quenvar::windowsPath;

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

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: startup_bench ROUNDS QUENVAR.exe PLAIN_CONTROLS.exe EMPTY.exe\n");
    return 2;
  }
  const int rounds = std::max(1, static_cast<int>(std::wcstol(argv[1], nullptr, 10)));
  const char* const names[] = {"Quenvar", "plain controls", "empty window"};
  const std::wstring programs[] = {windowsPath(argv[2]), windowsPath(argv[3]),
                                   windowsPath(argv[4])};
  for (const std::wstring& program : programs)
    timeOne(program);                           // warm the file cache before measuring
  std::vector<double> ms[3], mb[3], ratios[3];  // quenvar/plain, plain/empty, quenvar/empty
  // Every order of the three comes in turn, so drift in the machine's load falls on all alike.
  static const int orders[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1},
                                   {2, 1, 0}, {1, 0, 2}, {0, 2, 1}};
  for (int i = 0; i < rounds; ++i) {
    Run runs[3];
    for (int k : orders[i % 6])
      runs[k] = timeOne(programs[k]);
    for (int k = 0; k < 3; ++k) {
      if (!runs[k].ok) {
        std::fprintf(stderr, "round %d: %s did not show its window\n", i + 1, names[k]);
        return 1;
      }
      ms[k].push_back(runs[k].milliseconds);
      mb[k].push_back(runs[k].peakMegabytes);
    }
    ratios[0].push_back(runs[0].milliseconds / runs[1].milliseconds);
    ratios[1].push_back(runs[1].milliseconds / runs[2].milliseconds);
    ratios[2].push_back(runs[0].milliseconds / runs[2].milliseconds);
  }
  std::printf("rounds: %d (each runs the three programs once)\n", rounds);
  for (int k = 0; k < 3; ++k) {
    std::printf("%-15s start to window shown %.1f ms, peak working set %.1f MB (medians)\n",
                names[k], median(ms[k]), median(mb[k]));
  }
  std::printf("plain-controls/empty-window ratio: %.3f\n", median(ratios[1]));
  std::printf("quenvar/empty-window ratio: %.3f\n", median(ratios[2]));
  std::printf("quenvar/plain-controls ratio: %.3f\n", median(ratios[0]));
  return 0;
}
