#include "info/rich_text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/code_page.h"
#include "core/number_fields.h"

namespace m32::info {

using core::AppendUtf8;
using core::CodePage;
using core::CodePageFromCharset;
using core::CodePageFromNumber;
using core::DecodeByte;

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kObjectReplacement = "\xEF\xBF\xBC";

void AppendTableText(std::string& out, const Table& table) {
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    if (r != 0) out.push_back('\n');
    const TableRow& row = table.rows[r];
    for (std::size_t c = 0; c < row.cells.size(); ++c) {
      if (c != 0) out.push_back('\t');
      const auto& paras = row.cells[c].paragraphs;
      for (std::size_t p = 0; p < paras.size(); ++p) {
        if (p != 0) out.push_back(' ');
        out += paras[p].Text();
      }
    }
  }
}

// The bytes after a UTF-8 byte-order mark and blank lines.
std::string_view SkipLead(std::string_view bytes) {
  if (bytes.substr(0, 3) == kUtf8Bom) bytes.remove_prefix(3);
  const std::size_t first = bytes.find_first_not_of(" \t\r\n");
  return first == std::string_view::npos ? std::string_view() : bytes.substr(first);
}

}  // namespace

std::string Paragraph::Text() const {
  std::string out;
  for (const Run& r : runs) out += r.text;
  return out;
}

std::string Document::Text() const {
  std::string out;
  for (std::size_t i = 0; i < paragraphs.size(); ++i) {
    if (i != 0) out.push_back('\n');
    const Paragraph& p = paragraphs[i];
    if (p.table >= 0 && static_cast<std::size_t>(p.table) < tables.size()) {
      AppendTableText(out, tables[static_cast<std::size_t>(p.table)]);
    } else {
      out += p.Text();
    }
  }
  return out;
}

bool LooksLikeRtf(std::string_view bytes) {
  return SkipLead(bytes).substr(0, 5) == "{\\rtf";
}

Document ReadHelpText(std::string_view bytes, const ReadCancelled& cancelled) {
  return LooksLikeRtf(bytes) ? ParseRtf(SkipLead(bytes), cancelled)
                             : ParsePlainText(bytes, cancelled);
}

namespace {

// The next character of UTF-8 text; a malformed sequence, an overlong form,
// a surrogate or a value beyond U+10FFFF gives U+FFFD for its first byte.
char32_t NextUtf8(std::string_view s, std::size_t& i) {
  const core::Utf8Char c = core::ReadUtf8(s.substr(i));
  const char32_t min = c.length <= 1 ? 0 : c.length == 2 ? 0x80 : c.length == 3 ? 0x800 : 0x10000;
  if (c.length == 0 || c.cp < min || c.cp > 0x10FFFF || (c.cp >= 0xD800 && c.cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += c.length;
  return c.cp;
}

}  // namespace

// How many bytes of plain text are read between asking whether to go on.
constexpr std::size_t kPlainCancelCheckBytes = 64U * 1024U;

Document ParsePlainText(std::string_view bytes, const ReadCancelled& cancelled) {
  const bool utf8 = bytes.substr(0, 3) == kUtf8Bom;
  if (utf8) bytes.remove_prefix(3);
  Document doc;
  doc.rich = false;
  // A line ends at LF, CR LF or a lone CR; the last one may have no end.
  std::size_t lines = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n'))) {
      ++lines;
    }
  }
  if (!bytes.empty() && bytes.back() != '\n' && bytes.back() != '\r') ++lines;
  const std::size_t lines_per_paragraph =
      std::max<std::size_t>(1, (lines + kMaxPlainParagraphs - 1) / kMaxPlainParagraphs);
  std::size_t lines_in_paragraph = 0;  // whole lines held in `line`
  Paragraph para;
  std::string line;
  auto end_paragraph = [&] {
    if (!line.empty()) para.runs.push_back(Run{std::move(line), RunStyle{}});
    line.clear();
    doc.paragraphs.push_back(std::move(para));
    para = Paragraph{};
    lines_in_paragraph = 0;
  };
  auto flush = [&] {
    if (++lines_in_paragraph < lines_per_paragraph) {
      line += '\n';
    } else {
      end_paragraph();
    }
  };
  std::size_t i = 0;
  std::size_t next_check = 0;
  while (i < bytes.size()) {
    if (i >= next_check) {
      if (cancelled && cancelled()) return doc;
      next_check = i + kPlainCancelCheckBytes;
    }
    const auto b = static_cast<uint8_t>(bytes[i]);
    if (b == '\r') {
      ++i;
      if (i < bytes.size() && bytes[i] == '\n') ++i;
      flush();
    } else if (b == '\n') {
      ++i;
      flush();
    } else if (b < 0x20 && b != '\t') {
      ++i;
    } else if (utf8) {
      const char32_t cp = NextUtf8(bytes, i);
      if (cp != 0xFEFF) AppendUtf8(line, cp);
    } else {
      ++i;
      AppendUtf8(line, DecodeByte(CodePage::kWindows1250, b));
    }
  }
  // Whole lines held back for a group end it without a line break of their own.
  if (lines_in_paragraph > 0 && line.ends_with('\n')) line.pop_back();
  if (!line.empty() || lines_in_paragraph > 0) end_paragraph();
  return doc;
}

