// The address-filter list: stored always, installed through the driver while bound.
#include "capture/KelNetMonitor.h"

bool TKelNetMonitor::set_FilterIP(const std::string& list) {
  {
    std::lock_guard<std::mutex> lock(FStateLock);
    FFilterIP = list;
  }
  return apply_FilterIP();
}

std::string TKelNetMonitor::get_FilterIP() const {
  std::lock_guard<std::mutex> lock(FStateLock);
  return FFilterIP;
}

bool TKelNetMonitor::apply_FilterIP() {
  // Nothing bound: the list waits for the next bind, which installs it.
  if (!FBound.load()) return true;
  return OnDriverThread(Wait::ForResult, false, [this] { return ApplyFilterHere(); });
}

bool TKelNetMonitor::ApplyFilterHere() {
  if (!FBound.load()) return true;
  const std::string list = get_FilterIP();
  const bool result = Driver_SetFilter(list);
  if (!result) {
    if (list.empty())
      DNetError("Failed to install standard ip filter");
    else
      DNetError("Failed to install ip filter " + list);
  }
  return result;
}

void TKelNetMonitor::FilterAllIP() {
  set_FilterIP(std::string());
}
