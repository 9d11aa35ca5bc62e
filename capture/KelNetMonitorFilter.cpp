// The address-filter list: stored always, installed through the driver while bound.
#include "capture/KelNetMonitor.h"

bool TKelNetMonitor::set_FilterIP(const std::string& list) {
  FFilterIP = list;
  return apply_FilterIP();
}

std::string TKelNetMonitor::get_FilterIP() const {
  return FFilterIP;
}

bool TKelNetMonitor::apply_FilterIP() {
  if (!FBound.load()) return true;
  bool result;
  {
    AdapterGuard guard(*this);
    result = Driver_SetFilter(FFilterIP);
  }
  if (!result) {
    if (FFilterIP.empty())
      DNetError("Failed to install standard ip filter");
    else
      DNetError("Failed to install ip filter " + FFilterIP);
  }
  return result;
}

void TKelNetMonitor::FilterAllIP() {
  set_FilterIP(std::string());
}