namespace {

// What the text of a group is.
enum class Dest : uint8_t {
  kText,         // shown
  kSkip,         // not text, nor anything inside it
  kColourTable,  // \colortbl entries
  kFontTable,    // \fonttbl entries
  kShape,        // a shape: hidden, except its text box
  kPicture,      // picture data
  kListText,     // the number or bullet of a list paragraph
  // Inside a shape: one property ({\sp{\sn name}{\sv value}}), its name,
  // and the value of the picture property (pib), a picture that shows.
  kShapeProperty,
  kShapePropertyName,
  kShapePicture,
};

// Where finished paragraphs go.
enum class Target : uint8_t { kBody, kFootnote, kFrame };

struct ParagraphProps {
  Alignment alignment = Alignment::kLeft;
  std::vector<TabStop> tabs;
  int left_indent = 0;
  int first_indent = 0;
  int space_before = 0;
  int space_after = 0;
  int line_spacing = 0;
  bool line_multiple = false;
  bool in_table = false;
  TabKind next_tab_kind = TabKind::kLeft;
  TabLeader next_tab_leader = TabLeader::kNone;
};

struct GroupState {
  RunStyle style;
  bool hidden = false;  // \v or \deleted
  long font = -1;       // \fN; -1: none chosen
  ParagraphProps para;
  int unicode_skip = 1;  // \ucN: fallback characters after each \uN
  Dest dest = Dest::kText;
  Target target = Target::kBody;
  bool starred = false;  // after \*: an unknown destination word skips the group
};

enum class Word : uint8_t {
  kSkipDest,
  kColourTable,
  kFontTable,
  kFont,
  kDefaultFont,
  kCharset,
  kFontCodePage,
  kBold,
  kItalic,
  kUnderline,
  kUnderlineNone,
  kStrike,
  kFontSize,
  kColour,
  kSuper,
  kSub,
  kNoSuperSub,
  kUp,
  kDown,
  kHidden,
  kDeleted,
  kPlain,
  kPard,
  kLeft,
  kCentre,
  kRight,
  kJustify,
  kLeftIndent,
  kFirstIndent,
  kSpaceBefore,
  kSpaceAfter,
  kLineSpacing,
  kLineMultiple,
  kDefaultTab,
  kTabRight,
  kTabCentre,
  kTabDecimal,
  kLeaderDots,
  kLeaderHyphens,
  kLeaderUnderline,
  kLeaderThick,
  kLeaderEquals,
  kTabStop,
  kInTable,
  kRowDefaults,
  kCellEdge,
  kCellMerged,  // \clmrg: the next cell continues the one before it
  kRowLeft,
  kCell,
  kRow,
  kNestedCell,
  kNestedRow,
  kPar,
  kLine,
  kTab,
  kUnicodeSkip,
  kUnicode,
  kCodePage,
  kBin,
  kRed,
  kGreen,
  kBlue,
  kShape,
  kShapeInside,  // a shape's description: hidden like the shape
  kShapeText,
  kShapeProperty,
  kShapePropertyName,
  kShapePropertyValue,
  kListText,
  kFootnote,
  kFootnoteMark,
  kPicture,
  kPictureKeep,  // \shppict: the picture inside shows
  kPicWidth,
  kPicHeight,
  kPicGoalWidth,
  kPicGoalHeight,
  kPicScaleX,
  kPicScaleY,
  kPng,
  kJpeg,
  kDib,
  kMetafile,
  kBitmap,
  kSymbol,  // a word that stands for one character
};

struct WordEntry {
  std::string_view name;
  Word word;
  char32_t symbol = 0;
};

constexpr std::array kWords = {
    // Destinations whose content is not text.
    WordEntry{"stylesheet", Word::kSkipDest},
    WordEntry{"info", Word::kSkipDest},
    WordEntry{"object", Word::kSkipDest},
    WordEntry{"objdata", Word::kSkipDest},
    WordEntry{"header", Word::kSkipDest},
    WordEntry{"headerl", Word::kSkipDest},
    WordEntry{"headerr", Word::kSkipDest},
    WordEntry{"headerf", Word::kSkipDest},
    WordEntry{"footer", Word::kSkipDest},
    WordEntry{"footerl", Word::kSkipDest},
    WordEntry{"footerr", Word::kSkipDest},
    WordEntry{"footerf", Word::kSkipDest},
    WordEntry{"ftnsep", Word::kSkipDest},
    WordEntry{"ftnsepc", Word::kSkipDest},
    WordEntry{"ftncn", Word::kSkipDest},
    WordEntry{"aftnsep", Word::kSkipDest},
    WordEntry{"aftnsepc", Word::kSkipDest},
    WordEntry{"annotation", Word::kSkipDest},
    WordEntry{"fldinst", Word::kSkipDest},
    WordEntry{"xe", Word::kSkipDest},
    WordEntry{"tc", Word::kSkipDest},
    WordEntry{"txe", Word::kSkipDest},
    WordEntry{"rxe", Word::kSkipDest},
    WordEntry{"listtable", Word::kSkipDest},
    WordEntry{"listoverridetable", Word::kSkipDest},
    WordEntry{"revtbl", Word::kSkipDest},
    WordEntry{"rsidtbl", Word::kSkipDest},
    WordEntry{"filetbl", Word::kSkipDest},
    WordEntry{"generator", Word::kSkipDest},
    WordEntry{"themedata", Word::kSkipDest},
    WordEntry{"colorschememapping", Word::kSkipDest},
    WordEntry{"datastore", Word::kSkipDest},
    WordEntry{"latentstyles", Word::kSkipDest},
    WordEntry{"private", Word::kSkipDest},
    WordEntry{"nonshppict", Word::kSkipDest},
    WordEntry{"shprslt", Word::kSkipDest},
    WordEntry{"pn", Word::kSkipDest},
    WordEntry{"bkmkstart", Word::kSkipDest},
    WordEntry{"bkmkend", Word::kSkipDest},
    WordEntry{"template", Word::kSkipDest},
    WordEntry{"userprops", Word::kSkipDest},
    WordEntry{"colortbl", Word::kColourTable},
    WordEntry{"fonttbl", Word::kFontTable},
    WordEntry{"f", Word::kFont},
    WordEntry{"deff", Word::kDefaultFont},
    WordEntry{"fcharset", Word::kCharset},
    WordEntry{"cpg", Word::kFontCodePage},
    // Shapes, text boxes, list numbers, footnotes and pictures.
    WordEntry{"shp", Word::kShape},
    WordEntry{"do", Word::kShape},
    WordEntry{"shpgrp", Word::kShape},
    WordEntry{"shpinst", Word::kShapeInside},
    WordEntry{"shptxt", Word::kShapeText},
    WordEntry{"sp", Word::kShapeProperty},
    WordEntry{"sn", Word::kShapePropertyName},
    WordEntry{"sv", Word::kShapePropertyValue},
    WordEntry{"dptxbxtext", Word::kShapeText},
    WordEntry{"listtext", Word::kListText},
    WordEntry{"pntext", Word::kListText},
    WordEntry{"footnote", Word::kFootnote},
    WordEntry{"chftn", Word::kFootnoteMark},
    WordEntry{"pict", Word::kPicture},
    WordEntry{"shppict", Word::kPictureKeep},
    WordEntry{"picw", Word::kPicWidth},
    WordEntry{"pich", Word::kPicHeight},
    WordEntry{"picwgoal", Word::kPicGoalWidth},
    WordEntry{"pichgoal", Word::kPicGoalHeight},
    WordEntry{"picscalex", Word::kPicScaleX},
    WordEntry{"picscaley", Word::kPicScaleY},
    WordEntry{"pngblip", Word::kPng},
    WordEntry{"jpegblip", Word::kJpeg},
    WordEntry{"dibitmap", Word::kDib},
    WordEntry{"wmetafile", Word::kMetafile},
    WordEntry{"emfblip", Word::kMetafile},
    WordEntry{"pmmetafile", Word::kMetafile},
    WordEntry{"macpict", Word::kMetafile},
    WordEntry{"wbitmap", Word::kBitmap},
    // Character formatting.
    WordEntry{"b", Word::kBold},
    WordEntry{"i", Word::kItalic},
    WordEntry{"ul", Word::kUnderline},
    WordEntry{"uld", Word::kUnderline},
    WordEntry{"uldb", Word::kUnderline},
    WordEntry{"uldash", Word::kUnderline},
    WordEntry{"ulw", Word::kUnderline},
    WordEntry{"ulwave", Word::kUnderline},
    WordEntry{"ulth", Word::kUnderline},
    WordEntry{"ulnone", Word::kUnderlineNone},
    WordEntry{"strike", Word::kStrike},
    WordEntry{"striked", Word::kStrike},
    WordEntry{"fs", Word::kFontSize},
    WordEntry{"cf", Word::kColour},
    WordEntry{"super", Word::kSuper},
    WordEntry{"sub", Word::kSub},
    WordEntry{"nosupersub", Word::kNoSuperSub},
    WordEntry{"up", Word::kUp},
    WordEntry{"dn", Word::kDown},
    WordEntry{"v", Word::kHidden},
    WordEntry{"deleted", Word::kDeleted},
    WordEntry{"plain", Word::kPlain},
    // Paragraph formatting.
    WordEntry{"pard", Word::kPard},
    WordEntry{"ql", Word::kLeft},
    WordEntry{"qc", Word::kCentre},
    WordEntry{"qr", Word::kRight},
    WordEntry{"qj", Word::kJustify},
    WordEntry{"li", Word::kLeftIndent},
    WordEntry{"fi", Word::kFirstIndent},
    WordEntry{"sb", Word::kSpaceBefore},
    WordEntry{"sa", Word::kSpaceAfter},
    WordEntry{"sl", Word::kLineSpacing},
    WordEntry{"slmult", Word::kLineMultiple},
    WordEntry{"deftab", Word::kDefaultTab},
    WordEntry{"tqr", Word::kTabRight},
    WordEntry{"tqc", Word::kTabCentre},
    WordEntry{"tqdec", Word::kTabDecimal},
    WordEntry{"tldot", Word::kLeaderDots},
    WordEntry{"tlmdot", Word::kLeaderDots},
    WordEntry{"tlhyph", Word::kLeaderHyphens},
    WordEntry{"tlul", Word::kLeaderUnderline},
    WordEntry{"tlth", Word::kLeaderThick},
    WordEntry{"tleq", Word::kLeaderEquals},
    WordEntry{"tx", Word::kTabStop},
    WordEntry{"tb", Word::kTabStop},
    // Tables.
    WordEntry{"intbl", Word::kInTable},
    WordEntry{"trowd", Word::kRowDefaults},
    WordEntry{"cellx", Word::kCellEdge},
    WordEntry{"clmrg", Word::kCellMerged},
    WordEntry{"trleft", Word::kRowLeft},
    WordEntry{"cell", Word::kCell},
    WordEntry{"row", Word::kRow},
    WordEntry{"nestcell", Word::kNestedCell},
    WordEntry{"nestrow", Word::kNestedRow},
    // Structure and special characters.
    WordEntry{"par", Word::kPar},
    WordEntry{"sect", Word::kPar},
    WordEntry{"page", Word::kPar},
    WordEntry{"line", Word::kLine},
    WordEntry{"lbr", Word::kLine},
    WordEntry{"tab", Word::kTab},
    WordEntry{"uc", Word::kUnicodeSkip},
    WordEntry{"u", Word::kUnicode},
    WordEntry{"ansicpg", Word::kCodePage},
    WordEntry{"bin", Word::kBin},
    WordEntry{"red", Word::kRed},
    WordEntry{"green", Word::kGreen},
    WordEntry{"blue", Word::kBlue},
    WordEntry{"emdash", Word::kSymbol, 0x2014},
    WordEntry{"endash", Word::kSymbol, 0x2013},
    WordEntry{"bullet", Word::kSymbol, 0x2022},
    WordEntry{"lquote", Word::kSymbol, 0x2018},
    WordEntry{"rquote", Word::kSymbol, 0x2019},
    WordEntry{"ldblquote", Word::kSymbol, 0x201C},
    WordEntry{"rdblquote", Word::kSymbol, 0x201D},
    WordEntry{"emspace", Word::kSymbol, 0x2003},
    WordEntry{"enspace", Word::kSymbol, 0x2002},
    WordEntry{"qmspace", Word::kSymbol, 0x2005},
};

const WordEntry* FindWord(std::string_view name) {
  static const auto* const kIndex = [] {
    auto* index = new std::unordered_map<std::string_view, const WordEntry*>();
    for (const WordEntry& e : kWords) index->emplace(e.name, &e);
    return index;
  }();
  const auto it = kIndex->find(name);
  return it == kIndex->end() ? nullptr : it->second;
}

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
// A byte that is text by itself in every code page (the fast path).
bool IsPlainAscii(char c) {
  return c >= 0x20 && c < 0x7F && c != '\\' && c != '{' && c != '}';
}

// The Wingdings font's bullets, boxes, arrows and check marks; its other
// signs (pictograms) have no character here and show as U+FFFD.
struct WingdingsRange {
  uint8_t first;
  std::u32string_view chars;
};
constexpr std::array kWingdings = {
    WingdingsRange{0x6C, U"●❍■□◻❑❒⬧⧫◆❖⬥⌧"},
    WingdingsRange{0x9E, U"·•▪○○○◉◎❍▪◻\uFFFD✦★✶✴✹✵"},
    WingdingsRange{0xD5, U"⌫⌦\uFFFD➢"},
    WingdingsRange{0xDF, U"←→↑↓↖↗↙↘⬅➔⬆⬇⬉⬈⬋⬊⇦⇨⇧⇩⬄⇳⬀⬁⬃⬂▭▫✗✓☒☑"},
};

char32_t DecodeWingdings(uint8_t b) {
  if (b <= 0x20) return b;
  for (const WingdingsRange& r : kWingdings) {
    if (b >= r.first && b - r.first < static_cast<int>(r.chars.size())) return r.chars[b - r.first];
  }
  return 0xFFFD;
}

// Font names are compared up to this length.
constexpr std::size_t kMaxFontName = 64;

// Parameters are limited well inside the range of long so that no sum or
// negation can overflow.
constexpr long kParamLimit = 1'000'000'000;
// Tab stops and cell edges kept per paragraph and row.
constexpr std::size_t kMaxTabs = 64;
constexpr std::size_t kMaxCellEdges = 256;
// A picture is never shown larger than this (22 inches) nor smaller than a pixel.
constexpr long kMaxPictureTwips = 22 * 1440;
// How often (in input bytes) the reader asks whether to go on.
constexpr std::size_t kCancelCheckBytes = 64 * 1024;

long Clamp(long v, long lo, long hi) {
  return std::clamp(v, lo, hi);
}

struct PictureInProgress {
  Picture picture;
  long w = 0, h = 0, goal_w = 0, goal_h = 0, scale_x = 100, scale_y = 100;
  bool bitmap_units = true;  // picw/pich in pixels, else in 0.01 mm
  bool dib = false;
  int nibble = -1;  // a first hex digit waiting for its second
};

class RtfReader {
 public:
  RtfReader(std::string_view in, const ReadCancelled& cancelled) : in_(in), cancelled_(cancelled) {
    stack_.reserve(kMaxGroupDepth);
  }

