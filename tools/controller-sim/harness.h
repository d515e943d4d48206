// The loop-back harness of the walk test, simulated: every output drives the
// input it is wired to (out k -> in k unless --wire says otherwise), with
// faults put in on purpose:
//   --stuck0 N / --stuck1 N   output N is stuck at 0 / at 1
//   --short A,B               outputs A and B are shorted (either on: both on)
//   --swap A,B                the wires of outputs A and B are swapped
//   --flicker N:P%            input N reads wrong in P % of the answers
// Any of these (or --harness) puts the harness between the outputs the board
// receives and the inputs it answers with; the answer mode then works on the
// harness's inputs (adc: bytes 2-3 still carry the A/D value).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace m32::sim {

struct HarnessOptions {
  bool on = false;
  std::array<uint8_t, 32> wire{};  // input fed by output k+1 (1..32, 0: none)
  uint32_t stuck0 = 0;             // bit k-1: output k stuck at 0
  uint32_t stuck1 = 0;
  std::vector<std::pair<int, int>> shorts;
  std::vector<std::pair<int, double>> flicker;  // input, percent

  HarnessOptions();
};

// One harness option: false when `name` is none of them. `value` takes the
// option's value (empty when there is none); `error` is set on a bad one.
bool ParseHarnessOption(const std::string& name,
                        const std::function<std::optional<std::string>()>& value,
                        HarnessOptions& options, std::string& error);
std::string HarnessHelp();

class Harness {
 public:
  Harness(const HarnessOptions& options, uint64_t seed);
  // The inputs the harness gives back for these outputs.
  std::array<uint8_t, 4> Inputs(const std::array<uint8_t, 4>& outputs);

 private:
  HarnessOptions o_;
  std::mt19937_64 rng_;
};

}  // namespace m32::sim
