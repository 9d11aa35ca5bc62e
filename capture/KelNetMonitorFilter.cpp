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
  if (!FBound.load()) return true;
  std::string list;
  bool result;
  {
    AdapterGuard guard(*this);
    // Asked again: the wait for the lock may have served an unbind.
    if (!FBound.load()) return true;
    list = get_FilterIP();
    result = Driver_SetFilter(list);
  }
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
