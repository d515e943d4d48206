#include "options.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <vector>

namespace m32::sim {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> Words(std::string_view s) {
  std::vector<std::string_view> words;
  s = Trim(s);
  while (!s.empty()) {
    std::size_t n = 0;
    while (n < s.size() && !std::isspace(static_cast<unsigned char>(s[n]))) ++n;
    words.push_back(s.substr(0, n));
    s = Trim(s.substr(n));
  }
  return words;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseU32(std::string_view text, uint32_t& out) {
  uint64_t v = 0;
  if (!ParseUint(text, 0xFFFFFFFFULL, v)) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

bool ParseUint(std::string_view text, uint64_t max, uint64_t& out) {
  uint64_t v = 0;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, v);
  if (text.empty() || ec != std::errc() || p != end || v > max) return false;
  out = v;
  return true;
}

bool ParsePercent(std::string_view text, double& out) {
  if (text.empty()) return false;
  const std::string s(text);
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !(v >= 0.0 && v <= 100.0)) return false;
  out = v;
  return true;
}

bool ParseHex4(std::string_view text, std::array<uint8_t, 4>& out) {
  std::string digits;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    if (HexDigit(c) < 0) return false;
    digits += c;
  }
  if (digits.size() != 8) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    out[i] = static_cast<uint8_t>(HexDigit(digits[2 * i]) * 16 + HexDigit(digits[2 * i + 1]));
  }
  return true;
}

std::optional<AnswerMode> ParseMode(std::string_view text) {
  if (text == "mirror") return AnswerMode::kMirror;
  if (text == "fixed") return AnswerMode::kFixed;
  if (text == "adc") return AnswerMode::kAdc;
  return std::nullopt;
}

const char* ModeName(AnswerMode mode) {
  switch (mode) {
    case AnswerMode::kMirror:
      return "mirror";
    case AnswerMode::kFixed:
      return "fixed";
    case AnswerMode::kAdc:
      return "adc";
  }
  return "?";
}

ParsedOptions ParseOptions(std::span<const std::string> args) {
  ParsedOptions r;
  Options& o = r.options;
  bool silence_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool has_value = false;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      has_value = true;
    }
    auto need = [&]() -> bool {
      if (has_value) return true;
      if (i + 1 >= args.size()) {
        r.error = name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    auto bad = [&]() {
      r.error = "bad value for ";
      r.error += name;
      r.error += ": '";
      r.error += value;
      r.error += "'";
      return r;
    };
    uint64_t u = 0;
    if (name == "--help" || name == "-h") {
      o.help = true;
    } else if (name == "--loopback") {
      o.loopback = true;
    } else if (name == "--no-pace") {
      o.pace = false;
    } else if (name == "--reopen") {
      o.reopen = true;
    } else if (name == "--no-stdin") {
      o.read_stdin = false;
    } else if (name == "--force") {
      o.force = true;
    } else if (name == "--dir") {
      if (!need()) return r;
      if (value.empty()) return bad();
      o.dir = value;
    } else if (name == "--port") {
      if (!need()) return r;
      if (!ParseUint(value, 255, u) || u == 0) return bad();
      o.port = static_cast<unsigned>(u);
    } else if (name == "--baud") {
      if (!need()) return r;
      if (!ParseUint(value, 4000000, u) || u == 0) return bad();
      o.baud = static_cast<uint32_t>(u);
    } else if (name == "--format") {
      if (!need()) return r;
      o.format = ParseCharFormat(value);
      if (!o.format) return bad();
    } else if (name == "--mode") {
      if (!need()) return r;
      const auto m = ParseMode(value);
      if (!m) return bad();
      o.mode = *m;
    } else if (name == "--inputs") {
      if (!need()) return r;
      if (!ParseHex4(value, o.inputs)) return bad();
    } else if (name == "--adc") {
      if (!need()) return r;
      if (!ParseUint(value, 0xFFFF, u)) return bad();
      o.adc = static_cast<uint16_t>(u);
    } else if (name == "--garbage") {
      if (!need()) return r;
      if (!ParsePercent(value, o.garbage_pct)) return bad();
    } else if (name == "--split") {
      if (!need()) return r;
      if (!ParsePercent(value, o.split_pct)) return bad();
    } else if (name == "--split-gap-ms") {
      if (!need()) return r;
      if (!ParseU32(value, o.split_gap_ms) || o.split_gap_ms > 10000) return bad();
    } else if (name == "--bad-checksum") {
      if (!need()) return r;
      if (!ParsePercent(value, o.bad_checksum_pct)) return bad();
    } else if (name == "--silence-ms") {
      if (!need()) return r;
      if (!ParseU32(value, o.silence_ms)) return bad();
      silence_given = true;
    } else if (name == "--silence-every") {
      if (!need()) return r;
      if (!ParseU32(value, o.silence_every_ms)) return bad();
    } else if (name == "--hangup-after-ms") {
      if (!need()) return r;
      if (!ParseU32(value, o.hangup_after_ms) || o.hangup_after_ms == 0) return bad();
    } else if (name == "--reopen-delay-ms") {
      if (!need()) return r;
      if (!ParseU32(value, o.reopen_delay_ms)) return bad();
    } else if (name == "--seed") {
      if (!need()) return r;
      if (!ParseUint(value, UINT64_MAX, u)) return bad();
      o.seed = u;
    } else if (name == "--log") {
      if (!need()) return r;
      if (value.empty()) return bad();
      o.log_path = value;
    } else if (name == "--control") {
      if (!need()) return r;
      if (value.empty()) return bad();
      o.control_path = value;
    } else if (ParseHarnessOption(
                   name,
                   [&]() -> std::optional<std::string> {
                     if (!need()) return std::nullopt;
                     return value;
                   },
                   o.harness, r.error)) {
      if (!r.error.empty()) return r;
    } else {
      r.error = "unknown option: " + args[i];
      return r;
    }
  }
  const bool silence_asked = silence_given || o.silence_every_ms != 0;
  if (silence_asked && (o.silence_ms == 0 || o.silence_every_ms == 0)) {
    r.error = "--silence-ms and --silence-every go together, both above 0";
  }
  return r;
}

