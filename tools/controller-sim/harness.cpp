#include "harness.h"

#include <charconv>
#include <cstdlib>

namespace m32::sim {
namespace {

std::optional<int> Channel(std::string_view s) {
  int v = 0;
  const char* end = s.data() + s.size();
  const auto [p, ec] = std::from_chars(s.data(), end, v);
  if (s.empty() || ec != std::errc() || p != end || v < 1 || v > 32) return std::nullopt;
  return v;
}

// "A,B" (or "A:B"): two channels.
std::optional<std::pair<int, int>> Pair(const std::string& s, char sep) {
  const auto at = s.find(sep);
  if (at == std::string::npos) return std::nullopt;
  const auto a = Channel(std::string_view(s).substr(0, at));
  const auto b = Channel(std::string_view(s).substr(at + 1));
  if (!a || !b) return std::nullopt;
  return std::pair{*a, *b};
}

bool Bit(uint32_t bits, int channel) {
  return ((bits >> (channel - 1)) & 1U) != 0;
}

}  // namespace

HarnessOptions::HarnessOptions() {
  for (std::size_t k = 0; k < wire.size(); ++k) wire[k] = static_cast<uint8_t>(k + 1);
}

bool ParseHarnessOption(const std::string& name,
                        const std::function<std::optional<std::string>()>& value, HarnessOptions& o,
                        std::string& error) {
  static const char* const kNames[] = {"--harness", "--wire", "--stuck0", "--stuck1",
                                       "--short",   "--swap", "--flicker"};
  bool known = false;
  for (const char* n : kNames) known = known || name == n;
  if (!known) return false;
  o.on = true;
  if (name == "--harness") return true;
  const auto v = value();
  if (!v) {
    error = name + " needs a value";
    return true;
  }
  auto bad = [&] { error = "bad value for " + name + ": '" + *v + "'"; };
  if (name == "--stuck0" || name == "--stuck1") {
    const auto k = Channel(*v);
    if (!k) {
      bad();
      return true;
    }
    (name == "--stuck0" ? o.stuck0 : o.stuck1) |= 1U << (*k - 1);
  } else if (name == "--short") {
    const auto p = Pair(*v, ',');
    if (!p || p->first == p->second) {
      bad();
      return true;
    }
    o.shorts.push_back(*p);
  } else if (name == "--swap") {
    const auto p = Pair(*v, ',');
    if (!p || p->first == p->second) {
      bad();
      return true;
    }
    std::swap(o.wire[static_cast<std::size_t>(p->first - 1)],
              o.wire[static_cast<std::size_t>(p->second - 1)]);
  } else if (name == "--wire") {
    // OUT:IN, IN 0 for none.
    const auto at = v->find(':');
    const auto out =
        at == std::string::npos ? std::nullopt : Channel(std::string_view(*v).substr(0, at));
    const std::string_view in_text =
        at == std::string::npos ? "" : std::string_view(*v).substr(at + 1);
    const auto in = in_text == "0" ? std::optional<int>(0) : Channel(in_text);
    if (!out || !in) {
      bad();
      return true;
    }
    o.wire[static_cast<std::size_t>(*out - 1)] = static_cast<uint8_t>(*in);
  } else {  // --flicker N:P%
    const auto at = v->find(':');
    const auto in =
        at == std::string::npos ? std::nullopt : Channel(std::string_view(*v).substr(0, at));
    std::string pct = at == std::string::npos ? "" : v->substr(at + 1);
    if (!pct.empty() && pct.back() == '%') pct.pop_back();
    char* end = nullptr;
    const double p = pct.empty() ? -1 : std::strtod(pct.c_str(), &end);
    if (!in || end != pct.c_str() + pct.size() || !(p >= 0 && p <= 100)) {
      bad();
      return true;
    }
    o.flicker.emplace_back(*in, p);
  }
  return true;
}

std::string HarnessHelp() {
  return R"(Loop-back harness (for the walk test; any of these puts it in):
  --harness              outputs drive inputs: out k -> in k
  --wire OUT:IN          out OUT drives in IN instead (IN 0: nothing)
  --stuck0 N             output N stuck at 0       --stuck1 N   ... at 1
  --short A,B            outputs A and B shorted (either on: both on)
  --swap A,B             the wires of outputs A and B swapped
  --flicker N:P%         input N reads wrong in P % of the answers
)";
}

Harness::Harness(const HarnessOptions& options, uint64_t seed) : o_(options), rng_(seed) {}

std::array<uint8_t, 4> Harness::Inputs(const std::array<uint8_t, 4>& outputs) {
  uint32_t out = 0;
  for (std::size_t i = 0; i < 4; ++i) out |= static_cast<uint32_t>(outputs[i]) << (8 * i);
  out = (out & ~o_.stuck0) | o_.stuck1;
  for (const auto& [a, b] : o_.shorts) {
    if (Bit(out, a) || Bit(out, b)) out |= (1U << (a - 1)) | (1U << (b - 1));
  }
  uint32_t in = 0;
  for (int k = 1; k <= 32; ++k) {
    const int target = o_.wire[static_cast<std::size_t>(k - 1)];
    if (target != 0 && Bit(out, k)) in |= 1U << (target - 1);
  }
  for (const auto& [j, pct] : o_.flicker) {
    if (pct > 0 && std::uniform_real_distribution<double>(0.0, 100.0)(rng_) < pct) {
      in ^= 1U << (j - 1);
    }
  }
  return {static_cast<uint8_t>(in), static_cast<uint8_t>(in >> 8), static_cast<uint8_t>(in >> 16),
          static_cast<uint8_t>(in >> 24)};
}

}  // namespace m32::sim
