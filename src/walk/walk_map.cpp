#include "walk/walk_map.h"

#include <algorithm>
#include <charconv>

namespace m32::walk {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// A whole decimal number in [low, high].
std::optional<int> Number(std::string_view s, int low, int high) {
  int v = 0;
  const char* end = s.data() + s.size();
  const auto [p, ec] = std::from_chars(s.data(), end, v);
  if (s.empty() || ec != std::errc() || p != end || v < low || v > high) return std::nullopt;
  return v;
}

// "out12" or "in3": the channel number after the prefix.
std::optional<int> Channel(std::string_view s, std::string_view prefix) {
  if (s.substr(0, prefix.size()) != prefix) return std::nullopt;
  return Number(s.substr(prefix.size()), 1, kChannels);
}

constexpr char kExpected[] =
    "expected \"outN -> inM\", \"outN -> none\", \"inN = 0|1\" or \"adc LOW..HIGH\" "
    "(N, M 1..32)";

struct Lines {
  std::array<int, kChannels> output_rule{};    // line of each output's rule
  std::array<int, kChannels> constant_rule{};  // line of each input's constant rule
};

std::optional<std::string> ParseLine(std::string_view line, int number, WalkMap& map,
                                     Lines& lines) {
  if (const auto arrow = line.find("->"); arrow != std::string_view::npos) {
    const auto out = Channel(Trim(line.substr(0, arrow)), "out");
    const std::string_view to = Trim(line.substr(arrow + 2));
    if (!out) return std::string(kExpected) + ": the left side must be out1..out32";
    const auto k = static_cast<std::size_t>(*out - 1);
    if (lines.output_rule[k] != 0) {
      return "out" + std::to_string(*out) + " already has a rule on line " +
             std::to_string(lines.output_rule[k]);
    }
    int input = 0;
    if (to != "none") {
      const auto in = Channel(to, "in");
      if (!in) return std::string(kExpected) + ": the right side must be in1..in32 or none";
      input = *in;
    }
    lines.output_rule[k] = number;
    map.ruled[k] = true;
    map.target[k] = input;
    return std::nullopt;
  }
  if (const auto eq = line.find('='); eq != std::string_view::npos) {
    const auto in = Channel(Trim(line.substr(0, eq)), "in");
    const auto level = Number(Trim(line.substr(eq + 1)), 0, 1);
    if (!in || !level)
      return std::string(kExpected) + ": a constant input is \"inN = 0\" or \"inN = 1\"";
    const auto k = static_cast<std::size_t>(*in - 1);
    if (lines.constant_rule[k] != 0) {
      return "in" + std::to_string(*in) + " already has a level on line " +
             std::to_string(lines.constant_rule[k]);
    }
    lines.constant_rule[k] = number;
    map.constant[k] = *level == 1;
    return std::nullopt;
  }
  if (line.substr(0, 3) == "adc" && (line.size() == 3 || line[3] == ' ' || line[3] == '\t')) {
    const std::string_view range = Trim(line.substr(3));
    const auto dots = range.find("..");
    const auto low = dots == std::string_view::npos
                         ? std::nullopt
                         : Number(Trim(range.substr(0, dots)), -32768, 65535);
    const auto high = dots == std::string_view::npos
                          ? std::nullopt
                          : Number(Trim(range.substr(dots + 2)), -32768, 65535);
    if (!low || !high) return std::string(kExpected) + ": an A/D range is \"adc LOW..HIGH\"";
    if (*low > *high) return "the A/D range's low end is above its high end";
    if (map.adc) return "the A/D range is given twice";
    map.adc = AdcRange{*low, *high};
    return std::nullopt;
  }
  return std::string(kExpected);
}

}  // namespace

WalkMap WalkMap::Default() {
  WalkMap map;
  for (int k = 0; k < kChannels; ++k) map.target[static_cast<std::size_t>(k)] = k + 1;
  return map;
}

int WalkMap::OwnerOf(int input) const {
  for (int k = 0; k < kChannels; ++k) {
    if (input != 0 && target[static_cast<std::size_t>(k)] == input) return k + 1;
  }
  return 0;
}

MapParse ParseMap(std::string_view text) {
  MapParse result;
  result.map = WalkMap::Default();
  Lines lines;
  int number = 0;
  while (!text.empty() || number == 0) {
    ++number;
    const auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    if (const auto hash = line.find('#'); hash != std::string_view::npos)
      line = line.substr(0, hash);
    line = Trim(line);
    if (line.empty()) continue;
    if (auto why = ParseLine(line, number, result.map, lines)) {
      result.error = MapError{number, std::move(*why)};
      return result;
    }
  }
  // Whole-file rules: one output an input, and no constant on a fed input.
  for (int in = 1; in <= kChannels; ++in) {
    int first = 0;
    int line = 0;
    for (int k = 1; k <= kChannels; ++k) {
      const auto u = static_cast<std::size_t>(k - 1);
      if (result.map.target[u] != in) continue;
      if (first == 0) {
        first = k;
        line = lines.output_rule[u];
        continue;
      }
      // Defaults never clash with each other: one of the two has a rule.
      const int other_line = lines.output_rule[u];
      std::string why = "in" + std::to_string(in) + " is fed by out" + std::to_string(first);
      if (line != 0 && other_line != 0) {
        why += " (line " + std::to_string(line) + ") already";
      } else {
        const int unruled = other_line == 0 ? k : first;
        why += " and out" + std::to_string(k) + " (add \"out" + std::to_string(unruled) +
               " -> none\" or wire it elsewhere)";
      }
      result.error = MapError{std::max(line, other_line), why};
      return result;
    }
  }
  for (int i = 0; i < kChannels; ++i) {
    const auto u = static_cast<std::size_t>(i);
    if (!result.map.constant[u] || result.map.OwnerOf(i + 1) == 0) continue;
    const int owner = result.map.OwnerOf(i + 1);
    result.error =
        MapError{lines.constant_rule[u],
                 "in" + std::to_string(i + 1) + " is fed by out" + std::to_string(owner) +
                     " (add \"out" + std::to_string(owner) + " -> none\" or wire it elsewhere)"};
    return result;
  }
  return result;
}

std::string Describe(const MapError& error) {
  return "line " + std::to_string(error.line) + ": " + error.message;
}

int DigitalInputs(int ad_mode) {
  if (ad_mode == 1) return 24;
  if (ad_mode == 2) return 16;
  return kChannels;
}

std::string FitToAdMode(WalkMap& map, int ad_mode) {
  const int digital = DigitalInputs(ad_mode);
  for (int k = 0; k < kChannels; ++k) {
    const auto u = static_cast<std::size_t>(k);
    if (map.target[u] > digital) {
      if (!map.ruled[u]) {
        map.target[u] = 0;
        continue;
      }
      return "out" + std::to_string(k + 1) + " -> in" + std::to_string(map.target[u]) + ": in" +
             std::to_string(map.target[u]) + " carries the A/D value in A/D mode " +
             std::to_string(ad_mode);
    }
    if (k + 1 > digital && map.constant[u]) {
      return "in" + std::to_string(k + 1) + " carries the A/D value in A/D mode " +
             std::to_string(ad_mode);
    }
  }
  if (map.adc && digital == kChannels) {
    return "the map gives an A/D range, but the A/D mode is 0 (use --adc 1 or --adc 2)";
  }
  return {};
}

}  // namespace m32::walk
