#include "service/brightness.h"

#include <algorithm>

#include "core/number_fields.h"

namespace m32::service {
BrightnessFrame BuildBrightnessFrame(const Levels& levels, uint8_t address) {
  BrightnessFrame f{};
  f[0] = link::kSyncByte;
  f[1] = kFrameType;
  std::copy(levels.begin(), levels.end(), f.begin() + 2);
  f[10] = address;
  f[12] = link::kEndMark;
  f[11] = link::Checksum(f, 11);
  return f;
}

bool ReplyValid(const ReplyBytes& reply) {
  return reply[5] == link::kEndMark && link::ByteSum(reply) == 0;
}

std::size_t SpanByteSource::Read(std::span<uint8_t> buf) {
  const std::size_t n = std::min(buf.size(), bytes_.size());
  std::copy_n(bytes_.begin(), n, buf.begin());
  bytes_ = bytes_.subspan(n);
  return n;
}

BrightnessReplyParser::Outcome BrightnessReplyParser::Pass(ByteSource& source, uint32_t waiting) {
  if (waiting == 0) return Outcome::kNone;
  if (state_ == 0) {
    if (source.Read(std::span<uint8_t>(reply_.data(), 1)) != 1) return Outcome::kNone;
    if (reply_[0] != link::kSyncByte) return Outcome::kNone;
    state_ = 1;
    if (--waiting == 0) return Outcome::kNone;
  }
  if (state_ == 1) {
    if (source.Read(std::span<uint8_t>(reply_.data() + 1, 1)) != 1) return Outcome::kNone;
    if (reply_[1] != kFrameType) {
      state_ = 0;
      return Outcome::kNone;
    }
    state_ = 2;
    if (--waiting == 0) return Outcome::kNone;
  }
  if (state_ == 2) {
    if (waiting < 4) return Outcome::kNone;
    state_ = 0;
    // The four bytes were counted as waiting; a short read drops the reply.
    if (source.Read(std::span<uint8_t>(reply_.data() + 2, 4)) != 4) return Outcome::kInvalid;
    return ReplyValid(reply_) ? Outcome::kValid : Outcome::kInvalid;
  }
  return Outcome::kNone;
}

uint8_t ParseLevel(std::string_view text) {
  return static_cast<uint8_t>(std::clamp(ScanInt(text, kLevelScanChars).value, 0, 255));
}

std::string LevelText(uint8_t level) {
  return std::to_string(level);
}

std::string LevelLabel(uint8_t level) {
  std::string percent = std::to_string(level * 100u / 255u);
  percent.insert(0, 3 - percent.size(), ' ');
  std::string out;
  out.push_back(HexDigit(level >> 4u));
  out.push_back(HexDigit(level));
  out += " hex      ";
  out += percent;
  out.push_back('%');
  return out;
}

std::string_view ButtonCaption(uint8_t level) {
  return level == 0 ? ">>" : "<<";
}

uint8_t ToggledLevel(uint8_t level) {
  return level == 0 ? kFullLevel : 0;
}

std::string GroupCaption(std::string_view word, unsigned channel) {
  return " " + std::string(word) + " &" + std::to_string(channel) + " : ";
}

bool AcceptLevelChange(Levels& levels, SharedStatus& status, int channel, uint8_t level) {
  if (channel < 0 || channel >= kChannels) return false;
  if (status.flags.OutputsChanged.load() != 0) return false;
  levels[static_cast<std::size_t>(channel)] = level;
  status.LightingSendCountdown.store(kSendAfterChange);
  status.flags.OutputsChanged.store(1);
  return true;
}

}  // namespace m32::service