std::string HelpText() {
  return R"(Usage: controller-sim [options]
Stands in for the controller board on a pseudo-terminal reached as DIR/COMn.
Answers every LinkFrame (A2 6B o0 o1 o2 o3 cs FE) with an input frame of the same
layout and every BrightnessFrame (A2 68 L1..L8 addr cs FE) with a BrightnessReply
(A2 68 addr count cs FE). The line is paced at the rate and character format set
on the port.

Port:
  --dir DIR              folder for the COMn symlink (default: current folder)
  --port N               n of COMn, 1..255 (default 1)
  --force                replace a COMn symlink that points to a live device
Line:
  --baud N               rate in Bd instead of the one set on the port
  --format DPS           character format instead of the port's, e.g. 8E1, 8N1, 7O2
                         (a pseudo-terminal always reports 8 data bits, no parity)
  --no-pace              no pacing: answer and send at once
Answers:
  --mode MODE            mirror (inputs = outputs, default), fixed, adc
  --inputs HEX8          inputs for the fixed mode, e.g. 01020304 (default 00000000)
  --adc N                first A/D value of the adc mode, 0..65535 (default 0); it
                         goes up by one with every answer
  --loopback             echo every byte instead of answering frames
Faults:
  --garbage P            P % of answers get 1..8 random bytes before them
  --split P              P % of answers go out in 2..3 pieces with gaps between
  --split-gap-ms N       gap between pieces (default 5)
  --bad-checksum P       P % of answers carry a wrong checksum
  --silence-ms N         no answers for N ms ...
  --silence-every M      ... every M ms (both needed)
  --hangup-after-ms N    hang up after N ms: close the pseudo-terminal and end
  --reopen               after a hang-up, make a new pseudo-terminal and point COMn
                         at it (the hang-up then repeats every N ms)
  --reopen-delay-ms N    time without any COMn between hang-up and reopen (default 500)
  --seed N               seed of the fault decisions (default: random, printed)
Observation and control:
  --log FILE             one line per event: <monotonic us> <TAG> <hex bytes>
                         tags IN, BAD, SKIP, OUT, CORRUPT, GARBAGE, BUSY, RAW, ECHO, EVENT
  --control FIFO         read commands from FIFO (created if missing)
  --no-stdin             do not read commands from standard input
  --help                 this text
Commands (one per line, on standard input or the FIFO):
  inputs HEX8            fixed mode with these inputs (e.g. inputs FF FF FF FF)
  adc N                  adc mode, A/D value set to N
  mode mirror|fixed|adc
  garbage P | split P | bad-checksum P
  silence MS             no answers for MS from now
  loopback on|off
  hangup                 hang up now (then end, or reopen with --reopen)
  stop-reading MS        take nothing off the line for MS from now, as a board (or a
                         stalled adapter) that stops reading: the tool's writes back up
  stats                  print the summary line now
  quit                   end normally
On exit prints one summary line and removes the COMn symlink.
)" + HarnessHelp();
}

