#include "info/rich_text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#include "info/codepage.h"

namespace m32::info {

std::string Paragraph::Text() const {
  std::string out;
  for (const Run& r : runs) out += r.text;
  return out;
}

std::string Document::Text() const {
  std::string out;
  for (std::size_t i = 0; i < paragraphs.size(); ++i) {
    if (i != 0) out.push_back('\n');
    out += paragraphs[i].Text();
  }
  return out;
}

bool LooksLikeRtf(std::string_view bytes) {
  return bytes.substr(0, 5) == "{\\rtf";
}

Document ReadHelpText(std::string_view bytes) {
  return LooksLikeRtf(bytes) ? ParseRtf(bytes) : ParsePlainText(bytes);
}

Document ParsePlainText(std::string_view bytes) {
  Document doc;
  doc.rich = false;
  Paragraph para;
  std::string line;
  auto flush = [&] {
    if (!line.empty()) para.runs.push_back(Run{std::move(line), RunStyle{}});
    line.clear();
    doc.paragraphs.push_back(std::move(para));
    para = Paragraph{};
  };
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    if (b == '\r') {
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      flush();
    } else if (b == '\n') {
      flush();
    } else if (b == '\t' || b >= 0x20) {
      AppendUtf8(line, DecodeByte(CodePage::kWindows1250, b));
    }
  }
  if (!line.empty()) flush();
  return doc;
}

