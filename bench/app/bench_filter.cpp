// The display filter on a big capture opened in the main window (offscreen),
// against libpcap's own reader filtering the same file.
//
// The capture: the 2,000,000 frames of bench_open_capture (mixed traffic with
// mostly full TCP segments, about 1.6 GB), written by this program into
// TMPDIR (NETVANE_BENCH_FRAMES sets another count; NETVANE_BENCH_FILE names a
// capture to use instead, kept afterwards). Two filters: one that matches few
// frames (UDP frames of one length) and one that matches a third of them
// (UDP or ARP). For each, best of three, warm:
//  - applying it through the window, from the call to the first rows listed
//    and to the whole file filtered, with the event loop running as in the
//    program; the CPU time of the whole process meanwhile; the UI thread's
//    longest stall; the peak resident memory beyond what the opened window
//    held, and the shown-frame mapping's bytes beyond 4 a shown frame;
//  - the floor libpcap's own reader sets: pcap_open_offline, pcap_setfilter
//    and a loop that counts, in this process (CPU time), and the CPU time of
//    `tcpdump -r FILE -w /dev/null EXPR` where tcpdump is installed.
// The shown frames must be as many as libpcap's reader counts.
// Goals: first rows within 0.2 s; no more CPU than tcpdump; at most 4 bytes
// per shown frame beyond the index.
//
// A plain program rather than a Google Benchmark; arguments are ignored.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <pcap/pcap.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>

#include "app/Form1.h"
#include "app/display_filter.h"
#include "app/exception_report.h"
#include "app/file_job.h"
#include "app/packet_list_model.h"
#include "bench/app/idle_window.h"
#include "bench/app/window_probe.h"
#include "bench/decode/mixed_traffic.h"
#include "capture/KelNetMonitor.h"
#include "pcapfile/frame_list.h"

extern char** environ;

