#pragma once
// Drives a TKelWinPcapNetMonitor the way the main window does and records what
// it delivers and reports.

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/KelWinPcapNetMonitor.h"
#include "tests/live/veth_lab.h"
#include "tests/support/pump.h"

namespace netvane::lab {

struct Delivered {
  int32_t sequence;
  Bytes bytes;
};

class LiveCapture {
  // Declared before the monitor so they outlive its last status line.
  mutable std::mutex mutex_;
  std::vector<Delivered> frames_;
  std::vector<std::string> lines_;

 public:
  explicit LiveCapture(int timeOutMs = 50) {
    monitor.MaxPacketsPerCall = 50;
    monitor.TimeOut = timeOutMs;
    monitor.MaxPacketSize = 20000;
    monitor.setShowErrMsgBox(false);
    monitor.setOnNewPacket([this](TKelNetMonitor* sender) {
      TKelNetPacket record;
      while (sender->get_packetcount() > 0 && sender->GetNextPacket(&record)) {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back({record.SequenceNumber, Bytes(record.Data, record.Data + record.Length)});
      }
    });
    monitor.setOnStatusMessage([this](TKelNetMonitor*, const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
    });
  }

  // Open, select, bind and start polling, as the first Start does.
  bool Start(const std::string& adapter, int interval = 100) {
    if (!monitor.Open() || !monitor.SelectAdapter(adapter) || !monitor.StartCapture()) return false;
    monitor.NotifyThreadStart(interval);
    return true;
  }

  std::vector<Delivered> frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  std::vector<std::string> LinesStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& l : lines())
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
  }
  std::vector<uint32_t> Markers() const {
    std::vector<uint32_t> out;
    for (const Delivered& d : frames())
      if (auto m = MarkerIndex(d.bytes)) out.push_back(*m);
    return out;
  }

  // Serves what the worker posts to the UI thread while waiting; true when pred held in time.
  static bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    QCoreApplication::processEvents();  // at least once, also when pred already holds
    return PumpUntil(pred, timeout);
  }
  static void Settle(std::chrono::milliseconds time) {
    WaitUntil([] { return false; }, time);
  }

  template <typename Fn>
  static std::chrono::milliseconds Timed(Fn&& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  }

  TKelWinPcapNetMonitor monitor;
};

}  // namespace netvane::lab
