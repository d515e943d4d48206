#include "link/link_protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "support/fake_serial_device.h"

namespace m32::link {
namespace {

using Bytes = test_support::FakeSerialDevice::Bytes;
using test_support::FakeSerialDevice;
using Inputs = std::array<uint8_t, 4>;

// Inputs that a dropped frame must leave alone.
constexpr Inputs kSentinel = {0x11, 0x22, 0x33, 0x44};
// The data bytes of Frame().
constexpr Inputs kFrameInputs = {0x05, 0x00, 0x34, 0x12};

// A valid frame from the controller: in1 and in3 on, A/D 0x1234.
Bytes Frame() {
  //      sync  "k"   in0   in1   in2   in3   sum   end
  return {0xA2, 0x6B, 0x05, 0x00, 0x34, 0x12, 0xAA, 0xFE};
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class LinkStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    proto.Start(status);
    status.InputBytes.Put(kSentinel);
  }
  StepOutcome Step() { return proto.Step(port, status); }
  bool InputsReceived() const { return status.flags.InputsReceived.load() != 0; }

  FakeSerialDevice port;
  SharedStatus status;
  LinkProtocol proto;
};

// --- Receive part: frames and resynchronisation --------------------------

struct RxRow {
  const char* legend;
  std::vector<Bytes> chunks;  // arrivals before step 1, 2, ...
  int done_at;                // step that takes (or drops) the frame, with no stray bytes
  bool flag_preset;           // InputsReceived already set before the first step
  bool accept;                // InputBytes become kFrameInputs (else stay kSentinel)
  std::size_t rx_left;        // still queued after the deciding step
  bool with_garbage = true;   // also run with 1 and 3 stray bytes queued before the frame
};

std::vector<RxRow> RxRows() {
  //                         sync  "k"   in0   in1   in2   in3   sum   end
  const Bytes bad_end = {0xA2, 0x6B, 0x05, 0x00, 0x34, 0x12, 0xAB, 0xFD};  // sum still 0
  const Bytes bad_sum = {0xA2, 0x6B, 0x05, 0x00, 0x34, 0x12, 0xAB, 0xFE};  // sum 1
  const Bytes body = {0x05, 0x00, 0x34, 0x12, 0xAA, 0xFE};
  // A2 A2 6B 05 ...: the second A2 is dropped in phase 1; the rest are stray bytes.
  const Bytes two_syncs = Cat({{0xA2}, Frame()});
  // A2 6B | A2 6B A2 6B A2 6B (end mark 6B: dropped) | a valid frame that waits.
  const Bytes headers = Cat({{0xA2, 0x6B, 0xA2, 0x6B, 0xA2, 0x6B, 0xA2, 0x6B}, Frame()});
  return {
      {"whole frame queued at once", {Frame()}, 1, false, true, 0},
      {"split 1+1+6: A2 | 6B | body", {{0xA2}, {0x6B}, body}, 3, false, true, 0},
      {"bad end mark (FD), sum still 0: dropped", {bad_end}, 1, false, false, 0},
      {"bad checksum (AB instead of AA): dropped", {bad_sum}, 1, false, false, 0},
      {"valid frame while InputsReceived is still set: dropped", {Frame()}, 1, true, false, 0},
      {"a second sync byte in phase 1 loses the frame", {two_syncs}, 1, false, false, 7},
      {"a dropped frame is not searched for a header", {headers}, 1, false, false, 8, false},
  };
}

// Stray bytes queued in front of the frame: none of them is A2.
constexpr std::array<uint8_t, 3> kGarbage = {0x00, 0xFE, 0x6B};

TEST(LinkReceive, FramesAndResynchronisation) {
  for (const RxRow& row : RxRows()) {
    for (std::size_t garbage : {0u, 1u, 3u}) {
      if (garbage > 0 && !row.with_garbage) continue;
      SCOPED_TRACE(std::string(row.legend) + ", stray bytes before it: " + std::to_string(garbage));
      FakeSerialDevice dev;
      SharedStatus st;
      LinkProtocol p;
      p.Start(st);
      st.InputBytes.Put(kSentinel);
      st.flags.InputsReceived.store(row.flag_preset ? 1 : 0);
      std::vector<Bytes> chunks = row.chunks;
      chunks[0].insert(chunks[0].begin(), kGarbage.begin(), kGarbage.begin() + garbage);
      dev.Arrivals(chunks);
      // Each stray byte costs one step; after them the frame goes as fast as
      // its bytes have arrived.
      const int done_at = std::max(static_cast<int>(garbage) + 1, row.done_at);
      for (int step = 1; step <= done_at; ++step) {
        const StepOutcome out = p.Step(dev, st);
        if (step <= static_cast<int>(garbage)) {
          EXPECT_EQ(out.bytes_read, 1) << "one stray byte per step, step " << step;
          EXPECT_EQ(p.Phase(), ReceivePhase::kSeekSync) << step;
        }
        if (step < done_at) {
          EXPECT_EQ(st.InputBytes.Get(), kSentinel) << "step " << step;
          EXPECT_EQ(st.flags.InputsReceived.load() != 0, row.flag_preset) << "step " << step;
        } else {
          EXPECT_EQ(out.frame_accepted, row.accept);
        }
      }
      EXPECT_EQ(st.InputBytes.Get(), row.accept ? kFrameInputs : kSentinel);
      EXPECT_EQ(st.flags.InputsReceived.load() != 0, row.accept || row.flag_preset);
      EXPECT_EQ(p.Phase(), ReceivePhase::kSeekSync);
      EXPECT_EQ(dev.RxLeft(), row.rx_left);
    }
  }
}

TEST_F(LinkStepTest, PhasesOfAFrameInPiecesAndTheBodyReadWhole) {
  port.Arrivals({{0xA2}, {0x6B}, {0x05, 0x00, 0x34}, {0x12, 0xAA, 0xFE}});
  const ReceivePhase phase[] = {ReceivePhase::kSeekLetter, ReceivePhase::kAwaitBody,
                                ReceivePhase::kAwaitBody, ReceivePhase::kSeekSync};
  const int read[] = {1, 1, 0, 6};  // nothing of the body until all six bytes are queued
  for (int i = 0; i < 4; ++i) {
    const StepOutcome out = Step();
    EXPECT_EQ(proto.Phase(), phase[i]) << "step " << i + 1;
    EXPECT_EQ(out.bytes_read, read[i]) << "step " << i + 1;
  }
  EXPECT_EQ(status.InputBytes.Get(), kFrameInputs);
}

TEST_F(LinkStepTest, BackToBackFramesAreTakenOnePerStepOnceThePanelHasShownThem) {
  port.Feed(Cat({Frame(), {0xA2, 0x6B, 0x01, 0x02, 0x03, 0x04, 0xEB, 0xFE}}));
  EXPECT_TRUE(Step().frame_accepted);
  EXPECT_EQ(port.RxLeft(), 8u) << "the second frame waits for the next step";
  status.flags.InputsReceived.store(0);  // the I/O panel took them
  EXPECT_TRUE(Step().frame_accepted);
  EXPECT_EQ(status.InputBytes.Get(), (Inputs{0x01, 0x02, 0x03, 0x04}));
}

// The body of a frame fails to arrive whole: a short read drops it; failing
// counts leave the step (and the outputs to send) for the next one.
TEST_F(LinkStepTest, BodyLostOnAShortReadOrHeldWhileTheCountsFail) {
  for (const bool short_read : {true, false}) {
    SCOPED_TRACE(short_read ? "short read" : "counts fail");
    proto.Start(status);
    port.Feed({0xA2, 0x6B});
    Step();
    ASSERT_EQ(proto.Phase(), ReceivePhase::kAwaitBody);
    const auto before = port.Calls();
    // The stale byte 7 from an earlier frame must not complete a frame.
    if (short_read) port.SetReadShortBy(1);
    port.SetCountsFail(!short_read);
    port.Feed({0x05, 0x00, 0x34, 0x12, 0xAA, 0xFE});
    status.flags.OutputsChanged.store(1);
    const StepOutcome out = Step();
    EXPECT_FALSE(out.frame_accepted);
    EXPECT_EQ(out.port_ok, short_read);
    EXPECT_EQ(proto.Phase(), short_read ? ReceivePhase::kSeekSync : ReceivePhase::kAwaitBody);
    EXPECT_FALSE(InputsReceived());
    EXPECT_EQ(status.InputBytes.Get(), kSentinel);
    port.SetReadShortBy(0);
    if (short_read) continue;
    EXPECT_EQ(port.Calls().read, before.read);
    EXPECT_EQ(port.Calls().write, before.write);
    EXPECT_EQ(status.flags.OutputsChanged.load(), 1);
    // Once the port answers again the frame is completed where it was left.
    port.SetCountsFail(false);
    EXPECT_TRUE(Step().frame_accepted);
  }
}

// --- Send part -------------------------------------------------------------

TEST_F(LinkStepTest, EveryStepOnASilentLineSendsTheOutputsHandedOver) {
  struct Row {
    const char* legend;
    bool new_outputs;
    Inputs outputs;
    Bytes expected;
  };
  //                     A2    6B    out0  out1  out2  out3  sum   end
  const Bytes all_off = {0xA2, 0x6B, 0x00, 0x00, 0x00, 0x00, 0xF5, 0xFE};
  const Bytes some_on = {0xA2, 0x6B, 0x01, 0x02, 0x00, 0x80, 0x72, 0xFE};
  const Bytes sum_0 = {0xA2, 0x6B, 0xF5, 0x00, 0x00, 0x00, 0x00, 0xFE};
  const Row rows[] = {
      {"start-up: outputs all off", false, {}, all_off},
      {"out1, out10, out32 on", true, {0x01, 0x02, 0x00, 0x80}, some_on},
      {"nothing new: the same bytes again", false, {0xFF, 0xFF, 0xFF, 0xFF}, some_on},
      {"the rest sums to 0: checksum 00", true, {0xF5, 0, 0, 0}, sum_0},
      {"all off again", true, {}, all_off},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    // Without the flag the bytes in OutputBytes are not the link's to take.
    status.OutputBytes.Put(row.outputs);
    status.flags.OutputsChanged.store(row.new_outputs ? 1 : 0);
    EXPECT_TRUE(Step().frame_written);
    EXPECT_EQ(port.LastWrite(), row.expected);
    EXPECT_EQ(status.flags.OutputsChanged.load(), 0);
  }
  EXPECT_EQ(port.Calls().read, 0) << "nothing was queued to read";
}

TEST_F(LinkStepTest, NothingWrittenWhileBytesWaitToBeSent) {
  status.OutputBytes.Put({0x01, 0x02, 0x00, 0x80});
  status.flags.OutputsChanged.store(1);
  port.SetTxCount(3);
  port.Feed(Frame());
  const StepOutcome out = Step();
  EXPECT_FALSE(out.frame_written);
  EXPECT_TRUE(port.Writes().empty());
  EXPECT_EQ(status.flags.OutputsChanged.load(), 1);
  EXPECT_TRUE(out.frame_accepted) << "reception goes on while the transmitter is busy";

  port.SetTxCount(0);
  EXPECT_TRUE(Step().frame_written);
  EXPECT_EQ(port.LastWrite(), (Bytes{0xA2, 0x6B, 0x01, 0x02, 0x00, 0x80, 0x72, 0xFE}));
  EXPECT_EQ(status.flags.OutputsChanged.load(), 0);
}

TEST_F(LinkStepTest, StartForgetsTheOldOutputsAndAHalfFrameAndClearsTheHandOffFlags) {
  status.OutputBytes.Put({0x01, 0x02, 0x00, 0x80});
  status.flags.OutputsChanged.store(1);
  port.Feed({0xA2, 0x6B, 0x05});
  Step();
  ASSERT_EQ(proto.Phase(), ReceivePhase::kAwaitBody);
  status.flags.OutputsChanged.store(1);
  status.flags.InputsReceived.store(1);

  proto.Start(status);
  EXPECT_EQ(proto.Phase(), ReceivePhase::kSeekSync);
  EXPECT_EQ(status.flags.InputsReceived.load(), 0);
  EXPECT_EQ(status.flags.OutputsChanged.load(), 0);
  EXPECT_TRUE(Step().frame_written);
  EXPECT_EQ(port.LastWrite(), (Bytes{0xA2, 0x6B, 0, 0, 0, 0, 0xF5, 0xFE}));
}

}  // namespace
}  // namespace m32::link
