// An in-memory SerialDevice for tests of everything that talks to the port.
//
//  - Receive side: Feed() queues bytes at once; Arrivals() scripts what comes
//    in before each step (every Counts() call first appends the next chunk).
//  - Transmit side: SetTxCount() sets the count Counts() reports; every
//    Write() is recorded whole; SetFull() makes the queue full (writes
//    refused: nothing taken, nothing recorded) until the next Purge(), or for
//    good with `even_purged`.
//  - Failures: SetCountsFail() (closed or vanished port), SetHungUp() (every
//    wait also reports kHangup, every write is refused), SetOpenResult(),
//    SetConfigureOk(), SetReadShortBy() (a read that loses bytes), SetModem()
//    with ok false.
//  - Waits: Wait() sleeps up to its time-out and ends early on Wake(), on
//    Feed() or at once when not open. SetWaitIgnoresTimeout() makes it block
//    until woken, to prove that something does wake it.
//  - Calls(): how often each operation ran; `port_calls` counts every call
//    but Wake(), i.e. every use of the port; `closed_use` the uses of a
//    closed port (a link that outlives its port).
//
// All methods are safe from any thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "serial/serial_device.h"

namespace m32::test_support {

class FakeSerialDevice final : public serial::SerialDevice {
 public:
  using Bytes = std::vector<uint8_t>;

  struct CallCounts {
    int open = 0, configure = 0, close = 0, counts = 0, read = 0, write = 0, purge = 0, modem = 0,
        wait = 0, wake = 0;
    int port_calls = 0;
    int closed_use = 0;  // Counts/Read/Write/Purge/Modem/Wait while closed
  };

  explicit FakeSerialDevice(bool open = true) : open_(open) {}

  // --- scripting ---------------------------------------------------------
  void Feed(std::span<const uint8_t> bytes) {
    {
      std::lock_guard<std::mutex> lock(m_);
      rx_.insert(rx_.end(), bytes.begin(), bytes.end());
      rx_event_ = true;
    }
    cv_.notify_all();
  }
  void Feed(std::initializer_list<uint8_t> bytes) {
    Feed(std::span<const uint8_t>(bytes.begin(), bytes.size()));
  }
  // Chunks that arrive one by one, each just before a Counts() call.
  void Arrivals(std::vector<Bytes> chunks) {
    std::lock_guard<std::mutex> lock(m_);
    for (auto& c : chunks) arrivals_.push_back(std::move(c));
  }
  void SetTxCount(uint32_t n) { Set(tx_count_, n); }
  void SetFull(bool full, bool even_purged = false) {
    std::lock_guard<std::mutex> lock(m_);
    full_ = full;
    full_even_purged_ = even_purged;
  }
  void SetCountsFail(bool fail) { Set(counts_fail_, fail); }
  void SetHungUp(bool hung_up) { Set(hung_up_, hung_up); }
  void SetOpenResult(serial::OpenResult r) { Set(open_result_, r); }
  void SetConfigureOk(bool ok) { Set(configure_ok_, ok); }
  void SetReadShortBy(std::size_t n) { Set(read_short_by_, n); }
  // What Modem() reports; `ok` false makes it fail (a driver without them).
  void SetModem(const serial::ModemLines& lines, bool ok = true) {
    std::lock_guard<std::mutex> lock(m_);
    modem_ = lines;
    modem_ok_ = ok;
  }
  void SetWaitIgnoresTimeout(bool on) { Set(wait_ignores_timeout_, on); }

  // --- inspection ----------------------------------------------------------
  std::vector<Bytes> Writes() const { return Get(writes_); }
  // Every byte written so far, in order.
  Bytes Written() const {
    Bytes all;
    for (const Bytes& w : Writes()) all.insert(all.end(), w.begin(), w.end());
    return all;
  }
  Bytes LastWrite() const {
    const std::vector<Bytes> w = Writes();
    return w.empty() ? Bytes{} : w.back();
  }
  std::size_t RxLeft() const { return Get(rx_).size(); }
  CallCounts Calls() const { return Get(calls_); }
  std::vector<std::string> OpenedPaths() const { return Get(opened_); }
  std::vector<serial::LineSettings> Configured() const { return Get(configured_); }

