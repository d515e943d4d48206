// Any bytes as the settings file beside the executable. Checks, beyond the
// sanitizers:
//  - after LoadSettings every field is inside the range its clamp gives it;
//  - a file of 100 bytes or more loads exactly its first 100 bytes, clamped,
//    reserved bytes untouched, and does not mark the settings dirty; a shorter
//    one gives the defaults and marks them dirty;
//  - the clamps are idempotent: the bytes a save of the loaded record writes
//    load back to the same record;
//  - Encode(Decode(b)) == b for any 100 bytes, and Decode(Encode(r)) == r.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "config/settings.h"
#include "fuzz_support.h"

namespace {

using m32::config::kRecordSize;
using m32::config::RecordBytes;
using m32::config::SettingsRecord;
using m32::fuzz::Check;

bool InRange(const SettingsRecord& r) {
  const bool parity = r.Parity == 'N' || r.Parity == 'O' || r.Parity == 'E' || r.Parity == 'M';
  return r.Language < 10 && r.PortIndex < 64 && r.BaudDivisor >= 1 && r.BaudDivisor <= 115200 &&
         r.DataBits >= 5 && r.DataBits <= 8 && r.StopBits >= 1 && r.StopBits <= 2 && parity &&
         r.Constants[0] >= 0 && r.Constants[0] <= 255 && r.Constants[3] >= 0 &&
         r.Constants[3] <= 2 && (r.Constants[4] == 0 || r.Constants[4] == 1);
}

SettingsRecord Defaults() {
  SettingsRecord r;
  m32::config::ApplyDefaults(r);
  return r;
}

// The clamps written out once more, from the table of the file's fields.
SettingsRecord ExpectedClamp(SettingsRecord r) {
  if (r.Language >= 10) r.Language = 0;
  if (r.PortIndex >= 64) r.PortIndex = 0;
  r.BaudDivisor = r.BaudDivisor == 0 ? 1 : (r.BaudDivisor > 115200 ? 115200 : r.BaudDivisor);
  r.DataBits = r.DataBits > 8 ? 8 : (r.DataBits < 5 ? 5 : r.DataBits);
  r.StopBits = r.StopBits > 2 ? 2 : (r.StopBits == 0 ? 1 : r.StopBits);
  switch (r.Parity) {
    case 'e':
      r.Parity = 'E';
      break;
    case 'o':
      r.Parity = 'O';
      break;
    case 'm':
      r.Parity = 'M';
      break;
    case 'E':
    case 'O':
    case 'M':
      break;
    default:
      r.Parity = 'N';
  }
  if (r.Constants[0] < 0 || r.Constants[0] > 255) r.Constants[0] = 0;
  if (r.Constants[3] < 0 || r.Constants[3] > 2) r.Constants[3] = 0;
  if (r.Constants[4] != 1) r.Constants[4] = 0;
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // Encoding on any 100 bytes (short inputs padded with zeros).
  RecordBytes block{};
  for (std::size_t i = 0; i < kRecordSize && i < size; ++i) block[i] = data[i];
  const SettingsRecord decoded = m32::config::Decode(block);
  Check(m32::config::Encode(decoded) == block, "Encode(Decode(b)) differs from b");
  Check(m32::config::Decode(m32::config::Encode(decoded)) == decoded, "Decode(Encode(r)) != r");

  // The same bytes as the file beside the executable.
  m32::config::ModulePath module;
  module.Derive((m32::fuzz::ScratchFolder::Path() / "MERKAT32.EXE").string());
  const std::string cfg = module.SetExtension("CFG");
  {
    std::ofstream out(cfg, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Check(out.good(), "cannot write the settings file");
  }

  m32::config::Settings s;
  s.record.BaudDivisor = 77;  // garbage that a load must overwrite
  m32::config::LoadSettings(module, s);
  Check(InRange(s.record), "a loaded field is outside its range");
  if (size >= kRecordSize) {
    Check(!s.SettingsDirty, "a whole record marked the settings dirty");
    Check(s.record == ExpectedClamp(decoded), "the loaded record is not the file's, clamped");
    Check(s.record.Reserved1 == decoded.Reserved1 && s.record.Reserved2 == decoded.Reserved2,
          "reserved bytes changed on loading");
  } else {
    Check(s.SettingsDirty, "a short file did not mark the settings dirty");
    Check(s.record == Defaults(), "a short file did not give the defaults");
  }

  // What a save writes loads back as the same record: the clamps leave a
  // loaded record as it is. (Saving through the file is the unit tests' part;
  // doing it here for every input would cost most of the fuzzer's speed.)
  SettingsRecord again = m32::config::Decode(m32::config::Encode(s.record));
  m32::config::ClampSettings(again);
  m32::config::ClampConstants(again);
  Check(again == s.record, "a saved record loads differently");
  return 0;
}
