// The walk's plan and its judgement.
//
// Plan: 66 holds of output states. All outputs off; then out1..out32 on one
// at a time; then all on; then out1..out32 off one at a time. Each hold is
// read N times (the N valid frames after the change; the walk runner makes
// sure they answer frames that carried the change).
//
// Judgement of channel k (out k and the input it feeds, t):
//  - an input flickers in a hold when it changed, then changed back: more than
//    one change across the previous hold's last reading and this hold's
//    readings. An input that flickers anywhere is noisy: its own channel is
//    "intermittent" (the flickers counted), and it is no evidence for another.
//  - followers of k: other inputs that, when out k alone came on (or alone
//    went off), left their expected level in the last two readings of the
//    hold while they held it in the all-off (all-on) hold.
//  - followers and t followed too: "short" (to the followers' channels);
//    followers and t did not: "wrong input" (the followers named);
//    t did not come on: "stuck at 0"; t did not go off: "stuck at 1".
//  - an input held constant by the map (in k = 1) is checked in every hold:
//    always wrong is "stuck at" the level read, wrong only when some outputs
//    switch is a "short" to them.
// With --repeat, runs that disagree make the channel "intermittent".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "walk/walk_map.h"

namespace m32::walk {

using Bytes4 = std::array<uint8_t, 4>;

enum class HoldKind : uint8_t { kAllOff, kOneOn, kAllOn, kOneOff };

struct Hold {
  HoldKind kind = HoldKind::kAllOff;
  int channel = 0;  // the output switched alone (1..32); 0 for all-off and all-on
  Bytes4 outputs{};
};

constexpr std::size_t kHolds = 2 + 2 * kChannels;

// The 66 holds in order.
std::vector<Hold> WalkPlan();

// Readings of one run: per hold of the plan, the frames read (oldest first).
using RunReadings = std::vector<std::vector<Bytes4>>;

enum class Verdict : uint8_t { kPass, kStuckAt0, kStuckAt1, kShort, kWrongInput, kIntermittent };

struct ChannelResult {
  int channel = 0;               // 1..32
  int input = 0;                 // the input out k feeds, 0: none
  std::optional<bool> constant;  // the level in k must hold, if the map says so
  Verdict verdict = Verdict::kPass;
  std::vector<std::string> partners;  // "out10", "in21": who shorted or followed
  int flickers = 0;

  bool Passed() const { return verdict == Verdict::kPass; }
};

struct AdcResult {
  AdcRange range;
  int min = 0;
  int max = 0;
  int readings = 0;
  int outside = 0;  // readings out of range

  bool Passed() const { return readings > 0 && outside == 0; }
};

struct WalkResult {
  std::array<ChannelResult, kChannels> channels{};
  std::optional<AdcResult> adc;
  int runs = 0;
  int hold_frames = 0;

  bool Passed() const;
  int Failures() const;  // channels failed, plus the A/D check
};

// The A/D value of an input frame in `ad_mode` (1: byte 3 unsigned; 2: bytes
// 2 and 3, signed); 0 in mode 0.
int AdValue(int ad_mode, const Bytes4& inputs);

// Judges the runs (each with a reading list for every hold of WalkPlan()).
WalkResult Judge(const WalkMap& map, int ad_mode, const std::vector<RunReadings>& runs);

// "pass", "stuck at 0", "short to out10", "wrong input: in8 followed instead",
// "intermittent (3 flickers)".
std::string VerdictText(const ChannelResult& r);
// The bare kind: "pass", "stuck at 0", "stuck at 1", "short", "wrong input",
// "intermittent".
const char* VerdictName(Verdict v);

}  // namespace m32::walk