  // --- SerialDevice ----------------------------------------------------------
  serial::OpenResult Open(const std::string& path) override {
    std::lock_guard<std::mutex> lock(m_);
    Count(calls_.open);
    opened_.push_back(path);
    if (open_result_ == serial::OpenResult::kOk) open_ = true;
    return open_result_;
  }
  bool IsOpen() const override { return Get(open_); }
  bool Configure(const serial::LineSettings& line) override {
    std::lock_guard<std::mutex> lock(m_);
    Count(calls_.configure);
    configured_.push_back(line);
    return configure_ok_;
  }
  void Close() override {
    std::lock_guard<std::mutex> lock(m_);
    Count(calls_.close);
    open_ = false;
  }
  bool Counts(serial::QueueCounts& out) override {
    std::lock_guard<std::mutex> lock(m_);
    Use(calls_.counts);
    if (counts_fail_ || !open_) return false;
    if (!arrivals_.empty()) {
      rx_.insert(rx_.end(), arrivals_.front().begin(), arrivals_.front().end());
      arrivals_.pop_front();
    }
    out.rx = static_cast<uint32_t>(rx_.size());
    out.tx = tx_count_;
    return true;
  }
  std::size_t Read(std::span<uint8_t> buf) override {
    std::lock_guard<std::mutex> lock(m_);
    Use(calls_.read);
    std::size_t n = std::min(buf.size(), rx_.size());
    const std::size_t lost = std::min(n, read_short_by_);
    for (std::size_t i = 0; i < n; ++i) {
      if (i < n - lost) buf[i] = rx_.front();
      rx_.pop_front();
    }
    return n - lost;
  }
  std::size_t Write(std::span<const uint8_t> bytes) override {
    std::lock_guard<std::mutex> lock(m_);
    Use(calls_.write);
    if (full_ || hung_up_) return 0;
    writes_.emplace_back(bytes.begin(), bytes.end());
    return bytes.size();
  }
  void Purge() override {
    std::lock_guard<std::mutex> lock(m_);
    Use(calls_.purge);
    rx_.clear();
    tx_count_ = 0;
    full_ = full_even_purged_;
  }
  bool Modem(serial::ModemLines& out) override {
    std::lock_guard<std::mutex> lock(m_);
    Use(calls_.modem);
    out = modem_;
    return open_ && modem_ok_;
  }
  unsigned Wait(std::chrono::milliseconds timeout) override {
    std::unique_lock<std::mutex> lock(m_);
    Use(calls_.wait);
    if (!open_) return serial::kNotOpen;
    auto ready = [this] { return wake_ || rx_event_; };
    if (wait_ignores_timeout_) {
      cv_.wait(lock, ready);
    } else {
      cv_.wait_for(lock, timeout, ready);
    }
    const unsigned events = (wake_ ? serial::kWoken : 0U) | (rx_event_ ? serial::kRxChar : 0U) |
                            (hung_up_ ? serial::kHangup : 0U);
    wake_ = false;
    rx_event_ = false;
    return events;
  }
  void Wake() override {
    {
      std::lock_guard<std::mutex> lock(m_);
      ++calls_.wake;
      wake_ = true;
    }
    cv_.notify_all();
  }

 private:
  // Reads or sets one member under the lock.
  template <typename T>
  T Get(const T& member) const {
    std::lock_guard<std::mutex> lock(m_);
    return member;
  }
  template <typename T>
  void Set(T& member, const T& value) {
    std::lock_guard<std::mutex> lock(m_);
    member = value;
  }
  void Count(int& c) {
    ++c;
    ++calls_.port_calls;
  }
  void Use(int& c) {
    Count(c);
    if (!open_) ++calls_.closed_use;
  }

  mutable std::mutex m_;
  std::condition_variable cv_;
  bool open_;
  std::deque<uint8_t> rx_;
  std::deque<Bytes> arrivals_;
  bool full_ = false;
  bool full_even_purged_ = false;
  uint32_t tx_count_ = 0;
  bool counts_fail_ = false;
  bool hung_up_ = false;
  serial::OpenResult open_result_ = serial::OpenResult::kOk;
  bool configure_ok_ = true;
  std::size_t read_short_by_ = 0;
  bool wait_ignores_timeout_ = false;
  bool wake_ = false;
  bool rx_event_ = false;
  serial::ModemLines modem_;
  bool modem_ok_ = true;
  std::vector<Bytes> writes_;
  std::vector<std::string> opened_;
  std::vector<serial::LineSettings> configured_;
  CallCounts calls_;
};

}  // namespace m32::test_support
