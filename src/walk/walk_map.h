// The loop-back harness as the walk test sees it: which input each output
// feeds, which inputs must hold a constant level, and the A/D value's range.
//
// Map file: plain text (UTF-8 or ASCII), one rule a line, '#' starts a
// comment, blank lines and surrounding spaces are ignored:
//   out1 -> in17       output 1 feeds input 17
//   out2 -> none       output 2 feeds no input (no input may follow it)
//   in5 = 1            input 5 must read 1 throughout (0 or 1)
//   adc 1000..3000     the A/D value must lie in this range (A/D modes 1, 2)
// Outputs that no rule names keep the default wiring out k -> in k.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace m32::walk {

constexpr int kChannels = 32;

struct AdcRange {
  int low = 0;
  int high = 0;
};

struct WalkMap {
  // Input (1..32) fed by output k+1; 0: none.
  std::array<int, kChannels> target{};
  // Level input k+1 must hold; empty when it is not held constant.
  std::array<std::optional<bool>, kChannels> constant{};
  std::optional<AdcRange> adc;
  // Outputs that a rule named (the others keep out k -> in k).
  std::array<bool, kChannels> ruled{};

  // out k -> in k for every channel.
  static WalkMap Default();
  // The output that feeds `input` (1..32), or 0.
  int OwnerOf(int input) const;
};

struct MapError {
  int line = 0;  // 1-based
  std::string message;
};

struct MapParse {
  WalkMap map;
  std::optional<MapError> error;
};

// Parses a map file's text; the first bad line ends the parse.
MapParse ParseMap(std::string_view text);

// "line 4: expected ..." for the message on stderr.
std::string Describe(const MapError& error);

// Inputs that carry the A/D value instead of channels: in25..in32 in A/D
// mode 1, in17..in32 in mode 2. Digital inputs are 1..DigitalInputs(mode).
int DigitalInputs(int ad_mode);

// Checks the map against the A/D mode: no rule may name an input that carries
// the A/D value, and an A/D range needs mode 1 or 2. Outputs left at their
// default wiring to such an input feed none. Empty when fine, else why not.
std::string FitToAdMode(WalkMap& map, int ad_mode);

}  // namespace m32::walk