  Document Read() {
    doc_.rich = true;
    std::size_t next_check = kCancelCheckBytes;
    while (pos_ < in_.size() && !done_) {
      if (pos_ >= next_check) {
        next_check = pos_ + kCancelCheckBytes;
        if (cancelled_ && cancelled_()) break;
      }
      if (doc_.paragraphs.size() + doc_.tables.size() + rows_ * kRowWeight >= kMaxRichBlocks) break;
      const char c = in_[pos_++];
      switch (c) {
        case '{':
          skip_fallback_ = 0;
          OpenGroup();
          break;
        case '}':
          skip_fallback_ = 0;
          CloseGroup();
          break;
        case '\\':
          ReadControl();
          break;
        case '\r':
        case '\n':
          break;
        default:
          if (IsPlainAscii(c) && skip_fallback_ == 0) {
            ReadAsciiSpan();
          } else {
            ReadTextByte(static_cast<uint8_t>(c));
          }
          break;
      }
    }
    FlushSurrogate();
    EndOfDocument();
    return std::move(doc_);
  }

 private:
  GroupState& State() { return stack_.back(); }

  bool TextDest() const {
    return !stack_.empty() &&
           (stack_.back().dest == Dest::kText || stack_.back().dest == Dest::kListText);
  }

  void OpenGroup() {
    if (stack_.size() >= static_cast<std::size_t>(kMaxGroupDepth)) {
      ++flattened_;
    } else if (stack_.empty()) {
      stack_.emplace_back();
    } else {
      stack_.push_back(stack_.back());
      stack_.back().starred = false;
    }
  }

