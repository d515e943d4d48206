// An in-memory serial device for the service tests: bytes put into `rx` are
// waiting to be read, written bytes collect in `written`, `tx_pending` is the
// transmit queue count the device reports.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "serial/serial_device.h"

namespace m32::service::testing {

class FakeSerial final : public serial::SerialDevice {
 public:
  bool open = true;
  bool counts_ok = true;
  bool modem_ok = true;
  uint32_t tx_pending = 0;
  serial::ModemLines modem;
  std::deque<uint8_t> rx;
  std::vector<uint8_t> written;
  int counts_calls = 0;
  int read_calls = 0;
  int write_calls = 0;
  int purge_calls = 0;

  void Receive(std::initializer_list<uint8_t> bytes) { rx.insert(rx.end(), bytes); }

  serial::OpenResult Open(const std::string&) override {
    open = true;
    return serial::OpenResult::kOk;
  }
  bool IsOpen() const override { return open; }
  bool Configure(const serial::LineSettings&) override { return open; }
  void Close() override { open = false; }
  bool Counts(serial::QueueCounts& out) override {
    ++counts_calls;
    if (!open || !counts_ok) return false;
    out.rx = static_cast<uint32_t>(rx.size());
    out.tx = tx_pending;
    return true;
  }
  std::size_t Read(std::span<uint8_t> buf) override {
    ++read_calls;
    if (!open) return 0;
    const std::size_t n = std::min(buf.size(), rx.size());
    for (std::size_t i = 0; i < n; ++i) {
      buf[i] = rx.front();
      rx.pop_front();
    }
    return n;
  }
  std::size_t Write(std::span<const uint8_t> bytes) override {
    ++write_calls;
    if (!open) return 0;
    written.insert(written.end(), bytes.begin(), bytes.end());
    return bytes.size();
  }
  void Purge() override {
    ++purge_calls;
    rx.clear();
    tx_pending = 0;
  }
  bool Modem(serial::ModemLines& out) override {
    if (!open || !modem_ok) return false;
    out = modem;
    return true;
  }
  // Returns at once: a quiet line whose wait has timed out.
  unsigned Wait(std::chrono::milliseconds) override {
    return open ? serial::kTimeout : serial::kNotOpen;
  }
  void Wake() override {}
};

}  // namespace m32::service::testing
