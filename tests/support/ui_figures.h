#pragma once
// Figures of a running program's user-interface thread and memory, for the
// benchmarks that print them (never asserted as thresholds).
#include <windows.h>
#include <psapi.h>

#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace uiauto {

// The process's commit charge (Wine leaves PrivateUsage at 0) and its
// working set, in KiB.
struct Memory {
  size_t committed;
  size_t workingSet;
};
inline Memory MemoryOf(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters = {};
  GetProcessMemoryInfo(process, &counters, sizeof counters);
  return {counters.PagefileUsage / 1024, counters.WorkingSetSize / 1024};
}

// WM_NULL round trips to a window from a thread of this process, every
// periodMs from construction to Stop or Print, which prints what they took.
class RoundTrips {
 public:
  RoundTrips(HWND window, DWORD periodMs)
      : thread_([this, window, periodMs] {
          LARGE_INTEGER frequency, start, end;
          QueryPerformanceFrequency(&frequency);
          while (!stop_) {
            DWORD_PTR ignored = 0;
            QueryPerformanceCounter(&start);
            if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored)) ++unanswered_;
            QueryPerformanceCounter(&end);
            trips_.push_back(1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                             static_cast<double>(frequency.QuadPart));
            Sleep(periodMs);
          }
        }) {}
  ~RoundTrips() { Stop(); }
  RoundTrips(const RoundTrips&) = delete;
  RoundTrips& operator=(const RoundTrips&) = delete;

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  int Unanswered() const { return unanswered_; }
  void Print(const char* when) {
    Stop();
    std::vector<double> sorted = trips_;
    std::sort(sorted.begin(), sorted.end());
    double total = 0;
    for (double ms : sorted) total += ms;
    const size_t n = sorted.size();
    printf("FIGURE velmora.exe UI thread %s: %zu WM_NULL round trips, mean %.2f ms, 99th percentile %.2f ms, "
           "worst %.2f ms, %d unanswered in 5 s\n",
           when, n, n ? total / static_cast<double>(n) : 0.0, n ? sorted[n * 99 / 100] : 0.0, n ? sorted[n - 1] : 0.0,
           unanswered_);
    fflush(stdout);
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<double> trips_;
  int unanswered_ = 0;
  std::thread thread_;
};

}  // namespace uiauto
