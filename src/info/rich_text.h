// The document model of the help viewer and the reader that fills it from a
// help file: rich text (RTF) with its formatting, or plain 8-bit text.
//
// The reader accepts any bytes: it never fails, never recurses on the input's
// nesting and runs in time linear in the input's length.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace m32::info {

enum class Alignment { kLeft, kCentre, kRight, kJustify };

struct Rgb {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct RunStyle {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  int half_points = 24;       // font size; RTF's default is 12 pt
  std::optional<Rgb> colour;  // none: the view's own text colour
  friend bool operator==(const RunStyle&, const RunStyle&) = default;
};

// A stretch of UTF-8 text in one style. A tab is '\t', a line break inside the
// paragraph (\line) is '\n'.
struct Run {
  std::string text;
  RunStyle style;
};

struct Paragraph {
  Alignment alignment = Alignment::kLeft;
  std::vector<Run> runs;
  // The paragraph's text without styles.
  std::string Text() const;
};

struct Document {
  // False for plain text: the view shows it in its own font and colour.
  bool rich = false;
  std::vector<Paragraph> paragraphs;
  // All paragraphs' text joined by '\n' (for tests and searching).
  std::string Text() const;
};

// Deeper groups than this are read as if they were part of the group that
// holds them.
constexpr int kMaxGroupDepth = 256;

// True when the bytes start with "{\rtf".
bool LooksLikeRtf(std::string_view bytes);

// The entry point: rich text when the bytes start with "{\rtf", otherwise
// plain text in Windows-1250.
Document ReadHelpText(std::string_view bytes);

// The two readers behind it.
Document ParseRtf(std::string_view bytes);
Document ParsePlainText(std::string_view bytes);

}  // namespace m32::info
