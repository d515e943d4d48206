// The lighting test's reply parser on any stream of bytes from the line,
// arriving in any grouping.
//
// Input layout:
//   byte 0        bit 7: reply mode (see below); bits 0-4: c - 1, the number
//                 of control bytes
//   bytes 1..c    control bytes, used in turn, one per pass:
//                   bits 0-3 bytes that arrive before the pass (0..15)
//                   bit 4    the pass is told of more bytes than are there
//                            (a driver whose count and read disagree)
//                   bit 5    the parser is reset before the pass (the window
//                            was activated again)
//   the rest      the bytes on the line; in reply mode every 3 bytes are the
//                 data of one valid reply, which the harness builds
//
// Checks after every pass, beyond the sanitizers:
//  - a pass takes at most 6 bytes and no more than it was told are waiting
//    (when told the truth); the state is 0..2;
//  - kValid only when the last 6 bytes taken are A2 68 .. .. .. FE summing to
//    0 and Reply() holds them; a reply read whole but reported kInvalid is not
//    valid; after kValid or kInvalid the parser looks for A2 again;
//  - reply mode, told the truth and never reset: every reply is found valid,
//    in order.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_support.h"
#include "service/brightness.h"

namespace {

using m32::fuzz::Check;
using m32::service::BrightnessReplyParser;
using m32::service::ReplyBytes;

bool ValidReply(std::span<const uint8_t> r) {
  unsigned sum = 0;
  for (const uint8_t b : r) sum += b;
  return r.size() == 6 && r[0] == 0xA2 && r[1] == 0x68 && r[5] == 0xFE && (sum & 0xFFU) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool reply_mode = (data[0] & 0x80U) != 0;
  const std::size_t controls = (data[0] & 0x1FU) + 1U;
  if (size < 1 + controls) return 0;
  const std::span<const uint8_t> control(data + 1, controls);
  const std::span<const uint8_t> rest(data + 1 + controls, size - 1 - controls);

  std::vector<uint8_t> stream;
  std::vector<ReplyBytes> sent;
  if (reply_mode) {
    for (std::size_t i = 0; i + 3 <= rest.size(); i += 3) {
      ReplyBytes r{0xA2, 0x68, rest[i], rest[i + 1], rest[i + 2], 0xFE};
      unsigned sum = 0;
      for (const uint8_t b : r) sum += b;
      r[4] = static_cast<uint8_t>(r[4] + (0x100U - (sum & 0xFFU)));
      stream.insert(stream.end(), r.begin(), r.end());
      sent.push_back(r);
    }
  } else {
    stream.assign(rest.begin(), rest.end());
  }

  // The source holds every byte of the stream; `arrived` says how many have
  // reached the driver so far, and a pass is told of those not yet read.
  m32::service::SpanByteSource source(stream);
  BrightnessReplyParser parser;
  std::vector<ReplyBytes> found;
  std::size_t arrived = 0;
  const std::size_t max_passes = 4 * stream.size() + 64;
  for (std::size_t pass = 0; pass < max_passes; ++pass) {
    const std::size_t consumed = stream.size() - source.Left();
    if (arrived >= stream.size() && consumed == stream.size()) break;
    const uint8_t c = control[pass % controls];
    // The second half of the passes is honest and plain and brings whatever
    // has not arrived yet, so that the stream is drained.
    const bool draining = pass >= max_passes / 2;
    arrived = std::min(stream.size(), arrived + (draining ? 15U : (c & 0x0FU)));
    const bool lie = !reply_mode && !draining && (c & 0x10U) != 0;
    const bool reset = !reply_mode && !draining && (c & 0x20U) != 0;
    if (reset) parser.Reset();

    const auto waiting = static_cast<uint32_t>(arrived - consumed + (lie ? 5U : 0U));
    const BrightnessReplyParser::Outcome outcome = parser.Pass(source, waiting);
    const std::size_t taken = stream.size() - source.Left() - consumed;

    Check(parser.State() >= 0 && parser.State() <= 2, "parser state outside 0..2");
    Check(taken <= 6 && taken <= waiting, "a pass took more bytes than it may");
    if (outcome == BrightnessReplyParser::Outcome::kValid) {
      const std::size_t end = consumed + taken;
      Check(end >= 6, "a reply found in fewer than 6 bytes");
      const std::span<const uint8_t> last(stream.data() + end - 6, 6);
      Check(ValidReply(last), "kValid for bytes that are no valid reply");
      Check(std::equal(last.begin(), last.end(), parser.Reply().begin()),
            "Reply() is not the bytes read");
      found.push_back(parser.Reply());
    }
    if (outcome == BrightnessReplyParser::Outcome::kInvalid) {
      const std::size_t end = consumed + taken;
      if (taken >= 4 && end >= 6) {
        Check(
            !ValidReply(std::span<const uint8_t>(stream.data() + end - 6, 6)) ||
                !std::equal(parser.Reply().begin(), parser.Reply().end(), stream.begin() + end - 6),
            "a valid reply read whole was reported invalid");
      }
    }
    if (outcome != BrightnessReplyParser::Outcome::kNone) {
      Check(parser.State() == 0, "the parser did not start afresh after a reply");
    }
  }
  Check(source.Left() == 0 || parser.State() == 2, "bytes left that the parser will never read");
  if (reply_mode) Check(found == sent, "a clean stream of replies was not found reply by reply");
  return 0;
}
