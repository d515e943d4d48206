#include "link/link_protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "link/fake_serial_device.h"

namespace m32::link {
namespace {

using Bytes = test_support::FakeSerialDevice::Bytes;
using test_support::FakeSerialDevice;

// Inputs that a dropped frame must leave alone.
constexpr std::array<uint8_t, 4> kSentinel = {0x11, 0x22, 0x33, 0x44};

// A valid frame from the controller: in1 and in3 on, A/D 0x1234.
//                        sync  "k"   in0   in1   in2   in3   sum   end
constexpr std::array<uint8_t, 8> kFrameBytes = {0xA2, 0x6B, 0x05, 0x00, 0x34, 0x12, 0xAA, 0xFE};
// Another valid frame: 01 02 03 04 (sum 0x15 + 0x0B -> checksum EB).
constexpr std::array<uint8_t, 8> kFrame2Bytes = {0xA2, 0x6B, 0x01, 0x02, 0x03, 0x04, 0xEB, 0xFE};

Bytes Frame() {
  return {kFrameBytes.begin(), kFrameBytes.end()};
}
Bytes Frame2() {
  return {kFrame2Bytes.begin(), kFrame2Bytes.end()};
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
  int done_at;                // step that takes (or drops) the frame, with no garbage
  bool flag_preset;           // InputsReceived already set before the first step
  bool accept;                // InputBytes become frame bytes 2..5
  std::array<uint8_t, 4> inputs;
  std::size_t rx_left;  // still queued after the deciding step
  bool with_garbage;    // also run with 1 and 3 stray bytes queued before the frame
};

std::vector<RxRow> RxRows() {
  return {
      {"whole frame queued at once", {Frame()}, 1, false, true, {0x05, 0x00, 0x34, 0x12}, 0, true},
      {"split 1+1+6: A2 | 6B | body",
       {{0xA2}, {0x6B}, {0x05, 0x00, 0x34, 0x12, 0xAA, 0xFE}},
       3,
       false,
       true,
       {0x05, 0x00, 0x34, 0x12},
       0,
       true},
      {"split 2+3+3: phase 2 waits until all 6 body bytes are queued",
       {{0xA2, 0x6B}, {0x05, 0x00, 0x34}, {0x12, 0xAA, 0xFE}},
       3,
       false,
       true,
       {0x05, 0x00, 0x34, 0x12},
       0,
       true},
      {"16 bytes queued: only the first frame is taken, the second waits",
       {Cat({Frame(), Frame2()})},
       1,
       false,
       true,
       {0x05, 0x00, 0x34, 0x12},
       8,
       true},
      {"bad end mark (FD), sum still 0: dropped",
       //  A2    6B    05    00    34    12    AB    FD  (sum 0, end mark wrong)
       {{0xA2, 0x6B, 0x05, 0x00, 0x34, 0x12, 0xAB, 0xFD}},
       1,
       false,
       false,
       kSentinel,
       0,
       true},
      {"bad checksum (AB instead of AA, sum 1): dropped",
       {{0xA2, 0x6B, 0x05, 0x00, 0x34, 0x12, 0xAB, 0xFE}},
       1,
       false,
       false,
       kSentinel,
       0,
       true},
      {"valid frame while InputsReceived is still set: dropped, inputs kept",
       {Frame()},
       1,
       true,
       false,
       kSentinel,
       0,
       true},
      {"a dropped frame is not searched for the header inside it",
       //  A2 6B | A2 6B A2 6B A2 6B (end mark 6B: dropped) | a valid frame that waits
       {Cat({{0xA2, 0x6B, 0xA2, 0x6B, 0xA2, 0x6B, 0xA2, 0x6B}, Frame()})},
       1,
       false,
       false,
       kSentinel,
       8,
       false},
  };
}

// Stray bytes queued in front of the frame: none of them is A2.
constexpr std::array<uint8_t, 3> kGarbage = {0x00, 0xFE, 0x6B};

TEST_F(LinkStepTest, ReceiveTable) {
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
      EXPECT_EQ(st.InputBytes.Get(), row.inputs);
      EXPECT_EQ(st.flags.InputsReceived.load() != 0, row.accept || row.flag_preset);
      EXPECT_EQ(p.Phase(), ReceivePhase::kSeekSync);
      EXPECT_EQ(dev.RxLeft(), row.rx_left);
    }
  }
}

