// The component's driver contract, run against the libpcap driver on a veth
// pair whose peer end sends the frames.
#include <memory>

#include "tests/capture/driver_contract.h"
#include "tests/live/live_capture.h"

namespace {

class VethRig : public CaptureRig {
 public:
  std::string SkipReason() override {
    if (!netvane::lab::SkipReason().empty()) return netvane::lab::SkipReason();
    if (!lab_.ok()) return "could not create a veth pair in a namespace";
    return {};
  }
  std::unique_ptr<TKelNetMonitor> MakeDriver() override {
    auto driver = std::make_unique<TKelWinPcapNetMonitor>();
    driver->MaxPacketsPerCall = 50;
    driver->TimeOut = 50;
    driver->MaxPacketSize = 20000;
    return driver;
  }
  std::string BindableAdapter() override { return lab_.localIf(); }
  void Emit(TKelNetMonitor&, const std::vector<std::vector<uint8_t>>& frames) override {
    lab_.InjectFromPeer(frames);
  }
  void Settle() override { netvane::lab::LiveCapture::Settle(std::chrono::milliseconds(300)); }

 private:
  netvane::lab::VethLab lab_;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Libpcap, DriverContract,
                         ::testing::Values(CaptureRigFactory{"veth",
                                                             [] { return std::make_unique<VethRig>(); }}),
                         CaptureRigFactory::Name);