namespace {

using benchwindow::IdleMonitor;
using benchwindow::Pump;

// CPU seconds (user + system) of `tcpdump -r FILE -w /dev/null EXPR`; negative when it failed.
double TcpdumpCpu(const std::string& tcpdump, const std::string& file, const std::string& expression) {
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  std::string a0 = tcpdump, a1 = "-r", a2 = file, a3 = "-w", a4 = "/dev/null", a5 = expression;
  char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), a4.data(), a5.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, tcpdump.c_str(), &files, nullptr, argv, environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&files);
  int status = 0;
  rusage u{};
  if (pid < 0 || wait4(pid, &status, 0, &u) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Frames of `file` that libpcap's reader lets through `expression`, and the
// CPU seconds it took; -1 frames when it failed.
std::pair<long, double> LibpcapCount(const std::string& file, const std::string& expression) {
  char error[PCAP_ERRBUF_SIZE] = "";
  pcap_t* p = pcap_open_offline(file.c_str(), error);
  if (p == nullptr) return {-1, 0};
  bpf_program program{};
  long count = -1;
  const double before = benchprobe::CpuSeconds();
  if (pcap_compile(p, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0 &&
      pcap_setfilter(p, &program) == 0) {
    count = 0;
    pcap_loop(
        p, -1, [](u_char* user, const pcap_pkthdr*, const u_char*) { ++*reinterpret_cast<long*>(user); },
        reinterpret_cast<u_char*>(&count));
    pcap_freecode(&program);
  }
  const double cpu = benchprobe::CpuSeconds() - before;
  pcap_close(p);
  return {count, cpu};
}

struct Run {
  double firstRows = -1, seconds = 0, cpu = 0, stallMs = 0, stallCpuMs = 0, peakMb = 0;
  uint32_t shown = 0;
  double mappingBeyondKiB = 0;  // the mapping's bytes beyond 4 a shown frame
};

Run ApplyOnce(TForm1& form, const QString& expression) {
  Run r;
  TDisplayFilter* filter = form.displayFilter();
  filter->Clear();
  QCoreApplication::processEvents();
  benchprobe::ResetPeakResident();
  const long before = benchprobe::ResidentBytes();
  benchprobe::Heartbeat heart;
  heart.Start();
  const double cpu = benchprobe::CpuSeconds();
  QElapsedTimer clock;
  clock.start();
  QString error;
  if (!filter->Apply(expression, error)) {
    std::printf("  %s: %s\n", expression.toLocal8Bit().constData(), error.toLocal8Bit().constData());
    return r;
  }
  Pump([&] {
    if (r.firstRows < 0 && form.packetModel()->listed() > 0) r.firstRows = double(clock.nsecsElapsed()) / 1e9;
    return filter->caughtUp();
  });
  r.seconds = double(clock.nsecsElapsed()) / 1e9;
  r.cpu = benchprobe::CpuSeconds() - cpu;
  heart.Stop();
  r.stallMs = heart.LongestGapMs();
  r.stallCpuMs = heart.LongestGapCpuMs();
  r.peakMb = double(benchprobe::PeakResidentBytes() - before) / 1048576.0;
  r.shown = form.packetModel()->listed();
  r.mappingBeyondKiB = (double(filter->shown().Bytes()) - 4.0 * r.shown) / 1024.0;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The filters applied are remembered: in the run's own settings, not the user's.
  QTemporaryDir dir;
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
  netvane::TApplication app(argc, argv);
  QString file = qEnvironmentVariable("NETVANE_BENCH_FILE");
  if (file.isEmpty() || !QFileInfo::exists(file)) {
    if (file.isEmpty()) file = dir.filePath("mixed.pcap");
    if (!netvane::bench::WriteMixedCapture(file.toStdString(), netvane::bench::MixedCaptureFrames(), true))
      return 1;
  }
  std::printf("bench_filter: %s, %.0f MiB\n", file.toLocal8Bit().constData(),
              double(QFileInfo(file).size()) / 1048576.0);
  std::string tcpdump;
  for (const char* t : {"/usr/bin/tcpdump", "/usr/sbin/tcpdump"})
    if (access(t, X_OK) == 0) tcpdump = t;

  auto list = std::make_unique<netvane::FrameList>();
  auto form = std::make_unique<TForm1>(*list, nullptr, [](QObject* owner) { return new IdleMonitor(owner); });
  form->show();
  if (!form->OpenCaptureFile(file)) return 1;
  Pump([&] { return form->fileJob() == nullptr; });
  const uint32_t frames = form->packetModel()->listed();
  // The index's own memory is bench_open_capture's figure.
  std::printf("  opened: %u frames listed\n", frames);

  bool ok = frames > 0;
  for (const char* expression : {"udp and len = 541", "udp or arp"}) {
    const auto [count, pcapCpu] = LibpcapCount(file.toStdString(), expression);
    double tcpdumpBest = std::numeric_limits<double>::max();
    for (int i = 0; i < 3 && !tcpdump.empty(); ++i)
      tcpdumpBest = std::min(tcpdumpBest, TcpdumpCpu(tcpdump, file.toStdString(), expression));
    Run best;
    best.seconds = std::numeric_limits<double>::max();
    double peak = 0, stall = 0, stallCpu = 0, first = 0;
    for (int i = 0; i < 3; ++i) {
      const Run r = ApplyOnce(*form, QString::fromLatin1(expression));
      ok = ok && long(r.shown) == count;
      if (r.cpu < best.cpu || best.seconds == std::numeric_limits<double>::max()) best = r;
      peak = std::max(peak, r.peakMb);
      if (r.stallMs > stall) stall = r.stallMs, stallCpu = r.stallCpuMs;
      first = std::max(first, r.firstRows);
    }
    std::printf("  \"%s\": %u of %u frames shown (libpcap's reader: %ld)\n", expression, best.shown, frames,
                count);
    std::printf(
        "    window, best of 3: whole file %.2f s, CPU %.2f s; first rows %.3f s (worst of 3 %.3f s); "
        "longest UI stall %.1f ms (worst; %.1f ms of it on the UI thread's CPU)\n",
        best.seconds, best.cpu, best.firstRows, first, stall, stallCpu);
    std::printf(
        "    peak resident beyond the opened window %.1f MB (worst of 3); mapping 4 bytes per shown frame "
        "and %.1f KiB\n",
        peak, best.mappingBeyondKiB);
    std::printf("    libpcap's reader and filter in this process: CPU %.2f s", pcapCpu);
    if (!tcpdump.empty())
      std::printf("; tcpdump -r FILE -w /dev/null: CPU %.2f s (best of 3)\n", tcpdumpBest);
    else
      std::printf("; tcpdump is not installed\n");
  }
  form->close();
  if (!ok) std::printf("bench_filter: the window showed other frames than libpcap's reader lets through\n");
  return ok ? 0 : 1;
}