  void CloseGroup() {
    if (flattened_ > 0) {
      --flattened_;
      return;
    }
    if (stack_.empty()) return;  // a '}' before the document's group
    if (stack_.size() == 1) {
      // The document's group ends: its last paragraph needs no \par.
      EndOfDocument();
      stack_.pop_back();
      done_ = true;
      return;
    }
    const GroupState closed = std::move(stack_.back());
    stack_.pop_back();
    const GroupState& now = stack_.back();
    if (closed.dest == Dest::kPicture && now.dest != Dest::kPicture) EndPicture();
    if (closed.dest == Dest::kListText && now.dest != Dest::kListText) EndListText();
    if (closed.target != now.target) EndTarget(closed.target);
  }

  // The code page of the current font, or the document's.
  CodePage Page() {
    const long font = stack_.empty() ? -1 : State().font;
    if (font != cached_font_ || !cache_valid_) {
      cached_font_ = font;
      cache_valid_ = true;
      cached_page_ = page_;
      const auto it = font_pages_.find(font);
      if (it != font_pages_.end()) cached_page_ = it->second;
      cached_wingdings_ = wingdings_fonts_.contains(font);
    }
    return cached_page_;
  }

  // True when the current font is Wingdings, whose signs no code page has.
  bool InWingdings() {
    Page();
    return cached_wingdings_;
  }

  // One byte of text in the current font.
  char32_t Decode(uint8_t b) { return InWingdings() ? DecodeWingdings(b) : DecodeByte(Page(), b); }

  // A font's name has ended (at its ';').
  void EndFontName() {
    std::string name;
    for (const char c : font_name_) {
      if (c != ' ') name.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    }
    if (name == "wingdings") {
      wingdings_fonts_.insert(defining_font_);
    } else {
      wingdings_fonts_.erase(defining_font_);
    }
    font_name_.clear();
    cache_valid_ = false;
  }

  void ReadAsciiSpan() {
    const std::size_t start = pos_ - 1;
    while (pos_ < in_.size() && IsPlainAscii(in_[pos_])) ++pos_;
    const std::string_view span = in_.substr(start, pos_ - start);
    if (stack_.empty()) return;
    const Dest dest = State().dest;
    if (dest == Dest::kText && !State().hidden && Page() != CodePage::kSymbol && !InWingdings()) {
      if (high_surrogate_ != 0) FlushSurrogate();
      RunText().append(span);
      return;
    }
    for (const char c : span) ReadTextByte(static_cast<uint8_t>(c));
  }

  void ReadTextByte(uint8_t b) {
    if (skip_fallback_ > 0) {
      --skip_fallback_;
      return;
    }
    if (stack_.empty()) return;
    switch (State().dest) {
      case Dest::kColourTable:
        if (b == ';') EndColour();
        return;
      case Dest::kPicture:
        PictureByte(b);
        return;
      case Dest::kFontTable:
        if (b == ';') {
          EndFontName();
        } else if (font_name_.size() < kMaxFontName) {
          font_name_.push_back(static_cast<char>(b));
        }
        return;
      case Dest::kShapePropertyName:
        if (shape_property_.size() < kMaxFontName && b != ' ') {
          shape_property_.push_back(static_cast<char>(b));
        }
        return;
      case Dest::kText:
      case Dest::kListText:
        break;
      default:
        return;
    }
    if (b == '\t') {
      Emit(U'\t');
    } else if (b >= 0x20) {
      Emit(Decode(b));
    }
  }

  void ReadControl() {
    if (pos_ >= in_.size()) return;
    const char c = in_[pos_];
    if (!IsLetter(c)) {
      ++pos_;
      ReadControlSymbol(c);
      return;
    }
    const std::size_t start = pos_;
    while (pos_ < in_.size() && IsLetter(in_[pos_])) ++pos_;
    const std::string_view name = in_.substr(start, pos_ - start);
    bool negative = false;
    if (pos_ + 1 < in_.size() && in_[pos_] == '-' && IsDigit(in_[pos_ + 1])) {
      negative = true;
      ++pos_;
    }
    bool has_param = false;
    long param = 0;
    while (pos_ < in_.size() && IsDigit(in_[pos_])) {
      has_param = true;
      if (param < kParamLimit) param = param * 10 + (in_[pos_] - '0');
      ++pos_;
    }
    if (negative) param = -param;
    if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;  // the delimiter belongs to the word

    const WordEntry* entry = FindWord(name);
    if (entry != nullptr && entry->word == Word::kBin) {
      // Raw bytes follow; they are never text, but they may be a picture.
      std::size_t n = 0;
      if (has_param && param > 0) n = std::min(static_cast<std::size_t>(param), in_.size() - pos_);
      if (pict_ && !stack_.empty() && State().dest == Dest::kPicture) {
        pict_->picture.data.append(in_.substr(pos_, n));
      }
      pos_ += n;
      if (skip_fallback_ > 0) --skip_fallback_;
      return;
    }
    if (skip_fallback_ > 0) {
      --skip_fallback_;
      return;
    }
    if (stack_.empty()) return;
    GroupState& st = State();
    if (st.starred) {
      st.starred = false;
      // An unknown destination after \* is skipped whole; a known one is
      // read when its group may hold text.
      if (entry == nullptr || !IsDestination(entry->word)) {
        st.dest = Dest::kSkip;
        return;
      }
    }
    if (entry == nullptr) return;
    ApplyWord(*entry, has_param, param);
  }

  static bool IsDestination(Word w) {
    switch (w) {
      case Word::kSkipDest:
      case Word::kColourTable:
      case Word::kFontTable:
      case Word::kShape:
      case Word::kShapeInside:
      case Word::kShapeText:
      case Word::kShapeProperty:
      case Word::kShapePropertyName:
      case Word::kShapePropertyValue:
      case Word::kListText:
      case Word::kFootnote:
      case Word::kPicture:
      case Word::kPictureKeep:
        return true;
      default:
        return false;
    }
  }

