#pragma once
// What the window benchmarks measure of their own process: resident memory
// (now and at its peak), CPU time, and the longest time the UI thread did not
// get round to a 5 ms timer.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace benchprobe {

inline long ResidentBytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * sysconf(_SC_PAGESIZE);
}

// The peak resident size since start-up or the last ResetPeakResident (VmHWM).
inline long PeakResidentBytes() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) * 1024;
  return 0;
}

// Starts the peak over from the current resident size; false where the
// kernel does not offer it.
inline bool ResetPeakResident() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5\n";
  return bool(out.flush());
}

// User plus system CPU seconds of this process, all threads.
inline double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of the calling thread.
inline double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The longest gap between two ticks of a 5 ms timer on the UI thread, when it
// ended (seconds after Start), and how much of it the UI thread spent on the
// CPU: a gap spent mostly off the CPU is the scheduler's (other processes
// had the cores), one spent on it is the program's own work.
class Heartbeat {
 public:
  Heartbeat() {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.nsecsElapsed();
      const double cpu = ThreadCpuSeconds();
      if (now - last_ > longest_) {
        longest_ = now - last_;
        longestEnd_ = now;
        longestCpu_ = cpu - lastCpu_;
      }
      last_ = now;
      lastCpu_ = cpu;
    });
  }
  void Start() {
    clock_.start();
    last_ = longest_ = longestEnd_ = 0;
    lastCpu_ = ThreadCpuSeconds();
    longestCpu_ = 0;
    timer_.start(5);
  }
  void Stop() { timer_.stop(); }
  double LongestGapMs() const { return double(longest_) / 1e6; }
  double LongestGapEndS() const { return double(longestEnd_) / 1e9; }
  double LongestGapCpuMs() const { return longestCpu_ * 1e3; }
  double ElapsedS() const { return double(clock_.nsecsElapsed()) / 1e9; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = 0, longest_ = 0, longestEnd_ = 0;
  double lastCpu_ = 0, longestCpu_ = 0;
};

}  // namespace benchprobe
