// The communication test's send field on any text, and its refresh step on
// a line that brings the same bytes back.
//
// Input: byte 0 holds option bits (bit 0 the receive box ticked, bit 1 the
// transmit queue busy); the rest is the text of the send field.
//
// Checks, beyond the sanitizers:
//  - at most 32 bytes are parsed, and only the first 120 characters count;
//  - the rewritten field: "XX " per byte in upper-case hex, or the first 120
//    characters unchanged when no byte was parsed; it parses back to the
//    same bytes and rewrites to itself;
//  - one refresh step rewrites the field once, writes at most one block of at
//    most 32 bytes (the parsed bytes, nothing when there are none or the
//    queue is busy), and shows a 97-character receive line holding the last
//    bytes received.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "service/comm_test.h"

namespace {

using m32::fuzz::Check;
using m32::service::CanonicalSendText;
using m32::service::ParseSendField;
using m32::service::SendBuffer;

bool SameBytes(const SendBuffer& a, const SendBuffer& b) {
  return a.count == b.count && std::equal(a.View().begin(), a.View().end(), b.View().begin());
}

bool CanonicalForm(std::string_view s) {
  constexpr std::string_view kHex = "0123456789ABCDEF";
  if (s.size() % 3 != 0) return false;
  for (std::size_t i = 0; i < s.size(); i += 3) {
    if (kHex.find(s[i]) == std::string_view::npos ||
        kHex.find(s[i + 1]) == std::string_view::npos || s[i + 2] != ' ') {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool receive = (data[0] & 1U) != 0;
  const bool tx_busy = (data[0] & 2U) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const SendBuffer parsed = ParseSendField(text);
  Check(parsed.count <= m32::service::kSendMax, "more than 32 bytes parsed");
  Check(SameBytes(parsed, ParseSendField(text.substr(0, m32::service::kSendFieldChars))),
        "characters past the 120th changed the bytes");
  const std::string canonical = CanonicalSendText(parsed, text);
  if (parsed.count > 0) {
    Check(canonical.size() == 3U * parsed.count && CanonicalForm(canonical),
          "the rewritten field is not \"XX \" per byte");
  } else {
    Check(canonical == text.substr(0, m32::service::kSendFieldChars),
          "a field without bytes was not kept as it was");
  }
  const SendBuffer reparsed = ParseSendField(canonical);
  Check(SameBytes(parsed, reparsed), "the rewritten field parses to other bytes");
  Check(CanonicalSendText(reparsed, canonical) == canonical, "rewriting is not idempotent");

  // The refresh step on a line that brings the field's text back.
  m32::fuzz::MemoryLine line;
  line.SetTxBusy(tx_busy);
  line.Arrive(std::span<const uint8_t>(data + 1, size - 1));
  m32::service::CommTest test;
  test.Activate();
  test.StartWorker();
  const m32::service::CommView view = test.Step(line, true, receive, text);
  Check(view.send_text.has_value() && *view.send_text == canonical,
        "the first step after activation did not rewrite the field");
  Check(line.Writes().size() <= 1, "more than one write in a step");
  if (!line.Writes().empty()) {
    const std::vector<uint8_t>& w = line.Writes().front();
    Check(w.size() <= m32::service::kSendMax, "more than 32 bytes written");
    Check(!tx_busy && w.size() == parsed.count &&
              std::equal(w.begin(), w.end(), parsed.bytes.begin()),
          "the bytes written are not the parsed bytes");
  } else {
    Check(tx_busy || parsed.count == 0, "the parsed bytes were not written");
  }
  if (receive && size > 1) {
    Check(view.receive_line.has_value() && view.receive_line->size() == 97,
          "the receive line is not 97 characters");
    const std::vector<uint8_t>& got = line.Delivered();
    Check(!got.empty() && got.size() <= m32::service::kRingSize, "the step read too much");
    const auto& ring = test.Ring().Bytes();
    Check(std::equal(got.begin(), got.end(), ring.begin()),
          "the ring does not hold the bytes read");
    Check(test.Ring().Position() == got.size() % m32::service::kRingSize,
          "the ring position is not past the last byte");
  } else {
    Check(!view.receive_line.has_value() && line.Delivered().empty(),
          "bytes were read with the receive box unticked");
  }
  const m32::service::CommView second = test.Step(line, true, false, text);
  Check(!second.send_text.has_value(), "the field was rewritten twice");
  return 0;
}
