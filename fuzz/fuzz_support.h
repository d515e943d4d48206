// Helpers shared by the fuzz targets: a failed check, a process-wide scratch
// folder for the targets that go through files, a UTF-8 checker and an
// in-memory serial line that records what the code under test does with it.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/code_page.h"
#include "serial/serial_device.h"

namespace m32::fuzz {

// A broken invariant: print what broke and stop, so that libFuzzer keeps the
// input as a crash.
[[noreturn]] inline void Fail(const char* what) {
  (void)std::fprintf(stderr, "invariant broken: %s\n", what);
  (void)std::fflush(stderr);
  __builtin_trap();
}

inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// One folder per process under the system's temporary folder (TMPDIR), made at
// the first use and removed when the process ends normally. Every file a target
// writes lies inside it.
class ScratchFolder {
 public:
  static const std::filesystem::path& Path() {
    static ScratchFolder folder;
    return folder.path_;
  }

 private:
  ScratchFolder() {
    std::error_code ec;
    std::string tmpl = (std::filesystem::temp_directory_path(ec) / "m32fuzzXXXXXX").string();
    if (ec || ::mkdtemp(tmpl.data()) == nullptr) Fail("cannot make a scratch folder");
    path_ = tmpl;
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::filesystem::path path_;
};

// Well-formed UTF-8: the sequences as the library reads them, and none of
// them overlong, a surrogate or beyond U+10FFFF.
inline bool ValidUtf8(std::string_view s) {
  while (!s.empty()) {
    const core::Utf8Char c = core::ReadUtf8(s);
    if (c.length == 0) return false;
    const char32_t min = c.length == 1 ? 0 : c.length == 2 ? 0x80 : c.length == 3 ? 0x800 : 0x10000;
    if (c.cp < min || c.cp > 0x10FFFF || (c.cp >= 0xD800 && c.cp <= 0xDFFF)) return false;
    s.remove_prefix(c.length);
  }
  return true;
}

// A serial line in memory, single-threaded. Bytes "arrive" with Arrive(); the
// code under test sees them in Counts() and takes them with Read(). It records
// every byte handed out (Delivered()) and every write, and checks that no read
// asks for more than the last Counts() reported as waiting minus what has been
// read since, which is what keeps a real read from blocking.
class MemoryLine final : public serial::SerialDevice {
 public:
  void Arrive(std::span<const uint8_t> bytes) {
    if (head_ == rx_.size()) {
      rx_.clear();
      head_ = 0;
    }
    rx_.insert(rx_.end(), bytes.begin(), bytes.end());
  }
  void SetTxBusy(bool busy) { tx_busy_ = busy; }
  // The next read hands out one byte less than asked for (the byte is lost).
  void LoseOnNextRead() { lose_next_ = true; }
  void SetCountsFail(bool fail) { counts_fail_ = fail; }

  std::size_t Queued() const { return rx_.size() - head_; }
  const std::vector<uint8_t>& Delivered() const { return delivered_; }
  std::span<const std::vector<uint8_t>> Writes() const { return {writes_.data(), write_count_}; }
  // Forgets the writes so far (keeping their buffers: the harnesses call this
  // at every step, and allocations are most of a step's cost under ASan).
  void ClearWrites() { write_count_ = 0; }

  serial::OpenResult Open(const std::string& /*path*/) override { return serial::OpenResult::kOk; }
  bool IsOpen() const override { return true; }
  bool Configure(const serial::LineSettings& /*line*/) override { return true; }
  void Close() override {}

  bool Counts(serial::QueueCounts& out) override {
    if (counts_fail_) return false;
    out.rx = static_cast<uint32_t>(Queued());
    out.tx = tx_busy_ ? 8U : 0U;
    readable_ = Queued();
    return true;
  }

  std::size_t Read(std::span<uint8_t> buf) override {
    Check(buf.size() <= readable_, "a read asked for more bytes than were reported waiting");
    readable_ -= buf.size();
    std::size_t n = std::min(buf.size(), Queued());
    if (lose_next_ && n > 0) {
      lose_next_ = false;
      ++head_;  // gone on the line
      --n;
    }
    for (std::size_t i = 0; i < n; ++i) {
      buf[i] = rx_[head_];
      delivered_.push_back(rx_[head_]);
      ++head_;
    }
    return n;
  }

  std::size_t Write(std::span<const uint8_t> bytes) override {
    if (write_count_ == writes_.size()) writes_.emplace_back();
    writes_[write_count_++].assign(bytes.begin(), bytes.end());
    return bytes.size();
  }
  void Purge() override {
    rx_.clear();
    head_ = 0;
  }
  bool Modem(serial::ModemLines& out) override {
    out = {};
    return false;
  }
  unsigned Wait(std::chrono::milliseconds /*timeout*/) override { return serial::kTimeout; }
  void Wake() override {}

 private:
  std::vector<uint8_t> rx_;  // bytes from head_ on are still waiting
  std::size_t head_ = 0;
  std::vector<uint8_t> delivered_;
  std::vector<std::vector<uint8_t>> writes_;
  std::size_t write_count_ = 0;
  std::size_t readable_ = 0;
  bool tx_busy_ = false;
  bool lose_next_ = false;
  bool counts_fail_ = false;
};

}  // namespace m32::fuzz
