#include "serial/tx_model.h"

#include <algorithm>

namespace m32::serial {

namespace {
// A bound on the modelled backlog, far beyond any driver buffer; keeps the
// arithmetic clear of overflow whatever the caller claims to have written.
constexpr std::chrono::nanoseconds kMaxBacklog = std::chrono::hours(24);
}  // namespace

uint32_t BitsPerChar(const LineSettings& line) {
  return 1U + line.data_bits + (line.parity == Parity::kNone ? 0U : 1U) + line.stop_bits;
}

std::chrono::nanoseconds CharTime(uint32_t baud, uint32_t bits_per_char) {
  if (baud == 0 || bits_per_char == 0) return std::chrono::nanoseconds(0);
  const uint64_t bit_ns = uint64_t{bits_per_char} * 1'000'000'000ULL;
  return std::chrono::nanoseconds(static_cast<int64_t>((bit_ns + baud - 1) / baud));
}

void TxModel::SetLine(uint32_t baud, uint32_t bits_per_char) {
  // Rounded up, so the model never declares the queue empty too early.
  char_time_ = serial::CharTime(baud, bits_per_char);
}

void TxModel::OnWrite(std::size_t n, TimePoint now) {
  if (n == 0 || char_time_.count() == 0) return;
  const TimePoint start = std::max(now, busy_until_);
  const auto room = kMaxBacklog - (start - now);
  const auto max_chars = static_cast<std::size_t>(std::max<int64_t>(room / char_time_, 0));
  busy_until_ = start + char_time_ * static_cast<int64_t>(std::min(n, max_chars));
}

uint32_t TxModel::Pending(TimePoint now) const {
  if (char_time_.count() == 0 || busy_until_ <= now) return 0;
  const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(busy_until_ - now);
  return static_cast<uint32_t>((left.count() + char_time_.count() - 1) / char_time_.count());
}

std::chrono::nanoseconds TxModel::TimeUntilEmpty(TimePoint now) const {
  if (busy_until_ <= now) return std::chrono::nanoseconds(0);
  return std::chrono::duration_cast<std::chrono::nanoseconds>(busy_until_ - now);
}

void TxModel::Reset() {
  busy_until_ = TimePoint{};
}

}  // namespace m32::serial