  void ReadControlSymbol(char c) {
    if (c == '\'') {
      int value = 0;
      int digits = 0;
      while (digits < 2 && pos_ < in_.size() && HexDigitValue(in_[pos_]) >= 0) {
        value = value * 16 + HexDigitValue(in_[pos_]);
        ++pos_;
        ++digits;
      }
      if (skip_fallback_ > 0) {
        --skip_fallback_;
        return;
      }
      if (digits == 2 && TextDest()) Emit(Decode(static_cast<uint8_t>(value)));
      return;
    }
    if (skip_fallback_ > 0) {
      --skip_fallback_;
      return;
    }
    if (stack_.empty()) return;
    switch (c) {
      case '\\':
      case '{':
      case '}':
        if (TextDest()) Emit(static_cast<char32_t>(c));
        break;
      case '~':
        Emit(0x00A0);
        break;
      case '_':
        Emit(0x2011);
        break;
      case '*':
        State().starred = true;
        break;
      case '\r':
      case '\n':
        EndParagraph();
        break;
      case '\t':
        Emit(U'\t');
        break;
      default:
        break;  // \- (optional hyphen), \: \| and unknown symbols show nothing
    }
  }

  static bool Flag(bool has_param, long param) { return !has_param || param != 0; }

  void ApplyWord(const WordEntry& entry, bool has_param, long param) {
    GroupState& st = State();
    const bool text = st.dest == Dest::kText;
    switch (entry.word) {
      case Word::kSkipDest:
        st.dest = Dest::kSkip;
        break;
      case Word::kColourTable:
        st.dest = Dest::kColourTable;
        colours_.clear();
        pending_colour_ = Rgb{};
        pending_has_component_ = false;
        break;
      case Word::kFontTable:
        st.dest = Dest::kFontTable;
        break;
      case Word::kFont:
        if (st.dest == Dest::kFontTable) {
          defining_font_ = has_param ? param : -1;
          font_name_.clear();
        } else {
          st.font = has_param ? param : -1;
        }
        break;
      case Word::kDefaultFont:
        default_font_ = has_param ? param : -1;
        if (stack_.size() == 1) st.font = default_font_;
        break;
      case Word::kCharset:
        if (st.dest == Dest::kFontTable && has_param) {
          const std::optional<CodePage> page = CodePageFromCharset(param);
          if (page) {
            font_pages_[defining_font_] = *page;
          } else {
            font_pages_.erase(defining_font_);
          }
          cache_valid_ = false;
        }
        break;
      case Word::kFontCodePage:
        if (st.dest == Dest::kFontTable && has_param) {
          font_pages_[defining_font_] = CodePageFromNumber(param);
          cache_valid_ = false;
        }
        break;
      case Word::kShape:
        if (text) st.dest = Dest::kShape;
        break;
      case Word::kShapeInside:
        if (st.dest != Dest::kShape) st.dest = Dest::kSkip;
        break;
      case Word::kShapeProperty:
        st.dest = st.dest == Dest::kShape ? Dest::kShapeProperty : Dest::kSkip;
        break;
      case Word::kShapePropertyName:
        if (st.dest == Dest::kShapeProperty) shape_property_.clear();
        st.dest = st.dest == Dest::kShapeProperty ? Dest::kShapePropertyName : Dest::kSkip;
        break;
      case Word::kShapePropertyValue:
        // Of a shape's properties only its picture (a picture frame's) shows.
        st.dest = st.dest == Dest::kShapeProperty && shape_property_ == "pib" ? Dest::kShapePicture
                                                                              : Dest::kSkip;
        break;
      case Word::kShapeText:
        // A text box shows its text; its paragraphs stand before the one
        // that anchors it.
        if (st.dest == Dest::kShape) {
          st.dest = Dest::kText;
          if (st.target == Target::kBody) st.target = Target::kFrame;
        }
        break;
      case Word::kListText:
        if (text) {
          st.dest = Dest::kListText;
          list_text_shown_ = false;
          list_text_space_ = false;
        }
        break;
      case Word::kFootnote:
        if (text && st.target == Target::kBody) {
          st.target = Target::kFootnote;
          ++footnotes_;
          footnote_marked_ = false;
          footnote_para_ = Paragraph{};
        } else if (!text) {
          st.dest = Dest::kSkip;
        }
        break;
      case Word::kFootnoteMark:
        if (TextDest()) {
          const bool in_note = st.target == Target::kFootnote;
          if (in_note) footnote_marked_ = true;
          EmitNumber(in_note ? footnotes_ : footnotes_ + 1);
        }
        break;
      case Word::kPicture:
        if (text || st.dest == Dest::kShapePicture) {
          st.dest = Dest::kPicture;
          pict_.emplace();
          pict_style_ = st.style;
          pict_shows_ = !st.hidden;
          pict_target_ = st.target;
        } else {
          st.dest = Dest::kSkip;
        }
        break;
      case Word::kPictureKeep:
        if (!text && st.dest != Dest::kShapePicture) st.dest = Dest::kSkip;
        break;
      case Word::kPicWidth:
      case Word::kPicHeight:
      case Word::kPicGoalWidth:
      case Word::kPicGoalHeight:
      case Word::kPicScaleX:
      case Word::kPicScaleY:
      case Word::kPng:
      case Word::kJpeg:
      case Word::kDib:
      case Word::kMetafile:
      case Word::kBitmap:
        if (pict_ && st.dest == Dest::kPicture) PictureWord(entry.word, has_param ? param : 0);
        break;
      case Word::kBold:
        st.style.bold = Flag(has_param, param);
        break;
      case Word::kItalic:
        st.style.italic = Flag(has_param, param);
        break;
      case Word::kUnderline:
        st.style.underline = Flag(has_param, param);
        break;
      case Word::kUnderlineNone:
        st.style.underline = false;
        break;
      case Word::kStrike:
        st.style.strike = Flag(has_param, param);
        break;
      case Word::kFontSize:
        st.style.half_points =
            (!has_param || param <= 0) ? 24 : static_cast<int>(Clamp(param, 2, 3276));
        break;
      case Word::kColour:
        st.style.colour =
            (has_param && param >= 0 && static_cast<std::size_t>(param) < colours_.size())
                ? colours_[static_cast<std::size_t>(param)]
                : std::nullopt;
        break;
      case Word::kSuper:
        st.style.vertical = VerticalPosition::kSuperscript;
        break;
      case Word::kSub:
        st.style.vertical = VerticalPosition::kSubscript;
        break;
      case Word::kNoSuperSub:
        st.style.vertical = VerticalPosition::kBaseline;
        break;
      case Word::kUp:
      case Word::kDown: {
        const long by = has_param ? param : 6;
        if (by == 0) {
          st.style.vertical = VerticalPosition::kBaseline;
        } else {
          st.style.vertical = (by > 0) == (entry.word == Word::kUp) ? VerticalPosition::kSuperscript
                                                                    : VerticalPosition::kSubscript;
        }
        break;
      }
      case Word::kHidden:
      case Word::kDeleted:
        st.hidden = Flag(has_param, param);
        break;
      case Word::kPlain:
        st.style = RunStyle{};
        st.hidden = false;
        st.font = default_font_;
        break;
      case Word::kPard:
        st.para = ParagraphProps{};
        break;
      case Word::kLeft:
        st.para.alignment = Alignment::kLeft;
        break;
      case Word::kCentre:
        st.para.alignment = Alignment::kCentre;
        break;
      case Word::kRight:
        st.para.alignment = Alignment::kRight;
        break;
      case Word::kJustify:
        st.para.alignment = Alignment::kJustify;
        break;
      case Word::kLeftIndent:
        st.para.left_indent = static_cast<int>(Clamp(param, -kMaxPictureTwips, kMaxPictureTwips));
        break;
      case Word::kFirstIndent:
        st.para.first_indent = static_cast<int>(Clamp(param, -kMaxPictureTwips, kMaxPictureTwips));
        break;
      case Word::kSpaceBefore:
        st.para.space_before = static_cast<int>(Clamp(param, 0, kMaxPictureTwips));
        break;
      case Word::kSpaceAfter:
        st.para.space_after = static_cast<int>(Clamp(param, 0, kMaxPictureTwips));
        break;
      case Word::kLineSpacing:
        st.para.line_spacing = static_cast<int>(Clamp(param, -kMaxPictureTwips, kMaxPictureTwips));
        break;
      case Word::kLineMultiple:
        st.para.line_multiple = Flag(has_param, param);
        break;
      case Word::kDefaultTab:
        if (has_param && param > 0) {
          doc_.default_tab_twips = static_cast<int>(Clamp(param, 15, kMaxPictureTwips));
        }
        break;
      case Word::kTabRight:
        st.para.next_tab_kind = TabKind::kRight;
        break;
      case Word::kTabCentre:
        st.para.next_tab_kind = TabKind::kCentre;
        break;
      case Word::kTabDecimal:
        st.para.next_tab_kind = TabKind::kDecimal;
        break;
      case Word::kLeaderDots:
        st.para.next_tab_leader = TabLeader::kDots;
        break;
      case Word::kLeaderHyphens:
        st.para.next_tab_leader = TabLeader::kHyphens;
        break;
      case Word::kLeaderUnderline:
        st.para.next_tab_leader = TabLeader::kUnderline;
        break;
      case Word::kLeaderThick:
        st.para.next_tab_leader = TabLeader::kThickLine;
        break;
      case Word::kLeaderEquals:
        st.para.next_tab_leader = TabLeader::kEquals;
        break;
      case Word::kTabStop:
        AddTabStop(st.para, param);
        break;
      case Word::kInTable:
        st.para.in_table = true;
        break;
      case Word::kRowDefaults:
        row_edges_.clear();
        row_merged_.clear();
        next_cell_merged_ = false;
        row_left_ = 0;
        break;
      case Word::kCellEdge:
        if (row_edges_.size() < kMaxCellEdges) {
          row_edges_.push_back(Clamp(param, -kParamLimit / 2, kParamLimit / 2));
          row_merged_.push_back(next_cell_merged_);
        }
        next_cell_merged_ = false;
        break;
      case Word::kCellMerged:
        next_cell_merged_ = true;
        break;
      case Word::kRowLeft:
        row_left_ = Clamp(param, -kParamLimit / 2, kParamLimit / 2);
        break;
      case Word::kCell:
        if (text && st.target == Target::kBody) EndCell();
        break;
      case Word::kRow:
        if (text && st.target == Target::kBody) EndRow();
        break;
      case Word::kNestedCell:
        Emit(U'\t');
        break;
      case Word::kNestedRow:
        Emit(U'\n');
        break;
      case Word::kPar:
        EndParagraph();
        break;
      case Word::kLine:
        Emit(U'\n');
        break;
      case Word::kTab:
        Emit(U'\t');
        break;
      case Word::kUnicodeSkip:
        st.unicode_skip = has_param ? static_cast<int>(Clamp(param, 0, 16)) : 1;
        break;
      case Word::kUnicode:
        Unicode(has_param ? param : 0);
        break;
      case Word::kCodePage:
        if (has_param) {
          page_ = CodePageFromNumber(param);
          cache_valid_ = false;
        }
        break;
      case Word::kRed:
      case Word::kGreen:
      case Word::kBlue: {
        const auto v = static_cast<uint8_t>(Clamp(has_param ? param : 0L, 0L, 255L));
        if (entry.word == Word::kRed) pending_colour_.r = v;
        if (entry.word == Word::kGreen) pending_colour_.g = v;
        if (entry.word == Word::kBlue) pending_colour_.b = v;
        pending_has_component_ = true;
        break;
      }
      case Word::kSymbol:
        Emit(entry.symbol);
        break;
      case Word::kBin:
        break;
    }
    if (IsParagraphWord(entry.word)) NoteParagraphProps();
  }