namespace {

enum class Dest : uint8_t { kText, kSkip, kColourTable };

struct GroupState {
  RunStyle style;
  Alignment alignment = Alignment::kLeft;
  int unicode_skip = 1;  // \ucN: fallback characters after each \uN
  Dest dest = Dest::kText;
};

enum class Word : uint8_t {
  kUnknown,
  kSkipDest,
  kColourTable,
  kBold,
  kItalic,
  kUnderline,
  kUnderlineNone,
  kFontSize,
  kColour,
  kPlain,
  kPard,
  kLeft,
  kCentre,
  kRight,
  kJustify,
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
  kSymbol,  // a word that stands for one character
};

struct WordEntry {
  std::string_view name;
  Word word;
  char32_t symbol = 0;
};

constexpr std::array kWords = {
    // Destinations whose content is not text.
    WordEntry{"fonttbl", Word::kSkipDest},
    WordEntry{"stylesheet", Word::kSkipDest},
    WordEntry{"info", Word::kSkipDest},
    WordEntry{"pict", Word::kSkipDest},
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
    WordEntry{"footnote", Word::kSkipDest},
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
    WordEntry{"shp", Word::kSkipDest},
    WordEntry{"bkmkstart", Word::kSkipDest},
    WordEntry{"bkmkend", Word::kSkipDest},
    WordEntry{"template", Word::kSkipDest},
    WordEntry{"userprops", Word::kSkipDest},
    WordEntry{"colortbl", Word::kColourTable},
    // Character and paragraph formatting.
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
    WordEntry{"fs", Word::kFontSize},
    WordEntry{"cf", Word::kColour},
    WordEntry{"plain", Word::kPlain},
    WordEntry{"pard", Word::kPard},
    WordEntry{"ql", Word::kLeft},
    WordEntry{"qc", Word::kCentre},
    WordEntry{"qr", Word::kRight},
    WordEntry{"qj", Word::kJustify},
    // Structure and special characters.
    WordEntry{"par", Word::kPar},
    WordEntry{"sect", Word::kPar},
    WordEntry{"page", Word::kPar},
    WordEntry{"row", Word::kPar},
    WordEntry{"line", Word::kLine},
    WordEntry{"lbr", Word::kLine},
    WordEntry{"tab", Word::kTab},
    WordEntry{"cell", Word::kTab},
    WordEntry{"nestcell", Word::kTab},
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
  for (const WordEntry& e : kWords) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parameters are limited well inside the range of long so that no sum or
// negation can overflow.
constexpr long kParamLimit = 1'000'000'000;

class RtfReader {
 public:
  explicit RtfReader(std::string_view in) : in_(in) { stack_.reserve(kMaxGroupDepth); }

  Document Read() {
    doc_.rich = true;
    while (pos_ < in_.size() && !done_) {
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
          ReadTextByte(static_cast<uint8_t>(c));
          break;
      }
    }
    FlushSurrogate();
    if (!para_.runs.empty()) doc_.paragraphs.push_back(std::move(para_));
    return std::move(doc_);
  }

 private:
  GroupState& State() { return stack_.back(); }

  void OpenGroup() {
    if (stack_.size() >= static_cast<std::size_t>(kMaxGroupDepth)) {
      ++flattened_;
    } else if (stack_.empty()) {
      stack_.emplace_back();
    } else {
      stack_.push_back(stack_.back());
    }
  }

  void CloseGroup() {
    if (flattened_ > 0) {
      --flattened_;
      return;
    }
    if (stack_.empty()) return;  // a '}' before the document's group
    stack_.pop_back();
    if (stack_.empty()) done_ = true;  // the document's group has ended
  }

  void ReadTextByte(uint8_t b) {
    if (skip_fallback_ > 0) {
      --skip_fallback_;
      return;
    }
    if (stack_.empty()) return;
    if (State().dest == Dest::kColourTable) {
      if (b == ';') EndColour();
      return;
    }
    if (b == '\t') {
      Emit(U'\t');
    } else if (b >= 0x20) {
      Emit(DecodeByte(page_, b));
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
      // Raw bytes follow; they are never text.
      if (has_param && param > 0) {
        pos_ += std::min(static_cast<std::size_t>(param), in_.size() - pos_);
      }
      if (skip_fallback_ > 0) --skip_fallback_;
      return;
    }
    if (skip_fallback_ > 0) {
      --skip_fallback_;
      return;
    }
    if (stack_.empty() || entry == nullptr) return;
    ApplyWord(*entry, has_param, param);
  }

  void ReadControlSymbol(char c) {
    if (c == '\'') {
      int value = 0;
      int digits = 0;
      while (digits < 2 && pos_ < in_.size() && HexValue(in_[pos_]) >= 0) {
        value = value * 16 + HexValue(in_[pos_]);
        ++pos_;
        ++digits;
      }
      if (skip_fallback_ > 0) {
        --skip_fallback_;
        return;
      }
      if (digits == 2 && !stack_.empty() && State().dest == Dest::kText) {
        Emit(DecodeByte(page_, static_cast<uint8_t>(value)));
      }
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
        if (State().dest == Dest::kText) Emit(static_cast<char32_t>(c));
        break;
      case '~':
        Emit(0x00A0);
        break;
      case '_':
        Emit(0x2011);
        break;
      case '*':
        State().dest = Dest::kSkip;
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
      case Word::kFontSize:
        st.style.half_points =
            (!has_param || param <= 0) ? 24 : static_cast<int>(std::clamp(param, 2L, 3276L));
        break;
      case Word::kColour:
        st.style.colour =
            (has_param && param >= 0 && static_cast<std::size_t>(param) < colours_.size())
                ? colours_[static_cast<std::size_t>(param)]
                : std::nullopt;
        break;
      case Word::kPlain:
        st.style = RunStyle{};
        break;
      case Word::kPard:
      case Word::kLeft:
        st.alignment = Alignment::kLeft;
        break;
      case Word::kCentre:
        st.alignment = Alignment::kCentre;
        break;
      case Word::kRight:
        st.alignment = Alignment::kRight;
        break;
      case Word::kJustify:
        st.alignment = Alignment::kJustify;
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
        st.unicode_skip = has_param ? static_cast<int>(std::clamp(param, 0L, 16L)) : 1;
        break;
      case Word::kUnicode:
        Unicode(has_param ? param : 0);
        break;
      case Word::kCodePage:
        if (has_param) page_ = CodePageFromNumber(param);
        break;
      case Word::kRed:
      case Word::kGreen:
      case Word::kBlue: {
        const auto v = static_cast<uint8_t>(std::clamp(has_param ? param : 0L, 0L, 255L));
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
      case Word::kUnknown:
        break;
    }
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
    if (State().dest != Dest::kText) return;
    if (n < 0) n += 65536;
    if (n < 0 || n > 0xFFFF) {
      Emit(0xFFFD);
      return;
    }
    const auto unit = static_cast<char32_t>(n);
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

  void Emit(char32_t cp) {
    if (stack_.empty() || State().dest != Dest::kText) return;
    if (high_surrogate_ != 0) FlushSurrogate();
    const RunStyle& style = State().style;
    if (para_.runs.empty() || !(para_.runs.back().style == style)) {
      para_.runs.push_back(Run{std::string(), style});
    }
    AppendUtf8(para_.runs.back().text, cp);
  }

  void EndParagraph() {
    if (stack_.empty() || State().dest != Dest::kText) return;
    FlushSurrogate();
    para_.alignment = State().alignment;
    doc_.paragraphs.push_back(std::move(para_));
    para_ = Paragraph{};
  }

  std::string_view in_;
  std::size_t pos_ = 0;
  bool done_ = false;
  std::vector<GroupState> stack_;
  std::size_t flattened_ = 0;  // groups deeper than kMaxGroupDepth still open
  CodePage page_ = CodePage::kWindows1250;
  std::vector<std::optional<Rgb>> colours_;
  Rgb pending_colour_;
  bool pending_has_component_ = false;
  int skip_fallback_ = 0;
  char32_t high_surrogate_ = 0;
  Document doc_;
  Paragraph para_;
};

}  // namespace

Document ParseRtf(std::string_view bytes) {
  return RtfReader(bytes).Read();
}

}  // namespace m32::info
