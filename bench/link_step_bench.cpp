// One LinkStep as it runs on the UI thread: a whole frame from the controller
// is queued, the step assembles and checks it, hands the inputs over and
// writes the next frame. The port is a lean in-memory stand-in so that the
// figure is the step's own cost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "core/shared_status.h"
#include "link/link_protocol.h"
#include "serial/serial_device.h"

namespace {

using m32::link::LinkProtocol;

// Serves the same 8-byte frame to every step and swallows the writes.
class FramePort final : public m32::serial::SerialDevice {
 public:
  void Refill() { pos_ = 0; }
  std::size_t written = 0;

  m32::serial::OpenResult Open(const std::string&) override { return m32::serial::OpenResult::kOk; }
  bool IsOpen() const override { return true; }
  bool Configure(const m32::serial::LineSettings&) override { return true; }
  void Close() override {}
  bool Counts(m32::serial::QueueCounts& out) override {
    out.rx = static_cast<uint32_t>(kFrame.size() - pos_);
    out.tx = 0;
    return true;
  }
  std::size_t Read(std::span<uint8_t> buf) override {
    const std::size_t n = std::min(buf.size(), kFrame.size() - pos_);
    std::copy_n(kFrame.begin() + static_cast<std::ptrdiff_t>(pos_), n, buf.begin());
    pos_ += n;
    return n;
  }
  std::size_t Write(std::span<const uint8_t> bytes) override {
    written += bytes.size();
    return bytes.size();
  }
  void Purge() override {}
  bool Modem(m32::serial::ModemLines&) override { return false; }
  unsigned Wait(std::chrono::milliseconds) override { return m32::serial::kTimeout; }
  void Wake() override {}

 private:
  static constexpr std::array<uint8_t, 8> kFrame = {0xA2, 0x6B, 0x05, 0x00, 0x34, 0x12, 0xAA, 0xFE};
  std::size_t pos_ = 0;
};

void BM_LinkStepFrameInAndOut(benchmark::State& state) {
  FramePort port;
  m32::SharedStatus status;
  LinkProtocol proto;
  proto.Start(status);
  for (auto _ : state) {
    port.Refill();
    status.flags.InputsReceived.store(0);  // the panel has shown the last inputs
    status.flags.OutputsChanged.store(1);  // and packed new outputs
    const m32::link::StepOutcome out = proto.Step(port, status);
    benchmark::DoNotOptimize(out);
  }
  if (port.written != 8 * static_cast<std::size_t>(state.iterations()) ||
      status.flags.InputsReceived.load() != 1) {
    state.SkipWithError("the step did not take the frame and write one");
  }
}
BENCHMARK(BM_LinkStepFrameInAndOut);

}  // namespace

BENCHMARK_MAIN();
