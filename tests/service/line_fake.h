// A thread-safe in-memory serial line for the window tests: the link, the
// test window's worker and the test itself may all touch it.
//  - Wait() sleeps up to its time-out, ending early on Wake() or on new
//    received bytes (and at once with kNotOpen when closed).
//  - Loopback mode puts every written byte back into the receive queue.
//  - tx_pending is the transmit queue count Counts() reports (0: drained).
//  - `concurrent` counts calls that overlapped another call in progress:
//    two threads using the port at the same time.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "serial/serial_device.h"

namespace m32::service::testing {

class LineFake final : public serial::SerialDevice {
 public:
  using Bytes = std::vector<uint8_t>;

  void SetLoopback(bool on) {
    std::lock_guard<std::mutex> lock(m_);
    loopback_ = on;
  }
  void SetTxPending(uint32_t n) {
    std::lock_guard<std::mutex> lock(m_);
    tx_pending_ = n;
  }
  void SetModem(const serial::ModemLines& lines) {
    std::lock_guard<std::mutex> lock(m_);
    modem_ = lines;
  }
  void Feed(const Bytes& bytes) {
    {
      std::lock_guard<std::mutex> lock(m_);
      rx_.insert(rx_.end(), bytes.begin(), bytes.end());
      rx_event_ = true;
    }
    cv_.notify_all();
  }
  std::vector<Bytes> Writes() const {
    std::lock_guard<std::mutex> lock(m_);
    return writes_;
  }
  // Writes of `size` bytes starting with `a`, `b` (a LinkFrame: 8, A2 6B).
  int CountWrites(std::size_t size, uint8_t a, uint8_t b) const {
    std::lock_guard<std::mutex> lock(m_);
    return static_cast<int>(std::count_if(writes_.begin(), writes_.end(), [&](const Bytes& w) {
      return w.size() == size && w[0] == a && w[1] == b;
    }));
  }
  int Purges() const { return purges_.load(); }
  int Concurrent() const { return concurrent_.load(); }

  serial::OpenResult Open(const std::string&) override {
    std::lock_guard<std::mutex> lock(m_);
    open_ = true;
    return serial::OpenResult::kOk;
  }
  bool IsOpen() const override {
    std::lock_guard<std::mutex> lock(m_);
    return open_;
  }
  bool Configure(const serial::LineSettings&) override { return true; }
  void Close() override {
    Use use(*this);
    std::lock_guard<std::mutex> lock(m_);
    open_ = false;
  }
  bool Counts(serial::QueueCounts& out) override {
    Use use(*this);
    std::lock_guard<std::mutex> lock(m_);
    if (!open_) return false;
    out.rx = static_cast<uint32_t>(rx_.size());
    out.tx = tx_pending_;
    return true;
  }
  std::size_t Read(std::span<uint8_t> buf) override {
    Use use(*this);
    std::lock_guard<std::mutex> lock(m_);
    const std::size_t n = std::min(buf.size(), rx_.size());
    for (std::size_t i = 0; i < n; ++i) {
      buf[i] = rx_.front();
      rx_.pop_front();
    }
    return n;
  }
  std::size_t Write(std::span<const uint8_t> bytes) override {
    Use use(*this);
    {
      std::lock_guard<std::mutex> lock(m_);
      if (!open_) return 0;
      writes_.emplace_back(bytes.begin(), bytes.end());
      if (loopback_) {
        rx_.insert(rx_.end(), bytes.begin(), bytes.end());
        rx_event_ = true;
      }
      tx_event_ = true;
    }
    cv_.notify_all();
    return bytes.size();
  }
  void Purge() override {
    Use use(*this);
    ++purges_;
    std::lock_guard<std::mutex> lock(m_);
    rx_.clear();
  }
  bool Modem(serial::ModemLines& out) override {
    Use use(*this);
    std::lock_guard<std::mutex> lock(m_);
    out = modem_;
    return open_;
  }
  unsigned Wait(std::chrono::milliseconds timeout) override {
    Use use(*this);
    std::unique_lock<std::mutex> lock(m_);
    if (!open_) {
      cv_.wait_for(lock, timeout, [this] { return wake_; });
      wake_ = false;
      return serial::kNotOpen;
    }
    cv_.wait_for(lock, timeout, [this] { return wake_ || rx_event_ || tx_event_; });
    unsigned events = serial::kTimeout;
    if (wake_) events |= serial::kWoken;
    if (rx_event_) events |= serial::kRxChar;
    if (tx_event_ && tx_pending_ == 0) events |= serial::kTxEmpty;
    wake_ = rx_event_ = tx_event_ = false;
    return events;
  }
  void Wake() override {
    {
      std::lock_guard<std::mutex> lock(m_);
      wake_ = true;
    }
    cv_.notify_all();
  }

 private:
  // Marks a call in progress; a second one at the same time is counted.
  struct Use {
    explicit Use(LineFake& f) : fake(f) {
      if (fake.in_use_.fetch_add(1) != 0) ++fake.concurrent_;
    }
    ~Use() { fake.in_use_.fetch_sub(1); }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    LineFake& fake;
  };

  mutable std::mutex m_;
  std::condition_variable cv_;
  bool open_ = false;
  bool loopback_ = false;
  uint32_t tx_pending_ = 0;
  bool wake_ = false;
  bool rx_event_ = false;
  bool tx_event_ = false;
  serial::ModemLines modem_;
  std::deque<uint8_t> rx_;
  std::vector<Bytes> writes_;
  std::atomic<int> in_use_{0};
  std::atomic<int> concurrent_{0};
  std::atomic<int> purges_{0};
};

}  // namespace m32::service::testing