  static bool IsParagraphWord(Word w) {
    switch (w) {
      case Word::kPard:
      case Word::kLeft:
      case Word::kCentre:
      case Word::kRight:
      case Word::kJustify:
      case Word::kLeftIndent:
      case Word::kFirstIndent:
      case Word::kSpaceBefore:
      case Word::kSpaceAfter:
      case Word::kLineSpacing:
      case Word::kLineMultiple:
      case Word::kTabStop:
        return true;
      default:
        return false;
    }
  }

  static void AddTabStop(ParagraphProps& p, long twips) {
    if (p.tabs.size() < kMaxTabs) {
      p.tabs.push_back(TabStop{static_cast<int>(Clamp(twips, 0, kMaxPictureTwips)), p.next_tab_kind,
                               p.next_tab_leader});
    }
    p.next_tab_kind = TabKind::kLeft;
    p.next_tab_leader = TabLeader::kNone;
  }

  void EndColour() {
    colours_.push_back(pending_has_component_ ? std::optional<Rgb>(pending_colour_) : std::nullopt);
    pending_colour_ = Rgb{};
    pending_has_component_ = false;
  }

  // \uN: N is a signed 16-bit value; the fallback characters that follow are
  // skipped. Characters beyond the BMP come as a pair of surrogates.
  void Unicode(long n) {
    skip_fallback_ = State().unicode_skip;
    if (!TextDest()) return;
    if (n < 0) n += 65536;
    if (n < 0 || n > 0xFFFF) {
      Emit(0xFFFD);
      return;
    }
    auto unit = static_cast<char32_t>(n);
    // The Symbol font's characters written as its private-use code points.
    if (unit >= 0xF020 && unit <= 0xF0FF && (Page() == CodePage::kSymbol || InWingdings())) {
      unit = Decode(static_cast<uint8_t>(unit - 0xF000));
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      FlushSurrogate();
      high_surrogate_ = unit;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      if (high_surrogate_ != 0) {
        const char32_t cp = 0x10000 + ((high_surrogate_ - 0xD800) << 10) + (unit - 0xDC00);
        high_surrogate_ = 0;
        Emit(cp);
      } else {
        Emit(0xFFFD);
      }
    } else {
      Emit(unit);
    }
  }

  void FlushSurrogate() {
    if (high_surrogate_ == 0) return;
    high_surrogate_ = 0;
    Emit(0xFFFD);
  }

  // The paragraph that text of the current group goes to.
  Paragraph& Current() { return Current(stack_.empty() ? Target::kBody : State().target); }

