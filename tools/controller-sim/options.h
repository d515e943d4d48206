// Command line and run-time control commands of the controller simulator.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "harness.h"
#include "pacing.h"

namespace m32::sim {

enum class AnswerMode : uint8_t {
  kMirror,  // inputs = outputs
  kFixed,   // inputs = a fixed 4-byte value
  kAdc,     // inputs 0-1 = outputs 0-1, inputs 2-3 = running A/D value (little-endian)
};

struct Options {
  std::string dir = ".";
  unsigned port = 1;
  std::optional<uint32_t> baud;      // overrides the rate set on the port
  std::optional<CharFormat> format;  // overrides the character format set on the port
  bool pace = true;
  AnswerMode mode = AnswerMode::kMirror;
  std::array<uint8_t, 4> inputs{};
  uint16_t adc = 0;
  bool loopback = false;
  double garbage_pct = 0;
  double split_pct = 0;
  uint32_t split_gap_ms = 5;
  double bad_checksum_pct = 0;
  uint32_t silence_ms = 0;
  uint32_t silence_every_ms = 0;
  uint32_t hangup_after_ms = 0;
  bool reopen = false;
  uint32_t reopen_delay_ms = 500;
  std::optional<uint64_t> seed;
  std::string log_path;
  std::string control_path;
  bool read_stdin = true;
  bool force = false;
  bool help = false;
  HarnessOptions harness;
};

struct ParsedOptions {
  Options options;
  std::string error;  // empty on success
};

// args excludes the program name.
ParsedOptions ParseOptions(std::span<const std::string> args);
std::string HelpText();

struct Command {
  enum class Kind : uint8_t {
    kInputs,       // inputs HEX8     -> fixed mode with these inputs
    kAdc,          // adc N           -> A/D mode, counter set to N
    kMode,         // mode mirror|fixed|adc
    kGarbage,      // garbage P
    kSplit,        // split P
    kBadChecksum,  // bad-checksum P
    kSilence,      // silence MS      -> no answers for MS from now
    kLoopback,     // loopback on|off
    kHangup,       // hangup
    kStopReading,  // stop-reading MS -> the line is not read for MS from now
    kStats,        // stats
    kQuit,         // quit
  };
  Kind kind = Kind::kQuit;
  std::array<uint8_t, 4> bytes{};
  uint32_t value = 0;
  double percent = 0;
  AnswerMode mode = AnswerMode::kMirror;
  bool on = false;
};

// One line of text; empty with `error` set when the line is not a command.
// A blank line or one starting with '#' gives no command and no error.
std::optional<Command> ParseCommand(std::string_view line, std::string& error);

// Helpers shared by both parsers.
bool ParseHex4(std::string_view text, std::array<uint8_t, 4>& out);  // "FF FF FF FF" or "FFFFFFFF"
bool ParsePercent(std::string_view text, double& out);               // 0..100
bool ParseUint(std::string_view text, uint64_t max, uint64_t& out);
std::optional<AnswerMode> ParseMode(std::string_view text);
const char* ModeName(AnswerMode mode);

}  // namespace m32::sim
