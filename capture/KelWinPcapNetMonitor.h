#pragma once
// The capture component over libpcap: lists the Ethernet adapters, opens one
// in promiscuous mode, installs the address filter, and reads frames in
// batches on the worker thread.
//
// Reads never block for long: the handle is non-blocking and the worker waits
// in poll() on the capture descriptor and a wake-up descriptor, at most TimeOut
// milliseconds, so Driver_WakeUp makes any pending read return at once.

#include <pcap/pcap.h>

#include <atomic>
#include <string>

#include "capture/KelNetMonitor.h"

class TKelWinPcapNetMonitor : public TKelNetMonitor {
  Q_OBJECT
  Q_PROPERTY(int MaxPacketsPerCall MEMBER MaxPacketsPerCall)
  Q_PROPERTY(int TimeOut MEMBER TimeOut)
  Q_PROPERTY(int MaxPacketSize MEMBER MaxPacketSize)

 public:
  static constexpr size_t MaxAdapterNameLength = 255;

  explicit TKelWinPcapNetMonitor(QObject* AOwner = nullptr, bool designMode = false);
  ~TKelWinPcapNetMonitor() override;

  // Published; written before capture starts, read by the worker.
  int MaxPacketsPerCall = 0;
  int TimeOut = 0;
  int MaxPacketSize = 0;

  bool Driver_SetFilter(const std::string& filterList) override;
  void Driver_RetrieveAdapterList() override;
  bool Driver_Open() override;
  bool Driver_Close() override;
  bool Driver_BindAdapter(const char* deviceName) override;
  bool Driver_UnBindAdapter() override;
  bool SendPacket(TKelNetPacket* packet) override;
  void TakeTimeToProcess() override;
  std::string get_DriverName() override;
  void* get_driverp() override;
  void Driver_WakeUp() override;

  // Compiles `expression` for the bound adapter and installs it. An adapter
  // without an IPv4 network compiles with an unknown netmask, which only
  // matters for broadcast-address expressions.
  bool SetLocalIPFilter(const std::string& expression);

  // Kernel counters of the bound adapter (pcap_stats); false when unbound.
  bool GetKernelStats(unsigned& received, unsigned& dropped);

  const std::string& boundAdapterName() const { return FBoundAdapterName; }

  // Designer registration under the palette page "TKelComponents"; there is no
  // designer on this platform, so nothing is registered.
  static void Register();

  // Per-frame callback handed to pcap_dispatch; `user` is the component.
  static void PcapPacketHandler(u_char* user, const struct pcap_pkthdr* header, const u_char* bytes);

 protected:
  std::string FBoundAdapterName;
  pcap_t* FCaptureHandle = nullptr;

 private:
  enum class WaitResult { Woken, Ready, SocketError };
  // Waits until the capture descriptor is readable, a wake-up arrives or
  // TimeOut passes.
  WaitResult WaitForFrames();
  // Reports a failing adapter once per episode.
  void ReportDispatchError(const std::string& reason);
  void DrainWakeUps();

  int FWakeFd = -1;               // eventfd written by Driver_WakeUp
  bool FDispatchFailing = false;  // an error episode is already reported
  std::mutex FHandleLock;         // FCaptureHandle against a foreign wake-up
};
