// What the link tells of its line: the 500 ms silence rule, and the events a
// scripted run of steps gives, in order.
#include "link/line_watch.h"

#include "link/line_return.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/fake_serial_device.h"

namespace m32::link {
namespace {

using namespace std::chrono_literals;
using Bytes = test_support::FakeSerialDevice::Bytes;

TEST(LineHealth, SilentFrom500MsWithoutAValidFrameWhileOpen) {
  const LineClock::time_point t0 = LineClock::now();
  LineHealth h;
  struct Row {
    const char* legend;
    int at_ms;
    char action;  // 'o' open, 'v' valid frame, 'c' closed, '-' nothing
    bool silent;  // asked at at_ms, after the action
  };
  const Row rows[] = {
      {"closed at start", 0, '-', false},          {"just opened", 0, 'o', false},
      {"499 ms without a frame", 499, '-', false}, {"500 ms", 500, '-', true},
      {"a valid frame: live", 600, 'v', false},    {"499 ms after it", 1099, '-', false},
      {"500 ms after it", 1100, '-', true},        {"closed: never silent", 5000, 'c', false},
  };
  for (const Row& r : rows) {
    const auto at = t0 + std::chrono::milliseconds(r.at_ms);
    if (r.action == 'o') h.Restart(at);
    if (r.action == 'v') h.ValidFrame(at);
    if (r.action == 'c') h.Stop();
    EXPECT_EQ(h.SilentAt(at), r.silent) << r.legend;
  }
}

// Heartbeats after a hang-up: what LineReturn asks for, and whether the inputs
// shown are stale.
TEST(LineReturn, TakesAHangUpDownAndLooksForThePortEveryQuarterSecond) {
  using A = LineReturn::Action;
  struct Row {
    const char* legend;
    int at_ms;
    bool open, hung_up, answered, may_act;
    A action;
    bool stale;
  };
  const Row rows[] = {
      {"open and answering", 0, true, false, true, true, A::kNone, false},
      {"hung up under a dialog: left alone", 10, true, true, true, false, A::kNone, false},
      {"the dialog gone: taken down", 20, true, true, true, true, A::kTakeDown, true},
      {"closed, 249 ms on: not yet", 269, false, true, true, true, A::kNone, true},
      {"250 ms: look", 270, false, true, true, true, A::kLook, true},
      {"130 ms after a look: not again", 400, false, true, true, true, A::kNone, true},
      {"not there; 250 ms on: look again", 520, false, true, true, true, A::kLook, true},
      {"a dialog opened: no look", 800, false, true, true, false, A::kNone, true},
      {"the dialog gone, past due: look at once", 900, false, true, true, true, A::kLook, true},
      {"back, not yet answering: stale", 950, true, false, false, true, A::kNone, true},
      {"answers", 1000, true, false, true, true, A::kNone, false},
      {"closed by the port dialog: not ours to reopen", 2000, false, false, true, true, A::kNone,
       false},
  };
  LineReturn back;
  const LineClock::time_point t0 = LineClock::now();
  for (const Row& r : rows) {
    const PortState port{r.open, r.hung_up, r.answered};
    EXPECT_EQ(back.Next(t0 + std::chrono::milliseconds(r.at_ms), port, r.may_act), r.action)
        << r.legend;
    EXPECT_EQ(back.InputsStale(), r.stale) << r.legend;
  }
}

class Recorder final : public LineEventSink {
 public:
  std::vector<std::string> told;
  void OnLineEvent(LineEvent&& e) override {
    static const char* const kNames[] = {
        "output",        "input",         "port_opened",    "port_reopened", "port_closed",
        "line_silent",   "frames_back",   "frames_dropped", "hangup",        "port_taken",
        "port_returned", "close_all_off", "outputs_cleared"};
    std::string s = kNames[static_cast<int>(e.kind)];
    char more[40] = "";
    switch (e.kind) {
      case LineEventKind::kOutputsSent:
      case LineEventKind::kInputsAccepted:
        (void)std::snprintf(more, sizeof more, " f%u %02X>%02X", e.frame, e.old_bytes[0],
                            e.new_bytes[0]);
        break;
      case LineEventKind::kCloseAllOff:
        (void)std::snprintf(more, sizeof more, " f%u", e.frame);
        break;
      case LineEventKind::kFramesDropped:
        (void)std::snprintf(more, sizeof more, " n%u", e.count);
        break;
      case LineEventKind::kPortOpened:
        s += " " + e.detail;
        break;
      default:
        break;
    }
    told.push_back(s + more);
  }
};

Bytes In(uint8_t in0, bool bad = false) {
  Bytes f{0xA2, 0x6B, in0, 0, 0, 0, 0, 0xFE};
  unsigned sum = 0;
  for (uint8_t b : f) sum += b;
  f[6] = static_cast<uint8_t>((0x100U - (sum & 0xFFU) + (bad ? 1U : 0U)) & 0xFFU);
  return f;
}

TEST(LineWatch, AScriptedRunTellsEachEventOnceInOrder) {
  struct Row {
    const char* legend;
    int at_ms;
    char action;  // 's' step, 'p' park, 'r' resume, 'o' outputs cleared, 'x' closing begins,
                  // 'c' closed
    Bytes feed;   // queued before the step
    int outputs;  // OutputBytes byte 0 handed to the link before the step; -1 none
    bool hung_up;
    std::vector<std::string> told;
  };
  const Row rows[] = {
      {"out5 on", 10, 's', {}, 0x10, false, {"output f1 00>10"}},
      {"the board mirrors it", 20, 's', In(0x10), -1, false, {"input f1 00>10"}},
      {"same inputs again", 30, 's', In(0x10), -1, false, {}},
      {"in1 on while the panel has not shown the last",
       40,
       's',
       In(0x11),
       -1,
       false,
       {"input f3 10>11"}},
      {"bad checksum: counted", 50, 's', In(0x11, true), -1, false, {}},
      {"another", 60, 's', In(0x11, true), -1, false, {}},
      {"499 ms after the last valid frame", 539, 's', {}, -1, false, {}},
      {"500 ms", 540, 's', {}, -1, false, {"line_silent"}},
      {"still silent: told once", 600, 's', {}, -1, false, {}},
      {"a second after the open: the drops", 1000, 's', {}, -1, false, {"frames_dropped n2"}},
      {"a valid frame", 1100, 's', In(0x11), -1, false, {"frames_back"}},
      {"hang-up", 1110, 's', {}, -1, true, {"hangup"}},
      {"still hung up: told once", 1120, 's', {}, -1, true, {}},
      {"the outputs switched off for its return", 1130, 'o', {}, -1, true, {"outputs_cleared"}},
      {"a service window takes the port", 1200, 'p', {}, -1, false, {"port_taken"}},
      {"and gives it back", 2000, 'r', {}, -1, false, {"port_returned"}},
      {"499 ms after the return", 2499, 's', {}, -1, false, {}},
      {"500 ms", 2500, 's', {}, -1, false, {"line_silent"}},
      {"the close begins", 2505, 'x', {}, -1, false, {}},
      {"its first all-off frame",
       2510,
       's',
       {},
       0x00,
       false,
       {"output f16 10>00", "close_all_off f16"}},
      {"its second", 2520, 's', {}, 0x00, false, {"close_all_off f17"}},
      {"a frame it did not ask for", 2530, 's', {}, -1, false, {}},
      {"closed", 2600, 'c', {}, -1, false, {"port_closed"}},
  };
  test_support::FakeSerialDevice port;
  SharedStatus status;
  LinkProtocol proto;
  proto.Start(status);
  Recorder sink;
  LineWatch watch(&sink);
  const LineClock::time_point t0 = LineClock::now();
  serial::LineSettings line;
  watch.Opened("COM1", line, t0);
  ASSERT_EQ(sink.told, std::vector<std::string>{"port_opened COM1 9600 8E1"});
  for (const Row& r : rows) {
    sink.told.clear();
    const auto at = t0 + std::chrono::milliseconds(r.at_ms);
    switch (r.action) {
      case 'p':
        watch.Parked();
        break;
      case 'r':
        watch.Resumed(at);
        break;
      case 'o':
        watch.OutputsCleared();
        break;
      case 'x':
        watch.Closing();
        break;
      case 'c':
        watch.Closed();
        break;
      default: {
        if (!r.feed.empty()) port.Feed(r.feed);
        if (r.outputs >= 0) {
          status.OutputBytes.Put({static_cast<uint8_t>(r.outputs), 0, 0, 0});
          status.flags.OutputsChanged.store(1);
        }
        const StepOutcome out = proto.Step(port, status);
        watch.AfterStep(out, proto, r.hung_up, at);
      }
    }
    EXPECT_EQ(sink.told, r.told) << r.legend;
  }
  EXPECT_TRUE(watch.Answered() && watch.HungUp());
  // A second open in the run is a reopen, with neither answer nor hang-up yet.
  sink.told.clear();
  watch.Opened("COM1", line, t0 + 3s);
  EXPECT_EQ(sink.told, std::vector<std::string>{"port_reopened"});
  EXPECT_FALSE(watch.Answered() || watch.HungUp());
}

}  // namespace
}  // namespace m32::link
