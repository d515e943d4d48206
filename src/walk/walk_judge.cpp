#include "walk/walk_judge.h"

#include <algorithm>

namespace m32::walk {
namespace {

bool Bit(const Bytes4& bytes, int input) {
  const auto i = static_cast<unsigned>(input - 1);
  return ((bytes[i / 8] >> (i % 8)) & 1U) != 0;
}

void SetBit(Bytes4& bytes, int output, bool on) {
  const auto i = static_cast<unsigned>(output - 1);
  const auto mask = static_cast<uint8_t>(1U << (i % 8));
  bytes[i / 8] = static_cast<uint8_t>(on ? bytes[i / 8] | mask : bytes[i / 8] & ~mask);
}

constexpr std::size_t kAllOffHold = 0;
constexpr std::size_t kAllOnHold = 1 + kChannels;
std::size_t OneOnHold(int channel) {
  return static_cast<std::size_t>(channel);
}
std::size_t OneOffHold(int channel) {
  return kAllOnHold + static_cast<std::size_t>(channel);
}

// One run's readings seen against the map.
class RunView {
 public:
  RunView(const WalkMap& map, int ad_mode, const std::vector<Hold>& plan, const RunReadings& run)
      : map_(map), plan_(plan), run_(run), digital_(DigitalInputs(ad_mode)) {
    for (std::size_t h = 0; h < plan_.size(); ++h) {
      for (int j = 1; j <= digital_; ++j) {
        if (Flickered(h, j)) ++flickers_[static_cast<std::size_t>(j - 1)];
      }
    }
  }

  int Digital() const { return digital_; }
  const RunReadings& Readings() const { return run_; }
  int Flickers(int input) const { return flickers_[static_cast<std::size_t>(input - 1)]; }
  // Flickered in this run or in another: no evidence for anything else.
  bool Noisy(int input) const { return noisy_[static_cast<std::size_t>(input - 1)]; }
  void MarkNoisy(std::array<bool, kChannels>& noisy) const {
    for (std::size_t j = 0; j < noisy.size(); ++j) noisy[j] = noisy[j] || flickers_[j] > 0;
  }
  void SetNoisy(const std::array<bool, kChannels>& noisy) { noisy_ = noisy; }
  std::size_t Holds() const { return plan_.size(); }

  bool Final(std::size_t h, int input) const { return Bit(run_[h].back(), input); }

  // The level input j should have in hold h.
  bool Expected(std::size_t h, int j) const {
    if (const int owner = map_.OwnerOf(j); owner != 0) return Bit(plan_[h].outputs, owner);
    if (const auto level = map_.constant[static_cast<std::size_t>(j - 1)]) return *level;
    // Neither fed nor held: the level it had with the same outputs around it.
    const bool second_half =
        plan_[h].kind == HoldKind::kAllOn || plan_[h].kind == HoldKind::kOneOff;
    return Final(second_half ? kAllOnHold : kAllOffHold, j);
  }
  bool Deviates(std::size_t h, int j) const { return Final(h, j) != Expected(h, j); }
  // Off its level in the last two readings (the last one with a hold of 1).
  bool SteadilyOff(std::size_t h, int j) const {
    const auto& frames = run_[h];
    if (!Deviates(h, j)) return false;
    return frames.size() < 2 || Bit(frames[frames.size() - 2], j) != Expected(h, j);
  }

 private:
  // Changed and changed back: more than one change from the previous hold's
  // last reading through this hold's readings.
  bool Flickered(std::size_t h, int j) const {
    const auto& frames = run_[h];
    if (frames.empty()) return false;
    bool level = h > 0 && !run_[h - 1].empty() ? Bit(run_[h - 1].back(), j) : Bit(frames[0], j);
    int changes = 0;
    for (const auto& f : frames) {
      if (Bit(f, j) != level) {
        ++changes;
        level = !level;
      }
    }
    return changes > 1;
  }

