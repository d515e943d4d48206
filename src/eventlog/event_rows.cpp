#include "eventlog/event_rows.h"

#include <charconv>

#include "eventlog/csv.h"
#include "iopanel/io_channels.h"

namespace m32::eventlog {
namespace {

using link::LineEventKind;

// Small numbers as text without allocating.
class Number {
 public:
  explicit Number(int64_t v) { end_ = std::to_chars(buf_, buf_ + sizeof buf_, v).ptr; }
  std::string_view View() const { return {buf_, static_cast<std::size_t>(end_ - buf_)}; }

 private:
  char buf_[24];
  char* end_;
};

bool Bit(const std::array<uint8_t, 4>& bytes, int k) {
  return ((bytes[static_cast<std::size_t>(k / 8)] >> (k % 8)) & 1) != 0;
}

int AdValue(int16_t mode, const std::array<uint8_t, 4>& in) {
  if (mode == 1) return in[3];
  return static_cast<int16_t>(static_cast<uint16_t>(in[2] | (in[3] << 8)));
}

std::string_view BitText(bool on) {
  return on ? "1" : "0";
}

}  // namespace

const std::string& CsvHeader() {
  static const std::string header = [] {
    std::string h;
    AppendCsvRow(h, {"time", "monotonic_ms", "frame", "event", "channel", "old", "new", "detail"});
    return h;
  }();
  return header;
}

const char* EventName(LineEventKind kind) {
  switch (kind) {
    case LineEventKind::kOutputsSent:
      return "output";
    case LineEventKind::kInputsAccepted:
      return "input";
    case LineEventKind::kPortOpened:
      return "port_opened";
    case LineEventKind::kPortReopened:
      return "port_reopened";
    case LineEventKind::kPortClosed:
      return "port_closed";
    case LineEventKind::kLineSilent:
      return "line_silent";
    case LineEventKind::kFramesBack:
      return "frames_back";
    case LineEventKind::kFramesDropped:
      return "frames_dropped";
    case LineEventKind::kHangup:
      return "hangup";
    case LineEventKind::kPortTaken:
      return "port_taken";
    case LineEventKind::kPortReturned:
      return "port_returned";
    case LineEventKind::kCloseAllOff:
      return "close_all_off";
    case LineEventKind::kOutputsCleared:
      return "outputs_cleared";
  }
  return "unknown";
}

void RowFormatter::Row(std::string& out, const EventRecord& r, const char* event,
                       std::string_view channel, std::string_view old_value,
                       std::string_view new_value, std::string_view detail) {
  clock_.Append(out, r.unix_ms);
  out += ',';
  // Microseconds as milliseconds with three decimals.
  const int64_t us = r.since_open_us < 0 ? last_us_ : r.since_open_us;
  last_us_ = us;
  out += Number(us / 1000).View();
  out += '.';
  const auto frac = static_cast<int>(us % 1000);
  out += static_cast<char>('0' + frac / 100);
  out += static_cast<char>('0' + frac / 10 % 10);
  out += static_cast<char>('0' + frac % 10);
  out += ',';
  const bool numbered = r.event.kind == LineEventKind::kOutputsSent ||
                        r.event.kind == LineEventKind::kInputsAccepted ||
                        r.event.kind == LineEventKind::kCloseAllOff;
  if (numbered) out += Number(r.event.frame).View();
  out += ',';
  out += event;
  out += ',';
  out += channel;
  out += ',';
  out += old_value;
  out += ',';
  out += new_value;
  out += ',';
  AppendCsvField(out, detail);
  out += "\r\n";
}

void RowFormatter::Append(std::string& out, const EventRecord& r) {
  const link::LineEvent& e = r.event;
  const char* name = EventName(e.kind);
  char channel[8];
  switch (e.kind) {
    case LineEventKind::kOutputsSent:
      for (int k = 0; k < iopanel::kOutputs; ++k) {
        const bool was = Bit(e.old_bytes, k);
        const bool now = Bit(e.new_bytes, k);
        if (was == now) continue;
        const auto end = std::to_chars(channel + 3, channel + sizeof channel, k + 1).ptr;
        channel[0] = 'o', channel[1] = 'u', channel[2] = 't';
        Row(out, r, name, {channel, static_cast<std::size_t>(end - channel)}, BitText(was),
            BitText(now), {});
      }
      break;
    case LineEventKind::kInputsAccepted: {
      const int shown = iopanel::VisibleChannels(r.ad_mode) - iopanel::kOutputs;
      for (int k = 0; k < shown; ++k) {
        const bool was = Bit(e.old_bytes, k);
        const bool now = Bit(e.new_bytes, k);
        if (was == now) continue;
        const auto end = std::to_chars(channel + 2, channel + sizeof channel, k + 1).ptr;
        channel[0] = 'i', channel[1] = 'n';
        Row(out, r, name, {channel, static_cast<std::size_t>(end - channel)}, BitText(was),
            BitText(now), {});
      }
      if (r.ad_mode == 1 || r.ad_mode == 2) {
        const int was = AdValue(r.ad_mode, e.old_bytes);
        const int now = AdValue(r.ad_mode, e.new_bytes);
        if (was != now) Row(out, r, name, "adc", Number(was).View(), Number(now).View(), {});
      }
      break;
    }
    case LineEventKind::kFramesDropped:
      Row(out, r, name, {}, {}, {}, Number(e.count).View());
      break;
    default:
      Row(out, r, name, {}, {}, {}, e.detail);
      break;
  }
}

void RowFormatter::AppendLost(std::string& out, int64_t unix_ms, uint64_t count) {
  EventRecord r;
  r.unix_ms = unix_ms;
  r.since_open_us = -1;
  Row(out, r, "events_lost", {}, {}, {}, Number(static_cast<int64_t>(count)).View());
}

}  // namespace m32::eventlog
