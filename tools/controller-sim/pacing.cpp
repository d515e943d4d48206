#include "pacing.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace m32::sim {

std::optional<CharFormat> ParseCharFormat(const std::string& text) {
  if (text.size() != 3) return std::nullopt;
  CharFormat f;
  if (text[0] < '5' || text[0] > '8') return std::nullopt;
  f.data_bits = static_cast<uint8_t>(text[0] - '0');
  switch (std::toupper(static_cast<unsigned char>(text[1]))) {
    case 'N':
      f.parity = Parity::kNone;
      break;
    case 'O':
      f.parity = Parity::kOdd;
      break;
    case 'E':
      f.parity = Parity::kEven;
      break;
    case 'M':
      f.parity = Parity::kMark;
      break;
    case 'S':
      f.parity = Parity::kSpace;
      break;
    default:
      return std::nullopt;
  }
  if (text[2] != '1' && text[2] != '2') return std::nullopt;
  f.stop_bits = static_cast<uint8_t>(text[2] - '0');
  return f;
}

std::string FormatCharFormat(const CharFormat& f) {
  static constexpr char kParity[] = {'N', 'O', 'E', 'M', 'S'};
  std::string s;
  s += static_cast<char>('0' + f.data_bits);
  s += kParity[static_cast<unsigned>(f.parity)];
  s += static_cast<char>('0' + f.stop_bits);
  return s;
}

unsigned BitsPerChar(const CharFormat& f) {
  return 1U + f.data_bits + (f.parity == Parity::kNone ? 0U : 1U) + f.stop_bits;
}

double CharsPerSecond(uint32_t baud, const CharFormat& f) {
  return static_cast<double>(baud) / static_cast<double>(BitsPerChar(f));
}

int64_t CharTimeNs(uint32_t baud, const CharFormat& f) {
  if (baud == 0) return 0;
  return std::llround(1e9 * static_cast<double>(BitsPerChar(f)) / static_cast<double>(baud));
}

void PacedOutput::Enqueue(Chunk chunk, int64_t now, int64_t gap_ns) {
  if (chunk.bytes.empty()) return;
  Entry e;
  e.start = std::max(queue_end_, now) + gap_ns;
  queue_end_ = e.start + static_cast<int64_t>(chunk.bytes.size()) * char_ns_;
  e.chunk = std::move(chunk);
  q_.push_back(std::move(e));
}

void PacedOutput::Take(int64_t now, std::vector<uint8_t>& out, std::vector<Chunk>& done) {
  while (!q_.empty()) {
    Entry& e = q_.front();
    const auto n = e.chunk.bytes.size();
    while (e.pos < n && e.start + static_cast<int64_t>(e.pos + 1) * char_ns_ <= now) {
      out.push_back(e.chunk.bytes[e.pos++]);
    }
    if (e.pos < n) return;
    done.push_back(std::move(e.chunk));
    q_.pop_front();
  }
}

std::optional<int64_t> PacedOutput::NextDue() const {
  if (q_.empty()) return std::nullopt;
  const Entry& e = q_.front();
  return e.start + static_cast<int64_t>(e.pos + 1) * char_ns_;
}

std::size_t PacedOutput::Backlog() const {
  std::size_t n = 0;
  for (const Entry& e : q_) n += e.chunk.bytes.size() - e.pos;
  return n;
}

void PacedOutput::Clear() {
  q_.clear();
  queue_end_ = 0;
}

void PacedInput::Add(std::span<const uint8_t> bytes, int64_t now) {
  clock_ = std::max(clock_, now);
  for (uint8_t b : bytes) {
    clock_ += char_ns_;
    q_.push_back({b, clock_});
  }
}

void PacedInput::Take(int64_t now, std::vector<uint8_t>& out) {
  while (!q_.empty() && q_.front().due <= now) {
    out.push_back(q_.front().value);
    q_.pop_front();
  }
}

std::optional<int64_t> PacedInput::NextDue() const {
  if (q_.empty()) return std::nullopt;
  return q_.front().due;
}

void PacedInput::Clear() {
  q_.clear();
  clock_ = 0;
}

}  // namespace m32::sim
