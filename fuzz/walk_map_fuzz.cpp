// Any bytes as the walk test's map file. Checks, beyond the sanitizers:
//  - a parse either fails naming a line of the file (1 .. lines) with a
//    message, or gives a map where every input is fed by one output at most,
//    every target is in1..in32 or none, no input held constant is also fed,
//    and an A/D range is ordered;
//  - the map fitted to each A/D mode leaves no target on an A/D input;
//  - the judgement of a clean loop-back run of that map passes every channel
//    (the reports are written too, for the sanitizers).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "walk/walk_judge.h"
#include "walk/walk_map.h"
#include "walk/walk_report.h"

namespace {

using m32::fuzz::Check;
namespace walk = m32::walk;

// A harness wired exactly as the map says, read `frames` times a hold.
walk::RunReadings LoopBack(const walk::WalkMap& map, int frames) {
  walk::RunReadings run;
  for (const auto& hold : walk::WalkPlan()) {
    walk::Bytes4 in{};
    for (int k = 1; k <= walk::kChannels; ++k) {
      const auto u = static_cast<std::size_t>(k - 1);
      const bool on = ((hold.outputs[u / 8] >> (u % 8)) & 1U) != 0;
      const int t = map.target[u];
      if (on && t != 0) in[static_cast<std::size_t>(t - 1) / 8] |= 1U << ((t - 1) % 8);
      if (map.constant[u].value_or(false)) in[u / 8] |= 1U << (u % 8);
    }
    run.emplace_back(static_cast<std::size_t>(frames), in);
  }
  return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const walk::MapParse parsed = walk::ParseMap(text);
  if (parsed.error) {
    std::size_t lines = 1;
    for (char c : text) lines += c == '\n' ? 1 : 0;
    Check(parsed.error->line >= 1 && static_cast<std::size_t>(parsed.error->line) <= lines,
          "the error names a line of the file");
    Check(!parsed.error->message.empty(), "the error says what was expected");
    return 0;
  }
  const walk::WalkMap& map = parsed.map;
  std::array<int, walk::kChannels> feeds{};
  for (int t : map.target) {
    Check(t >= 0 && t <= walk::kChannels, "targets are in1..in32 or none");
    if (t != 0) ++feeds[static_cast<std::size_t>(t - 1)];
  }
  for (std::size_t i = 0; i < feeds.size(); ++i) {
    Check(feeds[i] <= 1, "an input is fed by one output at most");
    Check(!(map.constant[i] && feeds[i] != 0), "a constant input is not fed");
  }
  if (map.adc) Check(map.adc->low <= map.adc->high, "the A/D range is ordered");
  for (int mode = 0; mode <= 2; ++mode) {
    walk::WalkMap fitted = map;
    if (!walk::FitToAdMode(fitted, mode).empty()) continue;
    for (int t : fitted.target) Check(t <= walk::DigitalInputs(mode), "no target on an A/D input");
    if (mode != 0) continue;
    const walk::WalkResult result = walk::Judge(fitted, mode, {LoopBack(fitted, 1 + size % 3)});
    Check(result.Passed(), "a clean loop-back passes");
    const walk::ReportInfo info;
    Check(!walk::HumanReport(result, info).empty() && !walk::CsvReport(result, info).empty() &&
              !walk::JunitReport(result, info).empty() && !walk::HtmlReport(result, info).empty(),
          "every report is written");
  }
  return 0;
}