TEST_F(LinkStepTest, PhasesOfAFrameInPieces) {
  port.Arrivals({{0xA2}, {0x6B}, {0x05, 0x00, 0x34}, {0x12, 0xAA, 0xFE}});
  const ReceivePhase expected[] = {ReceivePhase::kSeekLetter, ReceivePhase::kAwaitBody,
                                   ReceivePhase::kAwaitBody, ReceivePhase::kSeekSync};
  const int read[] = {1, 1, 0, 6};
  for (int i = 0; i < 4; ++i) {
    const StepOutcome out = Step();
    EXPECT_EQ(proto.Phase(), expected[i]) << "step " << i + 1;
    EXPECT_EQ(out.bytes_read, read[i]) << "step " << i + 1;
  }
  EXPECT_EQ(status.InputBytes.Get(), (std::array<uint8_t, 4>{0x05, 0x00, 0x34, 0x12}));
}

TEST_F(LinkStepTest, SecondSyncByteInPhaseOneLosesTheFrame) {
  // A2 A2 6B 05 00 34 12 AA FE: the second A2 is discarded in phase 1, then
  // 6B and the body are stray bytes, one per step.
  port.Feed(Cat({{0xA2}, Frame()}));
  Step();
  EXPECT_EQ(proto.Phase(), ReceivePhase::kSeekSync);
  EXPECT_EQ(port.RxLeft(), 7u);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(Step().bytes_read, 1);
    EXPECT_EQ(proto.Phase(), ReceivePhase::kSeekSync);
  }
  EXPECT_EQ(port.RxLeft(), 0u);
  EXPECT_FALSE(InputsReceived());
  EXPECT_EQ(status.InputBytes.Get(), kSentinel);
}

