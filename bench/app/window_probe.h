#pragma once
// What the window benchmarks measure of their own process: resident memory
// (now and at its peak), CPU time, and the longest time the UI thread did not
// get round to a 5 ms timer.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <dirent.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
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
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds and peak resident bytes of this process's descendants named
// `name` (the capture helper, where the driver uses one); found = 0 when none.
struct Descendants {
  int found = 0;
  double cpuSeconds = 0;
  long peakResident = 0;
};
inline Descendants DescendantsNamed(const std::string& name) {
  Descendants d;
  const long ticks = sysconf(_SC_CLK_TCK);
  const pid_t self = getpid();
  auto parentOf = [](long pid) -> long {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    long ppid = 0;
    std::sscanf(text.c_str() + close + 2, "%*c %ld", &ppid);
    return ppid;
  };
  if (DIR* dir = opendir("/proc")) {
    while (dirent* e = readdir(dir)) {
      const long pid = std::atol(e->d_name);
      if (pid <= 0 || pid == self) continue;
      std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
      std::string c;
      if (!std::getline(comm, c) || c != name.substr(0, 15)) continue;
      long up = pid;
      for (int depth = 0; depth < 16 && up > 1 && up != self; ++depth) up = parentOf(up);
      if (up != self) continue;
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
      const size_t close = text.rfind(')');
      unsigned long utime = 0, stime = 0;
      if (close != std::string::npos &&
          std::sscanf(text.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
                      &stime) == 2)
        d.cpuSeconds += double(utime + stime) / double(ticks);
      std::ifstream status("/proc/" + std::to_string(pid) + "/status");
      for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) d.peakResident += std::stol(line.substr(6)) * 1024;
      ++d.found;
    }
    closedir(dir);
  }
  return d;
}

// CPU seconds of the calling thread.
inline double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// User-mode CPU seconds of the calling thread: its own code and libraries,
// without system calls, page faults and the kernel's packet work that
// interrupts happen to charge to it.
inline double ThreadUserSeconds() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return double(u.ru_utime.tv_sec) + double(u.ru_utime.tv_usec) / 1e6;
}

// The longest gap between two ticks of a 5 ms timer on the UI thread, when it
// ended (seconds after Start), and how much of it the UI thread spent on the
// CPU, and of that in user mode: a gap spent off the CPU is the scheduler's
// (other processes had the cores); time in user mode is the program's own
// work. (User time is counted in ticks of the kernel's clock, a few ms.)
class Heartbeat {
 public:
  Heartbeat() {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.nsecsElapsed();
      const double cpu = ThreadCpuSeconds();
      const double user = ThreadUserSeconds();
      rusage u{};
      getrusage(RUSAGE_THREAD, &u);
      if (now - last_ > longest_) {
        longest_ = now - last_;
        longestEnd_ = now;
        longestCpu_ = cpu - lastCpu_;
        longestUser_ = user - lastUser_;
        longestWaits_ = u.ru_nvcsw - lastWaits_;
        longestPreempted_ = u.ru_nivcsw - lastPreempted_;
      }
      last_ = now;
      lastCpu_ = cpu;
      lastUser_ = user;
      lastWaits_ = u.ru_nvcsw;
      lastPreempted_ = u.ru_nivcsw;
    });
  }
  void Start() {
    clock_.start();
    last_ = longest_ = longestEnd_ = 0;
    lastCpu_ = ThreadCpuSeconds();
    lastUser_ = ThreadUserSeconds();
    longestCpu_ = longestUser_ = 0;
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    lastWaits_ = u.ru_nvcsw;
    lastPreempted_ = u.ru_nivcsw;
    longestWaits_ = longestPreempted_ = 0;
    timer_.start(5);
  }
  void Stop() { timer_.stop(); }
  double LongestGapMs() const { return double(longest_) / 1e6; }
  double LongestGapEndS() const { return double(longestEnd_) / 1e9; }
  double LongestGapCpuMs() const { return longestCpu_ * 1e3; }
  double LongestGapUserMs() const { return longestUser_ * 1e3; }
  // Times the UI thread went to sleep (waiting on a lock or for events) and
  // was preempted during the longest gap.
  long LongestGapWaits() const { return longestWaits_; }
  long LongestGapPreemptions() const { return longestPreempted_; }
  double ElapsedS() const { return double(clock_.nsecsElapsed()) / 1e9; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = 0, longest_ = 0, longestEnd_ = 0;
  double lastCpu_ = 0, longestCpu_ = 0, lastUser_ = 0, longestUser_ = 0;
  long lastWaits_ = 0, longestWaits_ = 0, lastPreempted_ = 0, longestPreempted_ = 0;
};

}  // namespace benchprobe
