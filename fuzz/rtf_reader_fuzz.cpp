// Feeds arbitrary bytes to the help text reader, the way a help file beside
// the executable reaches it. Besides the sanitizers' checks, the model it
// gives must be well formed: valid UTF-8, no empty runs, tables and pictures
// that exist, and no more output than the input can account for.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "info/rich_text.h"

namespace {

void CheckParagraph(const m32::info::Document& doc, const m32::info::Paragraph& p,
                    std::size_t& bytes) {
  for (const auto& r : p.runs) {
    if (r.text.empty() || !m32::fuzz::ValidUtf8(r.text)) __builtin_trap();
    if (r.style.half_points < 2 || r.style.half_points > 3276) __builtin_trap();
    if (r.picture >= 0 && static_cast<std::size_t>(r.picture) >= doc.pictures.size()) {
      __builtin_trap();
    }
    bytes += r.text.size();
  }
}

void Check(const m32::info::Document& doc, std::size_t input_size) {
  std::size_t bytes = 0;
  // Every paragraph ends at a line end or a word of at least four bytes.
  if (doc.paragraphs.size() > input_size) __builtin_trap();
  for (const auto& p : doc.paragraphs) {
    if (p.table >= 0) {
      // A table stands alone, and exactly once, in the text.
      if (!p.runs.empty() || static_cast<std::size_t>(p.table) >= doc.tables.size()) {
        __builtin_trap();
      }
      continue;
    }
    CheckParagraph(doc, p, bytes);
  }
  for (const auto& t : doc.tables) {
    if (t.rows.empty() || t.rows.size() > m32::info::kMaxTableRows) __builtin_trap();
    for (const auto& row : t.rows) {
      if (row.cells.empty() || row.cells.size() > m32::info::kMaxTableColumns) __builtin_trap();
      for (const auto& cell : row.cells) {
        for (const auto& p : cell.paragraphs) CheckParagraph(doc, p, bytes);
      }
    }
  }
  for (const auto& pic : doc.pictures) {
    if (pic.width_twips <= 0 || pic.height_twips <= 0 || pic.data.size() > input_size + 14) {
      __builtin_trap();
    }
  }
  // One input byte yields at most one three-byte character.
  if (bytes > 3 * input_size) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  Check(m32::info::ReadHelpText(in), size);
  // The rich-text reader also on bytes that do not announce themselves as RTF.
  if (!m32::info::LooksLikeRtf(in)) Check(m32::info::ParseRtf(in), size);
  return 0;
}