TEST_F(LinkStepTest, BackToBackFramesAreTakenOnePerStepOnceThePanelHasShownThem) {
  port.Feed(Cat({Frame(), Frame2()}));
  EXPECT_TRUE(Step().frame_accepted);
  status.flags.InputsReceived.store(0);  // the I/O panel took them
  EXPECT_TRUE(Step().frame_accepted);
  EXPECT_EQ(status.InputBytes.Get(), (std::array<uint8_t, 4>{0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(port.RxLeft(), 0u);
}

TEST_F(LinkStepTest, ShortReadDropsThePartialFrame) {
  port.Feed({0xA2, 0x6B});
  Step();
  ASSERT_EQ(proto.Phase(), ReceivePhase::kAwaitBody);
  // The device reports six body bytes but loses one of them on the read: the
  // stale byte 7 from an earlier frame must not complete a frame.
  port.SetReadShortBy(1);
  port.Feed({0x05, 0x00, 0x34, 0x12, 0xAA, 0xFE});
  const StepOutcome out = Step();
  EXPECT_FALSE(out.frame_accepted);
  EXPECT_EQ(proto.Phase(), ReceivePhase::kSeekSync);
  EXPECT_FALSE(InputsReceived());
  EXPECT_EQ(status.InputBytes.Get(), kSentinel);
}

// --- Send part -------------------------------------------------------------

TEST_F(LinkStepTest, OutputsChangedHandOff) {
  struct Row {
    const char* legend;
    bool new_outputs;
    std::array<uint8_t, 4> outputs;
    Bytes expected;
  };
  const Row rows[] = {
      {"start-up: outputs all off",
       false,
       {0, 0, 0, 0},
       //  A2    6B    out0  out1  out2  out3  sum   end
       {0xA2, 0x6B, 0x00, 0x00, 0x00, 0x00, 0xF5, 0xFE}},
      {"out1, out10, out32 on",
       true,
       {0x01, 0x02, 0x00, 0x80},
       {0xA2, 0x6B, 0x01, 0x02, 0x00, 0x80, 0x72, 0xFE}},
      {"nothing new: the same bytes again",
       false,
       {0xFF, 0xFF, 0xFF, 0xFF},
       {0xA2, 0x6B, 0x01, 0x02, 0x00, 0x80, 0x72, 0xFE}},
      {"all off again", true, {0, 0, 0, 0}, {0xA2, 0x6B, 0x00, 0x00, 0x00, 0x00, 0xF5, 0xFE}},
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

TEST_F(LinkStepTest, SilentLineStillGetsAFrameEveryStep) {
  for (int i = 0; i < 3; ++i) Step();
  const auto writes = port.Writes();
  ASSERT_EQ(writes.size(), 3u);
  for (const auto& w : writes) EXPECT_EQ(w, (Bytes{0xA2, 0x6B, 0, 0, 0, 0, 0xF5, 0xFE}));
  EXPECT_EQ(port.Calls().read, 0);
}

TEST_F(LinkStepTest, FailingCountsTouchesNothing) {
  port.Feed({0xA2, 0x6B});
  Step();
  ASSERT_EQ(proto.Phase(), ReceivePhase::kAwaitBody);
  const int writes_before = port.Calls().write;
  const int reads_before = port.Calls().read;
  port.SetCountsFail(true);
  port.Feed({0x05, 0x00, 0x34, 0x12, 0xAA, 0xFE});
  status.flags.OutputsChanged.store(1);
  const StepOutcome out = Step();
  EXPECT_FALSE(out.port_ok);
  EXPECT_EQ(port.Calls().read, reads_before);
  EXPECT_EQ(port.Calls().write, writes_before);
  EXPECT_EQ(proto.Phase(), ReceivePhase::kAwaitBody);
  EXPECT_EQ(status.flags.OutputsChanged.load(), 1);
  EXPECT_FALSE(InputsReceived());

  // Once the port answers again the frame is completed where it was left.
  port.SetCountsFail(false);
  EXPECT_TRUE(Step().frame_accepted);
}

TEST_F(LinkStepTest, StartPreparesFreshFramesAndClearsTheHandOffFlags) {
  status.OutputBytes.Put({0x01, 0x02, 0x00, 0x80});
  status.flags.OutputsChanged.store(1);
  port.Feed(Cat({Frame(), {0xA2, 0x6B, 0x05}}));
  Step();
  Step();
  ASSERT_EQ(proto.Phase(), ReceivePhase::kAwaitBody);
  ASSERT_EQ(proto.ReceiveFrame()[4], 0x34);
  status.flags.OutputsChanged.store(1);

  proto.Start(status);
  EXPECT_EQ(proto.SendFrame(), (LinkFrame{0xA2, 0x6B, 0, 0, 0, 0, 0, 0xFE}));
  EXPECT_EQ(proto.ReceiveFrame()[2] | proto.ReceiveFrame()[3] | proto.ReceiveFrame()[4] |
                proto.ReceiveFrame()[5],
            0);
  EXPECT_EQ(proto.Phase(), ReceivePhase::kSeekSync);
  EXPECT_EQ(status.flags.InputsReceived.load(), 0);
  EXPECT_EQ(status.flags.OutputsChanged.load(), 0);
}

TEST(FrameChecksum, MakesTheSumZero) {
  struct Row {
    const char* legend;
    LinkFrame frame;
    uint8_t checksum;
  };
  const Row rows[] = {
      {"all off", {0xA2, 0x6B, 0, 0, 0, 0, 0, 0xFE}, 0xF5},
      {"out1, out10, out32", {0xA2, 0x6B, 0x01, 0x02, 0x00, 0x80, 0, 0xFE}, 0x72},
      {"old checksum byte is ignored", {0xA2, 0x6B, 0x01, 0x02, 0x00, 0x80, 0x99, 0xFE}, 0x72},
      {"sum of the rest is 0: checksum 0", {0xA2, 0x6B, 0xF3, 0, 0, 0, 0, 0x00}, 0x00},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    EXPECT_EQ(FrameChecksum(row.frame), row.checksum);
    LinkFrame f = row.frame;
    f[kChecksumOffset] = row.checksum;
    EXPECT_EQ(ByteSum(f), 0);
  }
}

}  // namespace
}  // namespace m32::link
