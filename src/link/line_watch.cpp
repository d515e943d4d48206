#include "link/line_watch.h"

#include <utility>

namespace m32::link {

void LineHealth::Restart(LineClock::time_point now) {
  last_valid_.store(now.time_since_epoch().count());
  open_.store(true);
}

void LineHealth::Stop() {
  open_.store(false);
}

void LineHealth::ValidFrame(LineClock::time_point now) {
  last_valid_.store(now.time_since_epoch().count());
}

bool LineHealth::SilentAt(LineClock::time_point now) const {
  if (!open_.load()) return false;
  const LineClock::time_point last{LineClock::duration(last_valid_.load())};
  return now - last >= kSilenceLimit;
}

std::string LineFormatText(const std::string& device, const serial::LineSettings& line) {
  char parity = 'N';
  switch (line.parity) {
    case serial::Parity::kOdd:
      parity = 'O';
      break;
    case serial::Parity::kEven:
      parity = 'E';
      break;
    case serial::Parity::kMark:
      parity = 'M';
      break;
    case serial::Parity::kNone:
      break;
  }
  std::string text = device;
  text += ' ';
  text += std::to_string(line.baud);
  text += ' ';
  text += std::to_string(line.data_bits);
  text += parity;
  text += std::to_string(line.stop_bits);
  return text;
}

void LineWatch::Tell(LineEventKind kind, uint32_t frame, std::array<uint8_t, 4> old_bytes,
                     std::array<uint8_t, 4> new_bytes, uint32_t count, std::string detail) {
  if (sink_ == nullptr) return;
  LineEvent e;
  e.kind = kind;
  e.frame = frame;
  e.old_bytes = old_bytes;
  e.new_bytes = new_bytes;
  e.count = count;
  e.detail = std::move(detail);
  sink_->OnLineEvent(std::move(e));
}

void LineWatch::Opened(const std::string& device, const serial::LineSettings& line,
                       LineClock::time_point now) {
  frames_sent_ = 0;
  frames_received_ = 0;
  last_outputs_ = {};
  last_inputs_ = {};
  silent_told_ = false;
  hangup_told_ = false;
  hung_up_.store(false);
  answered_.store(false);
  drops_ = 0;
  last_drop_report_ = now;
  health_.Restart(now);
  Tell(opened_before_ ? LineEventKind::kPortReopened : LineEventKind::kPortOpened, 0, {}, {}, 0,
       LineFormatText(device, line));
  opened_before_ = true;
}

void LineWatch::Closed() {
  ReportDrops(LineClock::now(), true);
  health_.Stop();
  Tell(LineEventKind::kPortClosed, frames_sent_);
}

void LineWatch::Parked() {
  ReportDrops(LineClock::now(), true);
  health_.Stop();
  Tell(LineEventKind::kPortTaken, frames_sent_);
}

void LineWatch::Resumed(LineClock::time_point now) {
  // The frames the link sees next come after the service window's own
  // exchange: silence counts afresh.
  health_.Restart(now);
  silent_told_ = false;
  Tell(LineEventKind::kPortReturned, frames_sent_);
}

void LineWatch::ReportDrops(LineClock::time_point now, bool force) {
  if (drops_ == 0) return;
  if (!force && now - last_drop_report_ < kDropReportInterval) return;
  Tell(LineEventKind::kFramesDropped, frames_received_, {}, {}, drops_);
  drops_ = 0;
  last_drop_report_ = now;
}

void LineWatch::AfterStep(const StepOutcome& step, const LinkProtocol& protocol, bool hung_up,
                          LineClock::time_point now) {
  if (step.frame_written) {
    ++frames_sent_;
    std::array<uint8_t, 4> sent{};
    for (std::size_t i = 0; i < 4; ++i) sent[i] = protocol.SendFrame()[kDataOffset + i];
    if (sent != last_outputs_) {
      Tell(LineEventKind::kOutputsSent, frames_sent_, last_outputs_, sent);
      last_outputs_ = sent;
    }
    if (step.outputs_taken && closing_.load()) {
      Tell(LineEventKind::kCloseAllOff, frames_sent_, {}, sent);
    }
  }
  if (step.frame_bad) ++drops_;
  if (step.frame_valid) {
    ++frames_received_;
    health_.ValidFrame(now);
    answered_.store(true);
    if (silent_told_) {
      silent_told_ = false;
      Tell(LineEventKind::kFramesBack, frames_received_);
    }
    std::array<uint8_t, 4> got{};
    for (std::size_t i = 0; i < 4; ++i) got[i] = protocol.ReceiveFrame()[kDataOffset + i];
    if (got != last_inputs_) {
      Tell(LineEventKind::kInputsAccepted, frames_received_, last_inputs_, got);
      last_inputs_ = got;
    }
  }
  ReportDrops(now, false);
  if (hung_up && !hangup_told_) {
    hangup_told_ = true;
    hung_up_.store(true);
    Tell(LineEventKind::kHangup, frames_received_);
  }
  if (!silent_told_ && health_.SilentAt(now)) {
    silent_told_ = true;
    Tell(LineEventKind::kLineSilent, frames_received_);
  }
}

}  // namespace m32::link
