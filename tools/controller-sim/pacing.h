// Character timing of a UART line, and the two paced queues that make the
// pseudo-terminal behave like one: received bytes are handed on no faster
// than they could cross the line, sent bytes leave no faster than that.
// Times are nanoseconds on any steady clock; nothing here reads a clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace m32::sim {

enum class Parity : uint8_t { kNone, kOdd, kEven, kMark, kSpace };

struct CharFormat {
  uint8_t data_bits = 8;  // 5..8
  Parity parity = Parity::kNone;
  uint8_t stop_bits = 1;  // 1 or 2
};

// "8E1", "7O2", "8N1", "8M1", "8S1" (case-insensitive). Empty on bad text.
std::optional<CharFormat> ParseCharFormat(const std::string& text);
std::string FormatCharFormat(const CharFormat& f);

// 1 start bit + data bits + parity bit (if any) + stop bits.
unsigned BitsPerChar(const CharFormat& f);
double CharsPerSecond(uint32_t baud, const CharFormat& f);
// Time one character occupies the line, rounded to the nearest nanosecond;
// 0 when baud is 0 (no pacing).
int64_t CharTimeNs(uint32_t baud, const CharFormat& f);

// Bytes waiting to be sent, each released when its last bit would have left
// the line. A chunk may ask for an idle gap before it (a frame sent in pieces).
class PacedOutput {
 public:
  struct Chunk {
    std::vector<uint8_t> bytes;
    std::string tag;             // log tag for the chunk when complete; empty: not logged
    std::vector<uint8_t> whole;  // bytes to log (a split frame logs whole at its last piece)
  };

  void SetCharTime(int64_t char_ns) { char_ns_ = char_ns; }
  int64_t CharTime() const { return char_ns_; }
  void Enqueue(Chunk chunk, int64_t now, int64_t gap_ns = 0);
  // Appends to `out` every byte due by `now`; completed chunks go to `done`.
  void Take(int64_t now, std::vector<uint8_t>& out, std::vector<Chunk>& done);
  // When the next byte is due; empty when nothing is queued.
  std::optional<int64_t> NextDue() const;
  std::size_t Backlog() const;
  void Clear();

 private:
  struct Entry {
    Chunk chunk;
    int64_t start = 0;
    std::size_t pos = 0;
  };
  int64_t char_ns_ = 0;
  int64_t queue_end_ = 0;
  std::deque<Entry> q_;
};

// Bytes read from the pseudo-terminal, released to the receiver at the rate
// they would arrive on the line: the first one char time after it was read,
// each following one a char time later.
class PacedInput {
 public:
  void SetCharTime(int64_t char_ns) { char_ns_ = char_ns; }
  void Add(std::span<const uint8_t> bytes, int64_t now);
  void Take(int64_t now, std::vector<uint8_t>& out);
  std::optional<int64_t> NextDue() const;
  std::size_t Pending() const { return q_.size(); }
  void Clear();

 private:
  struct Byte {
    uint8_t value;
    int64_t due;
  };
  int64_t char_ns_ = 0;
  int64_t clock_ = 0;
  std::deque<Byte> q_;
};

}  // namespace m32::sim
