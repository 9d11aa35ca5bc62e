// The driver contract, run against the scripted fake driver.
#include <memory>

#include "tests/capture/driver_contract.h"
#include "tests/support/fake_driver.h"

namespace {

class FakeRig : public CaptureRig {
 public:
  std::unique_ptr<TKelNetMonitor> MakeDriver() override {
    auto d = std::make_unique<FakeDriver>();
    d->adapters = {{"fk0", "Fake adapter 0"}, {"fk1", "Fake adapter 1"}};
    d->blockingRead = true;  // like a real read on an idle link
    return d;
  }
  std::string BindableAdapter() override { return "fk1"; }
  void Emit(TKelNetMonitor& driver, const std::vector<std::vector<uint8_t>>& frames) override {
    auto& fake = dynamic_cast<FakeDriver&>(driver);
    // Frames that reach an unbound adapter are lost, as on a real link.
    if (!fake.isBound()) return;
    for (const auto& f : frames) fake.ScriptFrame(f);
  }
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Fake, DriverContract,
                         ::testing::Values(CaptureRigFactory{"fake",
                                                             [] { return std::make_unique<FakeRig>(); }}),
                         CaptureRigFactory::Name);
