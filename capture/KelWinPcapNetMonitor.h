#pragma once
// The capture component over libpcap. The right to capture belongs to one
// small program, the capture helper (netvane-capture, helper/), which this
// driver starts and talks to over a socket: the helper opens one Ethernet
// adapter in promiscuous mode, attaches the filter this driver has compiled
// and sends the frames it reads. This process holds no capture right of its
// own; it lists the adapters and compiles filters itself, and waits at most
// a second for any answer of the helper.
//
// An adapter named ssh://[USER@]HOST[:PORT]/ADAPTER is another host's: the
// driver runs that host's helper over SSH (capture/ssh_link.h) and leaves
// the frames of that SSH connection out of the filter it compiles, so that a
// capture never captures itself. Its answers may take ssh's connect timeout
// and a second. The host hands such names to SetRemoteAdapters; they are
// listed after the machine's own.
//
// Everything that talks to the helper runs on the component's driver thread
// (KelNetMonitor.h): the worker while it runs, so the helper's connection has
// one owner and no lock. Reads never block for long: the worker waits in
// poll() on the helper's descriptor and a wake-up descriptor, at most TimeOut
// milliseconds, so Driver_WakeUp makes a pending read return at once.

#include <QObject>

#include <atomic>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "capture/KelNetMonitor.h"
#include "helper/protocol.h"

namespace netvane {
class CaptureHelperClient;
}

class TKelWinPcapNetMonitor : public TKelNetMonitor {
  Q_OBJECT
  Q_PROPERTY(int MaxPacketsPerCall MEMBER MaxPacketsPerCall)
  Q_PROPERTY(int TimeOut MEMBER TimeOut)
  Q_PROPERTY(int MaxPacketSize MEMBER MaxPacketSize)

 public:
  explicit TKelWinPcapNetMonitor(QObject* AOwner = nullptr, bool designMode = false);
  ~TKelWinPcapNetMonitor() override;

  // Published; written before capture starts, read by the worker.
  int MaxPacketsPerCall = 0;
  int TimeOut = 0;
  int MaxPacketSize = 0;
  // Gives a component this program's capture settings (capture_settings.h)
  // through its published properties, as its window stores them; the
  // designer's defaults are the same.
  static void ApplyProgramSettings(QObject* component);

  bool Driver_SetFilter(const std::string& filterList) override;
  void Driver_RetrieveAdapterList() override;
  bool Driver_Open() override;
  bool Driver_Close() override;
  bool Driver_BindAdapter(const char* deviceName) override;
  bool Driver_UnBindAdapter() override;
  // For hosts: sends the record's bytes as one frame on the bound adapter.
  bool SendPacket(TKelNetPacket* packet) override;
  void TakeTimeToProcess() override;
  std::string get_DriverName() override;
  // The helper that has the adapter open; null when no adapter is open.
  void* get_driverp() override;
  void Driver_WakeUp() override;

  // Compiles `expression` for the bound adapter and has the helper attach it.
  // An adapter without an IPv4 network compiles with an unknown netmask,
  // which only matters for broadcast-address expressions.
  bool SetLocalIPFilter(const std::string& expression);

  // A filter expression (pcap-filter(7)) that every capture from the next
  // bind takes besides the address-filter list; empty: none. It is compiled
  // with the list's expression into one program, which the helper checks
  // like any other.
  void SetCaptureExpression(std::string expression);

  // Kernel counters of the bound adapter; false when unbound, and when the
  // helper does not answer (reported once, and the helper is stopped).
  bool GetKernelStats(unsigned& received, unsigned& dropped);

  // Adapters of other hosts (ssh://[USER@]HOST[:PORT]/ADAPTER), listed after
  // the machine's own from the next Open, each described as "ADAPTER on
  // [USER@]HOST[:PORT]"; names that are not such are left out.
  void SetRemoteAdapters(std::vector<std::string> names);

  // For hosts: designer registration under the palette page "TKelComponents";
  // there is no designer on this platform, so nothing is registered.
  static void Register();

 protected:
  std::string FBoundAdapterName;  // the driver's thread only

 private:
  enum class WaitResult { Woken, Ready };
  // Waits until the helper has sent something, a wake-up arrives or TimeOut passes.
  WaitResult WaitForFrames();
  // The bodies of the host's calls above, on the driver's thread.
  bool SetFilterHere(const std::string& expression);
  bool SendHere(const TKelNetPacket& packet);
  bool StatsHere(unsigned& received, unsigned& dropped);
  // Starts the helper if it is not running; on failure `error` says why.
  bool EnsureHelper(std::string& error);
  // Ends the helper; an open adapter is closed with it.
  void StopHelper();
  // A frame message as a record for HandlePacket; null when malformed.
  std::unique_ptr<TKelNetPacket> RecordFor(std::span<const uint8_t> payload) const;
  // A message from the helper other than a reply: a frame becomes a record
  // (returned), a failure is reported (null), anything else is ignored.
  std::unique_ptr<TKelNetPacket> RecordOrReport(netvane::helper::MessageType type,
                                                std::span<const uint8_t> payload);
  // Asks the helper about the open adapter; frames and failures that arrive
  // first are kept for the next read. False, with the helper stopped, when it
  // no longer answers.
  bool AskHelper(const netvane::helper::Request& request, netvane::helper::Reply& reply, std::string& error);
  // The helper ended while the adapter was open: reported once.
  void HelperGone();
  // The SSH connection a remote helper runs over, into FOwnConnection. False,
  // with the helper stopped and why in `error`, when it cannot be had.
  bool AskOwnConnection(std::string& error);
  void DrainWakeUps();

  // The driver's thread only, but for FAdapterOpen, which get_driverp reads anywhere.
  const std::unique_ptr<netvane::CaptureHelperClient> FHelper;
  std::atomic<bool> FAdapterOpen{false};                // the helper has the adapter open
  std::deque<std::unique_ptr<TKelNetPacket>> FPending;  // frames taken in while answering a request
  uint32_t FSnapLength = 0;  // of the open adapter; compiled filters cut frames to it
  int FWakeFd = -1;          // eventfd written by Driver_WakeUp on any thread; set at construction
  std::vector<std::string> FRemoteAdapters;       // SetRemoteAdapters
  std::string FCaptureExpression;                 // SetCaptureExpression
  bool FRemote = false;                           // the helper is another host's
  netvane::helper::SshConnection FOwnConnection;  // of that helper, left out of every filter
};