  Paragraph& Current(Target target) {
    switch (target) {
      case Target::kFootnote:
        return footnote_para_;
      case Target::kFrame:
        return frame_para_;
      case Target::kBody:
        break;
    }
    return para_;
  }

  // The text of the last run of the current paragraph, started anew when the
  // style changes.
  std::string& RunText() {
    Paragraph& p = Current();
    const RunStyle& style = State().style;
    if (p.runs.empty() || p.runs.back().picture >= 0 || !(p.runs.back().style == style)) {
      if (p.runs.empty()) TakeProps(p, State().para);
      p.runs.push_back(Run{std::string(), style});
    }
    return p.runs.back().text;
  }

  void Emit(char32_t cp) {
    if (!TextDest() || State().hidden) return;
    if (high_surrogate_ != 0) FlushSurrogate();
    if (State().dest == Dest::kListText) {
      // The marker of a list paragraph: its text without the tabs and
      // blanks around it; one blank parts it from the paragraph's text.
      if (cp == U'\t' || cp == U' ' || cp == U'\n') {
        list_text_space_ = list_text_shown_;
        return;
      }
      if (list_text_space_) AppendUtf8(RunText(), U' ');
      list_text_space_ = false;
      list_text_shown_ = true;
    }
    AppendUtf8(RunText(), cp);
  }

  void EmitNumber(int n) {
    for (const char c : std::to_string(n)) Emit(static_cast<char32_t>(c));
  }

  void EndListText() {
    if (list_text_shown_) Emit(U' ');
    list_text_shown_ = false;
    list_text_space_ = false;
  }

  static void TakeProps(Paragraph& p, const ParagraphProps& props) {
    p.alignment = props.alignment;
    p.tabs = props.tabs;
    p.left_indent_twips = props.left_indent;
    p.first_line_indent_twips = props.first_indent;
    p.space_before_twips = props.space_before;
    p.space_after_twips = props.space_after;
    p.line_spacing_twips = props.line_spacing;
    p.line_spacing_multiple = props.line_multiple;
  }

  // A paragraph that ends without \par keeps the formatting last set while
  // it had text.
  void NoteParagraphProps() {
    Paragraph& p = Current();
    if (!p.runs.empty()) TakeProps(p, State().para);
  }

  void EndParagraph() {
    if (stack_.empty() || State().dest != Dest::kText) return;
    FlushSurrogate();
    Paragraph& p = Current();
    TakeProps(p, State().para);
    Paragraph done = std::move(p);
    p = Paragraph{};
    switch (State().target) {
      case Target::kFootnote:
        footnote_paras_.push_back(std::move(done));
        return;
      case Target::kFrame:
        frame_paras_.push_back(std::move(done));
        return;
      case Target::kBody:
        break;
    }
    if (State().para.in_table) {
      cell_.paragraphs.push_back(std::move(done));
    } else {
      if (RowPending()) EndRow();
      doc_.paragraphs.push_back(std::move(done));
    }
  }

  bool RowPending() const { return !row_cells_.empty() || !cell_.paragraphs.empty(); }

  void EndCell() {
    FlushSurrogate();
    if (!para_.runs.empty() || cell_.paragraphs.empty()) {
      TakeProps(para_, State().para);
      cell_.paragraphs.push_back(std::move(para_));
    }
    para_ = Paragraph{};
    if (row_cells_.size() < kMaxTableColumns) {
      row_cells_.push_back(std::move(cell_));
    } else {
      auto& last = row_cells_.back().paragraphs;
      for (Paragraph& p : cell_.paragraphs) last.push_back(std::move(p));
    }
    cell_ = TableCell{};
  }

  void EndRow() {
    if (!para_.runs.empty() || !cell_.paragraphs.empty()) EndCell();
    if (row_cells_.empty()) return;
    TableRow row;
    row.cells = std::move(row_cells_);
    row_cells_.clear();
    long left = row_left_;
    for (const long edge : row_edges_) {
      row.cell_widths_twips.push_back(static_cast<int>(Clamp(edge - left, 0, kMaxPictureTwips)));
      left = edge;
    }
    MergeCells(row);
    const bool continues = !doc_.paragraphs.empty() && doc_.paragraphs.back().table >= 0 &&
                           doc_.tables.back().rows.size() < kMaxTableRows;
    if (!continues) {
      Paragraph placeholder;
      placeholder.table = static_cast<int>(doc_.tables.size());
      doc_.tables.emplace_back();
      doc_.paragraphs.push_back(std::move(placeholder));
    }
    doc_.tables.back().rows.push_back(std::move(row));
    ++rows_;
  }

  // Cells merged into the one before them (\clmrg) become part of it: its
  // width grows by theirs, and what text they hold follows its own.
  void MergeCells(TableRow& row) const {
    const std::size_t n =
        std::min({row.cells.size(), row.cell_widths_twips.size(), row_merged_.size()});
    std::vector<TableCell> cells;
    std::vector<int> widths;
    for (std::size_t k = 0; k < std::max(row.cells.size(), row.cell_widths_twips.size()); ++k) {
      if (k > 0 && k < n && row_merged_[k]) {
        for (Paragraph& p : row.cells[k].paragraphs) {
          if (!p.runs.empty()) cells.back().paragraphs.push_back(std::move(p));
        }
        widths.back() =
            std::min(widths.back() + row.cell_widths_twips[k], static_cast<int>(kMaxPictureTwips));
        continue;
      }
      if (k < row.cells.size()) cells.push_back(std::move(row.cells[k]));
      if (k < row.cell_widths_twips.size()) widths.push_back(row.cell_widths_twips[k]);
    }
    row.cells = std::move(cells);
    row.cell_widths_twips = std::move(widths);
  }

  // A group that sent text elsewhere has ended.
  void EndTarget(Target ended) {
    if (ended == Target::kFootnote) {
      if (!footnote_para_.runs.empty()) footnote_paras_.push_back(std::move(footnote_para_));
      footnote_para_ = Paragraph{};
      if (!footnote_marked_ && !footnote_paras_.empty()) {
        // A note without its own mark is given its number.
        auto& runs = footnote_paras_.front().runs;
        RunStyle style;
        style.vertical = VerticalPosition::kSuperscript;
        runs.insert(runs.begin(), Run{std::to_string(footnotes_) + " ", style});
      }
      for (Paragraph& p : footnote_paras_) notes_.push_back(std::move(p));
      footnote_paras_.clear();
    } else if (ended == Target::kFrame) {
      if (!frame_para_.runs.empty()) frame_paras_.push_back(std::move(frame_para_));
      frame_para_ = Paragraph{};
      const bool in_table = RowPending() || State().para.in_table;
      for (Paragraph& p : frame_paras_) {
        (in_table ? cell_.paragraphs : doc_.paragraphs).push_back(std::move(p));
      }
      frame_paras_.clear();
    }
  }

