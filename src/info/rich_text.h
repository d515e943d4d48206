// The document model of the help viewer and the reader that fills it from a
// help file: rich text (RTF) with its formatting, or plain text.
//
// The reader accepts any bytes: it never fails, never recurses on the input's
// nesting and runs in time linear in the input's length.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace m32::info {

enum class Alignment { kLeft, kCentre, kRight, kJustify };
enum class VerticalPosition : uint8_t { kBaseline, kSuperscript, kSubscript };

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
  bool strike = false;
  int half_points = 24;       // font size; RTF's default is 12 pt
  std::optional<Rgb> colour;  // none: the view's own text colour
  VerticalPosition vertical = VerticalPosition::kBaseline;
  friend bool operator==(const RunStyle&, const RunStyle&) = default;
};

// A stretch of UTF-8 text in one style. A tab is '\t', a line break inside the
// paragraph (\line) is '\n'. A picture is a run of its own: the object
// replacement character U+FFFC with the picture's index in the document.
struct Run {
  std::string text;
  RunStyle style;
  int picture = -1;
};

enum class TabKind : uint8_t { kLeft, kCentre, kRight, kDecimal };
enum class TabLeader : uint8_t { kNone, kDots, kHyphens, kUnderline, kThickLine, kEquals };

struct TabStop {
  int twips = 0;  // from the paragraph's left edge; 1440 twips are an inch
  TabKind kind = TabKind::kLeft;
  TabLeader leader = TabLeader::kNone;
  friend bool operator==(const TabStop&, const TabStop&) = default;
};

struct Paragraph {
  Alignment alignment = Alignment::kLeft;
  std::vector<TabStop> tabs;
  int left_indent_twips = 0;
  int first_line_indent_twips = 0;  // relative to the left indent; negative hangs
  int space_before_twips = 0;
  int space_after_twips = 0;
  // Line spacing: 0 single; in twips, at least this much when positive,
  // exactly this much when negative; with `line_spacing_multiple`, in 240ths
  // of a single line (360: one and a half lines).
  int line_spacing_twips = 0;
  bool line_spacing_multiple = false;
  std::vector<Run> runs;
  // A paragraph that stands for a table: its index in Document::tables (the
  // paragraph then has no runs of its own).
  int table = -1;
  // The paragraph's text without styles.
  std::string Text() const;
};

struct TableCell {
  std::vector<Paragraph> paragraphs;
};

struct TableRow {
  std::vector<TableCell> cells;
  // The width of each cell as the row's definition gives it (may have fewer
  // or more entries than there are cells). Cells merged into the one before
  // them (\clmrg) are already part of it, their widths added to its own.
  std::vector<int> cell_widths_twips;
};

struct Table {
  std::vector<TableRow> rows;
};

struct Picture {
  enum class Format : uint8_t { kOther, kPng, kJpeg, kBmp };
  Format format = Format::kOther;
  std::string data;  // the picture's bytes; a device-independent bitmap with its BMP file header
  int width_twips = 0;
  int height_twips = 0;
};

struct Document {
  // False for plain text: the view shows it in its own font and colour.
  bool rich = false;
  // The distance of the default tab stops (\deftab; 720 twips, half an
  // inch, unless the file says otherwise; plain text too).
  int default_tab_twips = 720;
  std::vector<Paragraph> paragraphs;
  std::vector<Table> tables;
  std::vector<Picture> pictures;
  // All paragraphs' text joined by '\n' (for tests and searching); a table
  // gives its rows one per line, cells separated by '\t' and the paragraphs
  // of a cell joined by ' '.
  std::string Text() const;
};

// Deeper groups than this are read as if they were part of the group that
// holds them.
constexpr int kMaxGroupDepth = 256;
// Cells of a table row beyond this many are joined into the last one; rows
// of one table beyond this many start a new table.
constexpr std::size_t kMaxTableColumns = 64;
constexpr std::size_t kMaxTableRows = 4000;
// A plain text of more lines than this is read as this many paragraphs at
// most, consecutive lines sharing one paragraph ('\n' between them), so that
// a file of millions of short lines stays a document of bounded size.
constexpr std::size_t kMaxPlainParagraphs = 65536;
// A rich text ends after this many paragraphs, tables and table rows: only damaged or
// machine-made files have more (a 16 MiB manual has a few tens of
// thousands), and the view lays out every paragraph it is given.
constexpr std::size_t kMaxRichBlocks = 65536;
// A table row costs the view as much layout as this many paragraphs.
constexpr std::size_t kRowWeight = 16;

// True when the bytes start with "{\rtf", possibly after a UTF-8 byte-order
// mark and blank lines.
bool LooksLikeRtf(std::string_view bytes);

// Asked now and then while reading; true abandons the reading (the document
// returned is then incomplete).
using ReadCancelled = std::function<bool()>;

// The entry point: rich text when the bytes start with "{\rtf" (after a
// byte-order mark and blank lines), otherwise plain text: UTF-8 when the file
// starts with the UTF-8 byte-order mark, Windows-1250 otherwise.
Document ReadHelpText(std::string_view bytes, const ReadCancelled& cancelled = {});

// The two readers behind it.
Document ParseRtf(std::string_view bytes, const ReadCancelled& cancelled = {});
// One paragraph per line, or per group of lines past kMaxPlainParagraphs.
Document ParsePlainText(std::string_view bytes, const ReadCancelled& cancelled = {});

}  // namespace m32::info