std::optional<Command> ParseCommand(std::string_view line, std::string& error) {
  error.clear();
  const auto w = Words(line);
  if (w.empty() || w[0].front() == '#') return std::nullopt;
  Command c;
  const std::string_view verb = w[0];
  auto arg_count = [&](std::size_t n) {
    if (w.size() == n + 1) return true;
    error = std::string(verb) + ": expected " + std::to_string(n) + " argument(s)";
    return false;
  };
  uint64_t u = 0;
  if (verb == "inputs") {
    c.kind = Command::Kind::kInputs;
    std::string rest;
    for (std::size_t i = 1; i < w.size(); ++i) rest += w[i];
    if (!ParseHex4(rest, c.bytes)) {
      error = "inputs: expected 4 hex bytes";
      return std::nullopt;
    }
    return c;
  }
  if (verb == "adc") {
    if (!arg_count(1)) return std::nullopt;
    if (!ParseUint(w[1], 0xFFFF, u)) {
      error = "adc: expected 0..65535";
      return std::nullopt;
    }
    c.kind = Command::Kind::kAdc;
    c.value = static_cast<uint32_t>(u);
    return c;
  }
  if (verb == "mode") {
    if (!arg_count(1)) return std::nullopt;
    const auto m = ParseMode(w[1]);
    if (!m) {
      error = "mode: expected mirror, fixed or adc";
      return std::nullopt;
    }
    c.kind = Command::Kind::kMode;
    c.mode = *m;
    return c;
  }
  if (verb == "garbage" || verb == "split" || verb == "bad-checksum") {
    if (!arg_count(1)) return std::nullopt;
    if (!ParsePercent(w[1], c.percent)) {
      error = std::string(verb) + ": expected a percentage 0..100";
      return std::nullopt;
    }
    c.kind = verb == "garbage" ? Command::Kind::kGarbage
             : verb == "split" ? Command::Kind::kSplit
                               : Command::Kind::kBadChecksum;
    return c;
  }
  if (verb == "silence") {
    if (!arg_count(1)) return std::nullopt;
    if (!ParseUint(w[1], 0xFFFFFFFFULL, u)) {
      error = "silence: expected milliseconds";
      return std::nullopt;
    }
    c.kind = Command::Kind::kSilence;
    c.value = static_cast<uint32_t>(u);
    return c;
  }
  if (verb == "loopback") {
    if (!arg_count(1)) return std::nullopt;
    if (w[1] != "on" && w[1] != "off") {
      error = "loopback: expected on or off";
      return std::nullopt;
    }
    c.kind = Command::Kind::kLoopback;
    c.on = w[1] == "on";
    return c;
  }
  if (verb == "stop-reading") {
    if (!arg_count(1)) return std::nullopt;
    if (!ParseUint(w[1], 0xFFFFFFFFULL, u)) {
      error = "stop-reading: expected milliseconds";
      return std::nullopt;
    }
    c.kind = Command::Kind::kStopReading;
    c.value = static_cast<uint32_t>(u);
    return c;
  }
  if (verb == "hangup" || verb == "stats" || verb == "quit") {
    if (!arg_count(0)) return std::nullopt;
    c.kind = verb == "hangup"  ? Command::Kind::kHangup
             : verb == "stats" ? Command::Kind::kStats
                               : Command::Kind::kQuit;
    return c;
  }
  error = "unknown command: " + std::string(verb);
  return std::nullopt;
}

}  // namespace m32::sim