  void EndOfDocument() {
    if (ended_) return;
    ended_ = true;
    if (!stack_.empty()) {
      // A document cut short inside a picture or a note keeps what was read.
      if (pict_) EndPicture();
      if (State().target != Target::kBody) EndTarget(State().target);
    }
    if (!para_.runs.empty()) {
      Paragraph last = std::move(para_);
      para_ = Paragraph{};
      if (!stack_.empty() && State().para.in_table) {
        cell_.paragraphs.push_back(std::move(last));
      } else {
        if (RowPending()) EndRow();
        doc_.paragraphs.push_back(std::move(last));
      }
    }
    if (RowPending()) EndRow();
    if (!notes_.empty()) {
      // The notes follow the text, after an empty paragraph.
      doc_.paragraphs.emplace_back();
      for (Paragraph& p : notes_) doc_.paragraphs.push_back(std::move(p));
      notes_.clear();
    }
  }

  // Pictures.
  void PictureWord(Word w, long v) {
    PictureInProgress& p = *pict_;
    switch (w) {
      case Word::kPicWidth:
        p.w = Clamp(v, 0, kParamLimit);
        break;
      case Word::kPicHeight:
        p.h = Clamp(v, 0, kParamLimit);
        break;
      case Word::kPicGoalWidth:
        p.goal_w = Clamp(v, 0, kParamLimit);
        break;
      case Word::kPicGoalHeight:
        p.goal_h = Clamp(v, 0, kParamLimit);
        break;
      case Word::kPicScaleX:
        p.scale_x = Clamp(v, 1, 10000);
        break;
      case Word::kPicScaleY:
        p.scale_y = Clamp(v, 1, 10000);
        break;
      case Word::kPng:
        p.picture.format = Picture::Format::kPng;
        break;
      case Word::kJpeg:
        p.picture.format = Picture::Format::kJpeg;
        break;
      case Word::kDib:
        p.picture.format = Picture::Format::kBmp;
        p.dib = true;
        break;
      case Word::kMetafile:
        p.picture.format = Picture::Format::kOther;
        p.bitmap_units = false;
        break;
      case Word::kBitmap:
        p.picture.format = Picture::Format::kOther;
        break;
      default:
        break;
    }
  }

  void PictureByte(uint8_t b) {
    if (!pict_) return;
    const int v = HexDigitValue(static_cast<char>(b));
    if (v < 0) return;
    if (pict_->nibble < 0) {
      pict_->nibble = v;
    } else {
      pict_->picture.data.push_back(static_cast<char>(pict_->nibble * 16 + v));
      pict_->nibble = -1;
    }
  }

  static int Twips(long goal, long size, bool bitmap_units, long scale) {
    long twips = goal;
    if (twips <= 0) twips = bitmap_units ? size * 15 : size * 1440 / 2540;
    twips = twips / 100 * scale + twips % 100 * scale / 100;
    return static_cast<int>(Clamp(twips, 15, kMaxPictureTwips));
  }

  void EndPicture() {
    if (!pict_) return;
    PictureInProgress p = std::move(*pict_);
    pict_.reset();
    p.picture.width_twips = Twips(p.goal_w, p.w, p.bitmap_units, p.scale_x);
    p.picture.height_twips = Twips(p.goal_h, p.h, p.bitmap_units, p.scale_y);
    if (p.dib) p.picture.data = WithBmpHeader(p.picture.data);
    if (p.picture.format == Picture::Format::kOther) p.picture.data.clear();
    const int index = static_cast<int>(doc_.pictures.size());
    doc_.pictures.push_back(std::move(p.picture));
    if (!pict_shows_) return;
    Paragraph& para = Current(pict_target_);
    if (para.runs.empty()) TakeProps(para, State().para);
    para.runs.push_back(Run{std::string(kObjectReplacement), pict_style_, index});
  }

  // A device-independent bitmap as a BMP file: the 14-byte file header in
  // front, pointing at the pixels after the info header and the palette.
  static std::string WithBmpHeader(const std::string& dib) {
    if (dib.size() < 40) return {};
    auto u32 = [&](std::size_t at) {
      return static_cast<uint32_t>(static_cast<uint8_t>(dib[at])) |
             static_cast<uint32_t>(static_cast<uint8_t>(dib[at + 1])) << 8 |
             static_cast<uint32_t>(static_cast<uint8_t>(dib[at + 2])) << 16 |
             static_cast<uint32_t>(static_cast<uint8_t>(dib[at + 3])) << 24;
    };
    const uint32_t header = u32(0);
    const uint32_t bits = static_cast<uint8_t>(dib[14]) | static_cast<uint8_t>(dib[15]) << 8;
    uint32_t colours = u32(32);
    if (colours == 0 && bits <= 8) colours = 1U << bits;
    if (colours > 256) colours = 256;
    const uint32_t masks = (u32(16) == 3 && header == 40) ? 12 : 0;
    const uint32_t offset = 14 + std::min<uint32_t>(header, 124) + masks + colours * 4;
    const auto size = static_cast<uint32_t>(dib.size() + 14);
    std::string out = "BM";
    for (const uint32_t v : {size, 0U, offset}) {
      for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
    }
    out += dib;
    return out;
  }

  std::string_view in_;
  const ReadCancelled& cancelled_;
  std::size_t pos_ = 0;
  bool done_ = false;
  bool ended_ = false;
  std::vector<GroupState> stack_;
  std::size_t flattened_ = 0;  // groups deeper than kMaxGroupDepth still open
  std::size_t rows_ = 0;       // table rows of the whole document
  // Code pages: the document's and the fonts'.
  CodePage page_ = CodePage::kWindows1250;
  std::unordered_map<long, CodePage> font_pages_;
  std::unordered_set<long> wingdings_fonts_;
  std::string font_name_;  // of the font being defined
  long defining_font_ = -1;
  long default_font_ = -1;
  long cached_font_ = -1;
  bool cache_valid_ = false;
  CodePage cached_page_ = CodePage::kWindows1250;
  bool cached_wingdings_ = false;
  // Colour table.
  std::vector<std::optional<Rgb>> colours_;
  Rgb pending_colour_;
  bool pending_has_component_ = false;
  int skip_fallback_ = 0;
  char32_t high_surrogate_ = 0;
  // List markers.
  bool list_text_shown_ = false;
  bool list_text_space_ = false;
  // Tables: the row being read.
  std::vector<long> row_edges_;
  std::vector<bool> row_merged_;  // per edge: \clmrg
  bool next_cell_merged_ = false;
  long row_left_ = 0;
  std::vector<TableCell> row_cells_;
  TableCell cell_;
  // Footnotes and text boxes.
  int footnotes_ = 0;
  bool footnote_marked_ = false;
  Paragraph footnote_para_;
  std::vector<Paragraph> footnote_paras_;
  std::vector<Paragraph> notes_;
  Paragraph frame_para_;
  std::vector<Paragraph> frame_paras_;
  // Pictures.
  std::optional<PictureInProgress> pict_;
  RunStyle pict_style_;
  bool pict_shows_ = false;  // neither hidden nor in a list's marker
  Target pict_target_ = Target::kBody;
  std::string shape_property_;  // the name of the shape's property being read
  Document doc_;
  Paragraph para_;
};

}  // namespace

Document ParseRtf(std::string_view bytes, const ReadCancelled& cancelled) {
  return RtfReader(bytes, cancelled).Read();
}

}  // namespace m32::info