  const WalkMap& map_;
  const std::vector<Hold>& plan_;
  const RunReadings& run_;
  int digital_;
  std::array<int, kChannels> flickers_{};
  std::array<bool, kChannels> noisy_{};
};

std::string PartnerOf(const WalkMap& map, int input) {
  const int owner = map.OwnerOf(input);
  return owner != 0 ? "out" + std::to_string(owner) : "in" + std::to_string(input);
}

void AddPartner(std::vector<std::string>& list, std::string name) {
  if (std::find(list.begin(), list.end(), name) == list.end()) list.push_back(std::move(name));
}

// The check of out k and the input it feeds.
ChannelResult JudgeOutput(const WalkMap& map, const RunView& v, int k) {
  ChannelResult r;
  r.channel = k;
  r.input = map.target[static_cast<std::size_t>(k - 1)];
  const int t = r.input;
  if (t != 0 && v.Flickers(t) > 0) {
    r.verdict = Verdict::kIntermittent;
    r.flickers = v.Flickers(t);
    return r;
  }
  std::vector<int> followers;
  const std::array<std::pair<std::size_t, std::size_t>, 2> checks{
      {{OneOnHold(k), kAllOffHold}, {OneOffHold(k), kAllOnHold}}};
  for (int j = 1; j <= v.Digital(); ++j) {
    if (j == t || v.Noisy(j)) continue;
    for (const auto& [hold, base] : checks) {
      if (v.SteadilyOff(hold, j) && !v.Deviates(base, j)) {
        followers.push_back(j);
        break;
      }
    }
  }
  const bool came_on = t != 0 && v.Final(OneOnHold(k), t);
  const bool went_off = t != 0 && !v.Final(OneOffHold(k), t);
  if (!followers.empty()) {
    // Its own input followed too: shorted to the others; else it feeds them.
    const bool shorted = came_on || went_off;
    r.verdict = shorted ? Verdict::kShort : Verdict::kWrongInput;
    for (int j : followers) {
      AddPartner(r.partners, shorted ? PartnerOf(map, j) : "in" + std::to_string(j));
    }
  } else if (t == 0) {
    return r;
  } else if (!came_on) {
    r.verdict = Verdict::kStuckAt0;
  } else if (!went_off) {
    r.verdict = Verdict::kStuckAt1;
  }
  return r;
}

// The check of an input the map holds constant; kPass when it has none.
ChannelResult JudgeConstant(const WalkMap& map, const RunView& v, int j) {
  ChannelResult r;
  const auto level = map.constant[static_cast<std::size_t>(j - 1)];
  if (!level || j > v.Digital()) return r;
  if (v.Flickers(j) > 0) {
    r.verdict = Verdict::kIntermittent;
    r.flickers = v.Flickers(j);
    return r;
  }
  std::size_t off = 0;
  for (std::size_t h = 0; h < v.Holds(); ++h) off += v.Deviates(h, j) ? 1 : 0;
  if (off == 0) return r;
  if (off == v.Holds()) {
    r.verdict = *level ? Verdict::kStuckAt0 : Verdict::kStuckAt1;
    return r;
  }
  r.verdict = Verdict::kShort;
  for (int k = 1; k <= kChannels; ++k) {
    if (v.Deviates(OneOnHold(k), j) != v.Deviates(kAllOffHold, j)) {
      AddPartner(r.partners, "out" + std::to_string(k));
    }
  }
  return r;
}

ChannelResult JudgeChannel(const WalkMap& map, const RunView& v, int k) {
  ChannelResult r = JudgeOutput(map, v, k);
  if (r.Passed()) {
    ChannelResult c = JudgeConstant(map, v, k);
    r.verdict = c.verdict;
    r.partners = std::move(c.partners);
    r.flickers = c.flickers;
  }
  return r;
}

}  // namespace

std::vector<Hold> WalkPlan() {
  std::vector<Hold> plan;
  plan.reserve(kHolds);
  plan.push_back({HoldKind::kAllOff, 0, {0, 0, 0, 0}});
  for (int k = 1; k <= kChannels; ++k) {
    Hold h{HoldKind::kOneOn, k, {0, 0, 0, 0}};
    SetBit(h.outputs, k, true);
    plan.push_back(h);
  }
  plan.push_back({HoldKind::kAllOn, 0, {0xFF, 0xFF, 0xFF, 0xFF}});
  for (int k = 1; k <= kChannels; ++k) {
    Hold h{HoldKind::kOneOff, k, {0xFF, 0xFF, 0xFF, 0xFF}};
    SetBit(h.outputs, k, false);
    plan.push_back(h);
  }
  return plan;
}

int AdValue(int ad_mode, const Bytes4& inputs) {
  if (ad_mode == 1) return inputs[3];
  if (ad_mode == 2)
    return static_cast<int16_t>(static_cast<uint16_t>(inputs[2] | (inputs[3] << 8)));
  return 0;
}

bool WalkResult::Passed() const {
  return Failures() == 0;
}

int WalkResult::Failures() const {
  int n = 0;
  for (const auto& c : channels) n += c.Passed() ? 0 : 1;
  if (adc && !adc->Passed()) ++n;
  return n;
}

WalkResult Judge(const WalkMap& map, int ad_mode, const std::vector<RunReadings>& runs) {
  WalkResult result;
  result.runs = static_cast<int>(runs.size());
  const auto plan = WalkPlan();
  for (int k = 1; k <= kChannels; ++k) {
    auto& c = result.channels[static_cast<std::size_t>(k - 1)];
    c.channel = k;
    c.input = map.target[static_cast<std::size_t>(k - 1)];
    c.constant = map.constant[static_cast<std::size_t>(k - 1)];
  }
  if (map.adc && ad_mode != 0) result.adc = AdcResult{*map.adc, 0, 0, 0, 0};
  std::vector<RunView> views;
  std::array<bool, kChannels> noisy{};
  for (const auto& run : runs) {
    if (run.size() != plan.size()) continue;
    bool complete = true;
    for (const auto& frames : run) complete = complete && !frames.empty();
    if (!complete) continue;
    views.emplace_back(map, ad_mode, plan, run);
    views.back().MarkNoisy(noisy);
  }
  bool first = true;
  for (auto& view : views) {
    view.SetNoisy(noisy);
    const RunReadings& run = view.Readings();
    if (result.hold_frames == 0) result.hold_frames = static_cast<int>(run[0].size());
    for (int k = 1; k <= kChannels; ++k) {
      auto& c = result.channels[static_cast<std::size_t>(k - 1)];
      ChannelResult now = JudgeChannel(map, view, k);
      const bool differs = !first && (now.verdict != c.verdict || now.partners != c.partners);
      const int flickers = c.flickers + now.flickers;
      if (first || c.verdict != Verdict::kIntermittent) {
        c.verdict = now.verdict;
        c.partners = std::move(now.partners);
      }
      if (differs) {
        c.verdict = Verdict::kIntermittent;
        c.partners.clear();
      }
      c.flickers = flickers;
    }
    if (result.adc) {
      auto& a = *result.adc;
      for (const auto& frames : run) {
        for (const auto& f : frames) {
          const int value = AdValue(ad_mode, f);
          a.min = a.readings == 0 ? value : std::min(a.min, value);
          a.max = a.readings == 0 ? value : std::max(a.max, value);
          ++a.readings;
          if (value < a.range.low || value > a.range.high) ++a.outside;
        }
      }
    }
    first = false;
  }
  return result;
}

const char* VerdictName(Verdict v) {
  switch (v) {
    case Verdict::kPass:
      return "pass";
    case Verdict::kStuckAt0:
      return "stuck at 0";
    case Verdict::kStuckAt1:
      return "stuck at 1";
    case Verdict::kShort:
      return "short";
    case Verdict::kWrongInput:
      return "wrong input";
    case Verdict::kIntermittent:
      return "intermittent";
  }
  return "?";
}

std::string VerdictText(const ChannelResult& r) {
  std::string text = VerdictName(r.verdict);
  std::string names;
  for (const auto& p : r.partners) names += (names.empty() ? "" : ", ") + p;
  switch (r.verdict) {
    case Verdict::kShort:
      if (!names.empty()) text += " to " + names;
      break;
    case Verdict::kWrongInput:
      if (!names.empty()) text += ": " + names + " followed instead";
      break;
    case Verdict::kIntermittent:
      if (r.flickers > 0) {
        text += " (" + std::to_string(r.flickers) + (r.flickers == 1 ? " flicker)" : " flickers)");
      }
      break;
    default:
      break;
  }
  return text;
}

}  // namespace m32::walk
