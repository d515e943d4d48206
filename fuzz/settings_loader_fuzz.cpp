// Any bytes as the settings file beside the executable. Checks, beyond the
// sanitizers:
//  - after LoadSettings every field is inside the range its clamp gives it;
//  - a file of 100 bytes or more loads exactly its first 100 bytes, clamped,
//    reserved bytes untouched, and does not mark the settings dirty; a shorter
//    one gives the defaults and marks them dirty;
//  - the clamps are idempotent: saving the loaded record and loading it again
//    gives the same record, from a file of exactly 100 bytes;
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

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

  // Written back and read again: 100 bytes, the same record.
  Check(m32::config::SaveSettings(module, s.record), "saving into the scratch folder failed");
  const std::string saved = ReadWhole(cfg);
  Check(saved.size() == kRecordSize, "the saved file is not 100 bytes");
  m32::config::Settings again;
  m32::config::LoadSettings(module, again);
  Check(again.record == s.record && !again.SettingsDirty, "a saved record loads differently");
  return 0;
}
