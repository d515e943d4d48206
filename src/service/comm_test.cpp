#include "service/comm_test.h"

#include "core/number_fields.h"

namespace m32::service {
namespace {

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Up to two hex digits from the start of a pair; nothing when the first
// character is no hex digit or the pair is a "0x" prefix.
std::optional<uint8_t> ScanPair(char first, char second) {
  const int hi = HexDigitValue(first);
  if (hi < 0) return std::nullopt;
  if (first == '0' && (second == 'x' || second == 'X')) return std::nullopt;
  const int lo = HexDigitValue(second);
  if (lo < 0) return static_cast<uint8_t>(hi);
  return static_cast<uint8_t>(hi * 16 + lo);
}

void AppendHex(std::string& out, uint8_t b) {
  out.push_back(HexDigit(b >> 4u));
  out.push_back(HexDigit(b));
}

}  // namespace

SendBuffer ParseSendField(std::string_view text) {
  const std::string_view t = text.substr(0, kSendFieldChars);
  SendBuffer out;
  std::size_t i = 0;
  while (out.count < kSendMax && i < t.size()) {
    if (IsAsciiAlnum(t[i])) {
      if (i + 1 >= t.size()) break;  // a single trailing character is not used
      if (const auto value = ScanPair(t[i], t[i + 1])) {
        out.bytes[out.count++] = *value;
        ++i;
      }
    }
    ++i;
  }
  return out;
}

std::string CanonicalSendText(const SendBuffer& buffer, std::string_view text) {
  if (buffer.count == 0) return std::string(text.substr(0, kSendFieldChars));
  std::string out;
  out.reserve(3 * buffer.count);
  for (const uint8_t b : buffer.View()) {
    AppendHex(out, b);
    out.push_back(' ');
  }
  return out;
}

void ReceiveRing::Push(uint8_t b) {
  bytes_[position_] = b;
  position_ = static_cast<uint16_t>((position_ + 1) % kRingSize);
}

void ReceiveRing::Push(std::span<const uint8_t> bytes) {
  for (const uint8_t b : bytes) Push(b);
}

std::string ReceiveRing::Line() const {
  std::string line;
  line.reserve(kReceiveLineChars);
  for (std::size_t i = 0; i < kRingSize; ++i) {
    line.push_back(' ');
    if (i == position_) {
      line += "==";
    } else {
      AppendHex(line, bytes_[i]);
    }
  }
  line.push_back(' ');
  return line;
}

void CommTest::Activate() {
  reformat_ = true;
  ring_.ResetPosition();
}

std::optional<std::string> CommTest::SendBoxClick(bool send_ticked, std::string_view send_text) {
  reformat_ = true;
  if (send_ticked) return std::nullopt;
  return SendPart(send_text);
}

std::optional<std::string> CommTest::SendPart(std::string_view send_text) {
  send_ = ParseSendField(send_text);
  if (!reformat_) return std::nullopt;
  reformat_ = false;
  return CanonicalSendText(send_, send_text);
}

CommView CommTest::Step(serial::SerialDevice& port, bool send_ticked, bool receive_ticked,
                        std::string_view send_text) {
  CommView view;
  serial::QueueCounts counts;
  const bool counted = port.IsOpen() && port.Counts(counts);
  if (counted && receive_ticked && counts.rx > 0) {
    std::array<uint8_t, kRingSize> buf{};
    const std::size_t want = counts.rx < kRingSize ? counts.rx : kRingSize;
    std::size_t got = port.Read(std::span<uint8_t>(buf.data(), want));
    if (got > want) got = want;
    ring_.Push(std::span<const uint8_t>(buf.data(), got));
    view.receive_line = ring_.Line();
    view.unread = counts.rx > got ? static_cast<uint32_t>(counts.rx - got) : 0;
  }
  if (send_ticked) {
    view.send_text = SendPart(send_text);
    if (counted && counts.tx == 0 && send_.count != 0) port.Write(send_.View());
  }
  return view;
}

}  // namespace m32::service
