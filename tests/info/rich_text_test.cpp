// The help text reader: RTF snippets and plain text into the document model.
#include "info/rich_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace m32::info {
namespace {

struct TextCase {
  const char* legend;
  std::string input;
  std::string text;  // Document::Text()
};

class ReaderText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ReaderText, GivesTheText) {
  const TextCase& c = GetParam();
  EXPECT_EQ(ReadHelpText(c.input).Text(), c.text) << c.legend;
}

INSTANTIATE_TEST_SUITE_P(
    Snippets, ReaderText,
    ::testing::Values(
        TextCase{"paragraphs end at \\par; the last one needs none", R"({\rtf1 one\par two})",
                 "one\ntwo"},
        TextCase{"a trailing \\par leaves no empty paragraph behind", R"({\rtf1 one\par})", "one"},
        TextCase{"empty paragraphs in the middle stay", R"({\rtf1 a\par\par b})", "a\n\nb"},
        TextCase{"line ends in the source are not text", "{\\rtf1 a\r\nb\nc}", "abc"},
        TextCase{"\\line breaks inside the paragraph", R"({\rtf1 a\line b})", "a\nb"},
        TextCase{"the space after a control word is its delimiter", R"({\rtf1\b bold\b0  x})",
                 "bold x"},
        TextCase{"escaped braces and backslash", R"({\rtf1 \{a\}\\})", "{a}\\"},
        TextCase{"\\tab and a literal tab", "{\\rtf1 a\\tab b\tc}", "a\tb\tc"},
        TextCase{"\\~ \\- \\_ specials", R"({\rtf1 a\~b\-c\_d})", "a\u00A0bc\u2011d"},
        TextCase{"\\'hh decodes through 1250 by default", R"({\rtf1 \'e8\'ed\'f8\'9e})", "čířž"},
        TextCase{"\\ansicpg1252 switches to Western", R"({\rtf1\ansi\ansicpg1252 \'e8\'9c})", "èœ"},
        TextCase{"an unknown code page reads as 1250", R"({\rtf1\ansicpg866 \'e8})", "č"},
        TextCase{"raw 8-bit bytes decode like escapes", "{\\rtf1 \xe8\xed}", "čí"},
        TextCase{"a byte without a character becomes U+FFFD", R"({\rtf1 \'81})", "\uFFFD"},
        TextCase{"bad or short hex escapes show nothing", R"({\rtf1 a\'zzb\'4})", "azzb"},
        TextCase{"\\u with the default fallback of one char", R"({\rtf1 \u269?x})", "čx"},
        TextCase{"negative \\u values wrap to 16 bits", R"({\rtf1 \u-3913?})", "\uF0B7"},
        TextCase{"\\uc0 skips nothing", R"({\rtf1\uc0 \u269 x})", "čx"},
        TextCase{"an escaped byte counts as one fallback char", R"({\rtf1\uc1 \u269\'e8x})", "čx"},
        TextCase{"\\uc is scoped to its group", R"({\rtf1 {\uc2 \u269ab}\u269cd})", "ččd"},
        TextCase{"a closing brace ends the fallback early", R"({\rtf1\uc3 {\u269a}bc})", "čbc"},
        TextCase{"a surrogate pair becomes one character", R"({\rtf1 \u-10179?\u-8704?})",
                 "\U0001F600"},
        TextCase{"a lone high surrogate becomes U+FFFD", R"({\rtf1 \u-10179?x})", "\uFFFDx"},
        TextCase{"font, colour and style sheet tables are not text",
                 R"({\rtf1{\fonttbl{\f0 Arial;}}{\colortbl;\red255\green0\blue0;})"
                 R"({\stylesheet{\s0 Normal;}}{\info{\title T}}hi})",
                 "hi"},
        TextCase{"\\* destinations are skipped whole",
                 R"({\rtf1 a{\*\generator Foo {nested} x;}b{\*\unknown q}c})", "abc"},
        TextCase{"\\bin data is never parsed; a picture is one object character",
                 "{\\rtf1 a{\\pict\\bin4 }{\\}}b}", "a\uFFFCb"},
        TextCase{"unknown control words are ignored, their text stays",
                 R"({\rtf1\foo\barx12 text\zz-4 more})", "textmore"},
        TextCase{"a field shows its result, not its instruction",
                 R"({\rtf1{\field{\*\fldinst HYPERLINK "x"}{\fldrslt link}}})", "link"},
        TextCase{"symbol words", R"({\rtf1\bullet\endash\emdash\lquote\rquote})",
                 "\u2022\u2013\u2014\u2018\u2019"},
        // Character sets of fonts.
        TextCase{"\\fcharset238 over \\ansicpg1252: Czech letters",
                 R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0\fswiss\fcharset238 Arial;}})"
                 R"(\f0 P\'f8\'edli\'9a \'9elu\'9dou\'e8k\'fd k\'f9\'f2 \'fap\'ecl})",
                 "Příliš žluťoučký kůň úpěl"},
        TextCase{"\\fcharset204 is Cyrillic, 161 Greek, 0 Western",
                 R"({\rtf1{\fonttbl{\f1\fcharset204 A;}{\f2\fcharset161 B;}{\f3\fcharset0 C;}})"
                 R"(\f1\'cf\'f0\'e8 \f2\'e1\'e2 \f3\'e8})",
                 "При αβ è"},
        TextCase{"\\fcharset2: the Symbol font, plain letters included",
                 R"({\rtf1{\fonttbl{\f4\ftech\fcharset2 Symbol;}}{\f4 a\'b3\u61623?}x})", "α≥•x"},
        TextCase{"a font without a known set falls back to \\ansicpg",
                 R"({\rtf1\ansicpg1251{\fonttbl{\f0\fcharset1 X;}}\f0\'c0})", "А"},
        TextCase{
            "\\plain returns to the default font",
            R"({\rtf1\deff0{\fonttbl{\f0\fcharset238 A;}{\f1\fcharset204 B;}}\f1\'c0\plain\'c0})",
            "АŔ"},
        // Text that does not show, and text that does.
        TextCase{"hidden text (\\v) is not shown", R"({\rtf1 a{\v secret}b\v c\v0 d})", "abd"},
        TextCase{"a tracked deletion is not shown", R"({\rtf1 a{\deleted old}b})", "ab"},
        TextCase{"a text box shows, before the paragraph that anchors it",
                 R"({\rtf1 a{\shp{\*\shpinst{\sp{\sn fillColor}{\sv 255}}{\shptxt Pozor\par}}})"
                 R"({\shprslt{\pard Pozor\par}}b})",
                 "Pozor\nab"},
        TextCase{"a positioned frame's paragraph shows",
                 R"({\rtf1\pard\posx100\posy200\absw2000 V\'fdstraha\par\pard b})", "Výstraha\nb"},
        TextCase{"a list's number is its marker; an empty one leaves nothing",
                 R"({\rtf1{\listtext\pard\plain \tab}\ls1 Nadpis\par{\listtext 1.\tab}Bod})",
                 "Nadpis\n1. Bod"},
        TextCase{"footnotes follow the text, numbered as their marks",
                 R"({\rtf1 a{\super\chftn}{\*\footnote\chftn\~note\par} b})",
                 "a1 b\n\n1\u00A0note"},
        TextCase{"a footnote without a mark is given its number", R"({\rtf1 a{\footnote note}b})",
                 "ab\n\n1 note"},
        TextCase{"a row of cells is a table (text: cells by tabs)",
                 R"({\rtf1 a\cell b\cell\row c})", "a\tb\nc"},
        TextCase{"text after the document's group is ignored", R"({\rtf1 a}b{c})", "a"},
        TextCase{"truncated inside a group keeps what was read", R"({\rtf1 one\par {\b two)",
                 "one\ntwo"},
        TextCase{"a backslash at the very end", "{\\rtf1 a\\", "a"},
        TextCase{"a control word at the very end", "{\\rtf1 a\\par", "a"},
        TextCase{"a huge parameter does not overflow",
                 R"({\rtf1\fs99999999999999999999 a\u99999999999999 b})", "a\uFFFD"},
        TextCase{"an empty document", R"({\rtf1})", ""},
        TextCase{"plain text: CR LF, LF and CR end lines", "one\r\ntwo\nthree\rfour",
                 "one\ntwo\nthree\nfour"},
        TextCase{"plain text decodes Windows-1250",
                 "P\xf8\xedli\x9a \x9elu\x9dou\xe8k\xfd k\xf9\xf2", "Příliš žluťoučký kůň"},
        TextCase{"blanks and blank lines before {\\rtf: still rich text", " \r\n\r\n{\\rtf1 x}",
                 "x"},
        TextCase{"a UTF-8 byte-order mark before {\\rtf: rich text", "\xEF\xBB\xBF{\\rtf1 x}", "x"},
        TextCase{"other text before {\\rtf means plain", "x{\\rtf1 y}", "x{\\rtf1 y}"},
        TextCase{"plain text with a UTF-8 byte-order mark reads as UTF-8",
                 "\xEF\xBB\xBFP\xC5\x99\xC3\xADli\xC5\xA1\r\n\xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD",
                 "Příliš\nžluťoučký"},
        TextCase{"broken UTF-8 after the mark shows U+FFFD",
                 "\xEF\xBB\xBF"
                 "a\xC5"
                 "b\xF0\x9F",
                 "a\uFFFDb\uFFFD\uFFFD"},
        TextCase{"plain text: control bytes other than tab vanish", std::string("a\0b\tc\x01", 6),
                 "ab\tc"}));

TEST(Reader, RichAndPlainAreTold) {
  EXPECT_TRUE(ReadHelpText("{\\rtf1 x}").rich);
  EXPECT_FALSE(ReadHelpText("{\\rt x}").rich);
  EXPECT_FALSE(ReadHelpText("").rich);
  EXPECT_TRUE(ReadHelpText("").paragraphs.empty());
}

// Runs of one paragraph: their text and style.
struct RunCase {
  const char* legend;
  std::string input;
  std::vector<std::pair<std::string, RunStyle>> runs;  // of the first paragraph
};

RunStyle Style(bool b, bool i, bool u, int hp = 24, std::optional<Rgb> c = std::nullopt,
               VerticalPosition v = VerticalPosition::kBaseline) {
  return RunStyle{b, i, u, hp, c, v};
}
RunStyle Raised(VerticalPosition v) {
  return Style(false, false, false, 24, std::nullopt, v);
}

class ReaderRuns : public ::testing::TestWithParam<RunCase> {};

TEST_P(ReaderRuns, GivesTheRuns) {
  const RunCase& c = GetParam();
  const Document d = ReadHelpText(c.input);
  ASSERT_FALSE(d.paragraphs.empty()) << c.legend;
  const auto& runs = d.paragraphs[0].runs;
  ASSERT_EQ(runs.size(), c.runs.size()) << c.legend << ": " << d.paragraphs[0].Text();
  for (std::size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i].text, c.runs[i].first) << c.legend << " run " << i;
    EXPECT_EQ(runs[i].style, c.runs[i].second) << c.legend << " run " << i;
  }
}

const Rgb kRed{255, 0, 0};
const Rgb kBlue{0, 0, 200};

INSTANTIATE_TEST_SUITE_P(
    Snippets, ReaderRuns,
    ::testing::Values(RunCase{"bold on and off",
                              R"({\rtf1 a\b b\b0 c})",
                              {{"a", Style(false, false, false)},
                               {"b", Style(true, false, false)},
                               {"c", Style(false, false, false)}}},
                      RunCase{"italic and underline, \\ulnone ends underline",
                              R"({\rtf1\i\ul x\ulnone y\i0 z})",
                              {{"x", Style(false, true, true)},
                               {"y", Style(false, true, false)},
                               {"z", Style(false, false, false)}}},
                      RunCase{"a group restores the attributes it changed",
                              R"({\rtf1 a{\b\i\fs40 b{\ul c}d}e})",
                              {{"a", Style(false, false, false)},
                               {"b", Style(true, true, false, 40)},
                               {"c", Style(true, true, true, 40)},
                               {"d", Style(true, true, false, 40)},
                               {"e", Style(false, false, false)}}},
                      RunCase{
                          "\\plain resets every character attribute",
                          R"({\rtf1\b\i\ul\fs30 a\plain b})",
                          {{"a", Style(true, true, true, 30)}, {"b", Style(false, false, false)}}},
                      RunCase{"\\fs without a value, zero or negative is the default size",
                              R"({\rtf1\fs40 a\fs b\fs40 c\fs0 d})",
                              {{"a", Style(false, false, false, 40)},
                               {"b", Style(false, false, false)},
                               {"c", Style(false, false, false, 40)},
                               {"d", Style(false, false, false)}}},
                      RunCase{"\\cf picks from the colour table; 0 is the auto colour",
                              R"({\rtf1{\colortbl;\red255\green0\blue0;\red0\green0\blue200;})"
                              R"(\cf1 r\cf2 b\cf0 a\cf9 x})",
                              {{"r", Style(false, false, false, 24, kRed)},
                               {"b", Style(false, false, false, 24, kBlue)},
                               {"ax", Style(false, false, false)}}},
                      RunCase{"\\super and \\sub raise and lower; a group ends them",
                              R"({\rtf1 10{\super 3} H{\sub 2}O})",
                              {{"10", Style(false, false, false)},
                               {"3", Raised(VerticalPosition::kSuperscript)},
                               {" H", Style(false, false, false)},
                               {"2", Raised(VerticalPosition::kSubscript)},
                               {"O", Style(false, false, false)}}},
                      RunCase{"\\up and \\dn by their sign, 0 and \\nosupersub return",
                              R"({\rtf1\up6 a\up0 b\dn4 c\nosupersub d\up-2 e\plain f})",
                              {{"a", Raised(VerticalPosition::kSuperscript)},
                               {"b", Style(false, false, false)},
                               {"c", Raised(VerticalPosition::kSubscript)},
                               {"d", Style(false, false, false)},
                               {"e", Raised(VerticalPosition::kSubscript)},
                               {"f", Style(false, false, false)}}},
                      RunCase{"equal styles merge into one run",
                              R"({\rtf1 a{\b0 b}{c}\i0 d})",
                              {{"abcd", Style(false, false, false)}}}));

TEST(Reader, AlignmentIsTakenAtTheParagraphEnd) {
  // Legend: each paragraph takes the alignment in force at its \par; \pard
  // returns to left; a group's alignment ends with the group; the last
  // paragraph, without \par, keeps the alignment it had with its text.
  const Document d = ReadHelpText(
      R"({\rtf1\qc centre\par\qr right\par\qj just\par\pard left\par{\qc in}\par\pard\qc last})");
  ASSERT_EQ(d.paragraphs.size(), 6U);
  EXPECT_EQ(d.paragraphs[5].alignment, Alignment::kCentre);
  EXPECT_EQ(ReadHelpText(R"({\rtf1 {\pard\qr last}})").paragraphs.at(0).alignment,
            Alignment::kRight);
  EXPECT_EQ(d.paragraphs[0].alignment, Alignment::kCentre);
  EXPECT_EQ(d.paragraphs[1].alignment, Alignment::kRight);
  EXPECT_EQ(d.paragraphs[2].alignment, Alignment::kJustify);
  EXPECT_EQ(d.paragraphs[3].alignment, Alignment::kLeft);
  EXPECT_EQ(d.paragraphs[4].alignment, Alignment::kLeft);
}

TEST(Reader, TabStopsBelongToTheParagraph) {
  // Legend: \tx sets a stop of the kind and leader named before it; \pard
  // clears them; the paragraph keeps the stops in force at its end.
  const Document d = ReadHelpText(
      R"({\rtf1\tx1440\tqr\tldot\tx5000\tqc\tx3000\tqdec\tlhyph\tx4000 Mezern\'edk\tab p\'f8epnout\par)"
      R"(\pard plain})");
  ASSERT_EQ(d.paragraphs.size(), 2U);
  EXPECT_EQ(d.paragraphs[0].Text(), "Mezerník\tpřepnout");
  const std::vector<TabStop> want = {{1440, TabKind::kLeft, TabLeader::kNone},
                                     {5000, TabKind::kRight, TabLeader::kDots},
                                     {3000, TabKind::kCentre, TabLeader::kNone},
                                     {4000, TabKind::kDecimal, TabLeader::kHyphens}};
  EXPECT_EQ(d.paragraphs[0].tabs, want);
  EXPECT_TRUE(d.paragraphs[1].tabs.empty());
}

// Tables: rows of cells with the widths of their definition.
struct TableCase {
  const char* legend;
  std::string input;
  std::vector<std::vector<std::string>> cells;  // per row, each cell's text
  std::vector<int> first_row_widths;
  std::string around;  // the paragraphs before and after, joined by '|'
};

class ReaderTables : public ::testing::TestWithParam<TableCase> {};

TEST_P(ReaderTables, BuildsTheTable) {
  const TableCase& c = GetParam();
  const Document d = ReadHelpText(c.input);
  ASSERT_EQ(d.tables.size(), 1U) << c.legend << ": " << d.Text();
  const Table& t = d.tables[0];
  ASSERT_EQ(t.rows.size(), c.cells.size()) << c.legend;
  for (std::size_t r = 0; r < t.rows.size(); ++r) {
    ASSERT_EQ(t.rows[r].cells.size(), c.cells[r].size()) << c.legend << " row " << r;
    for (std::size_t k = 0; k < c.cells[r].size(); ++k) {
      std::string text;
      for (const Paragraph& p : t.rows[r].cells[k].paragraphs) {
        text += (text.empty() ? "" : "/") + p.Text();
      }
      EXPECT_EQ(text, c.cells[r][k]) << c.legend << " row " << r << " cell " << k;
    }
  }
  EXPECT_EQ(t.rows[0].cell_widths_twips, c.first_row_widths) << c.legend;
  std::string around;
  for (const Paragraph& p : d.paragraphs)
    around += (around.empty() ? "" : "|") + (p.table >= 0 ? "T" : p.Text());
  EXPECT_EQ(around, c.around) << c.legend;
}

INSTANTIATE_TEST_SUITE_P(
    Snippets, ReaderTables,
    ::testing::Values(
        TableCase{
            "pandoc: each row in a group, cells' paragraphs in groups",
            R"({\rtf1 {\pard before\par})"
            R"({\trowd \trgaph120\cellx4320\cellx8640\trkeep\intbl{{{\pard\intbl A\par}\cell})"
            R"({{\pard\intbl B\par}\cell}}\intbl\row})"
            R"({\trowd \trgaph120\cellx4320\cellx8640\trkeep\intbl{{{\pard\intbl C\par}\cell})"
            R"({{\pard\intbl D\par}\cell}}\intbl\row}{\pard after\par}})",
            {{"A", "B"}, {"C", "D"}},
            {4320, 4320},
            "before|T|after"},
        TableCase{
            "LibreOffice: \\trowd before each row, \\cell and \\row inline",
            R"({\rtf1\pard before\par\trowd\trql\trleft100\cellx4680\cellx9360\pard\plain\intbl A\cell)"
            R"(\pard\plain\intbl B\cell\row\pard\trowd\cellx4680\cellx9360\pard\intbl C\cell)"
            R"(\pard\intbl D\cell\row\pard after\par})",
            {{"A", "B"}, {"C", "D"}},
            {4580, 4680},
            "before|T|after"},
        TableCase{"a cell holds several paragraphs",
                  R"({\rtf1\trowd\cellx2000\cellx4000\intbl one\par two\cell three\cell\row})",
                  {{"one/two", "three"}},
                  {2000, 2000},
                  "T"},
        TableCase{"a row cut short by the file's end is kept",
                  R"({\rtf1\trowd\cellx2000\intbl a\cell b)",
                  {{"a", "b"}},
                  {2000},
                  "T"},
        TableCase{"a paragraph outside the table ends a row missing its \row",
                  R"({\rtf1\trowd\cellx2000\intbl a\cell\pard b\par})",
                  {{"a"}},
                  {2000},
                  "T|b"}));

TEST(Reader, ATableRowHasAtMostSoManyCells) {
  std::string in = R"({\rtf1\trowd )";
  for (std::size_t i = 0; i < kMaxTableColumns + 5; ++i) in += "x\\cell ";
  in += "\\row}";
  const Document d = ReadHelpText(in);
  ASSERT_EQ(d.tables.size(), 1U);
  const TableRow& row = d.tables[0].rows.at(0);
  ASSERT_EQ(row.cells.size(), kMaxTableColumns);
  // The surplus cells' text is not lost: it joins the last cell.
  EXPECT_EQ(row.cells.back().paragraphs.size(), 6U);
}

// Pictures: their size on the page and the bytes the toolkit decodes.
struct PictureCase {
  const char* legend;
  std::string input;
  Picture::Format format;
  std::string data_prefix;
  int width_twips;
  int height_twips;
};

class ReaderPictures : public ::testing::TestWithParam<PictureCase> {};

TEST_P(ReaderPictures, KeepsSizeAndData) {
  const PictureCase& c = GetParam();
  const Document d = ReadHelpText(c.input);
  ASSERT_EQ(d.pictures.size(), 1U) << c.legend;
  const Picture& p = d.pictures[0];
  EXPECT_EQ(p.format, c.format) << c.legend;
  EXPECT_EQ(p.data.substr(0, c.data_prefix.size()), c.data_prefix) << c.legend;
  EXPECT_EQ(p.width_twips, c.width_twips) << c.legend;
  EXPECT_EQ(p.height_twips, c.height_twips) << c.legend;
  ASSERT_EQ(d.paragraphs.size(), 1U) << c.legend;
  EXPECT_EQ(d.paragraphs[0].runs.at(1).picture, 0) << c.legend;
}

INSTANTIATE_TEST_SUITE_P(
    Snippets, ReaderPictures,
    ::testing::Values(
        PictureCase{
            "PNG in hex, the goal size scaled",
            R"({\rtf1 a{\*\shppict{\pict\pngblip\picw10\pich20\picwgoal1000\pichgoal2000)"
            R"(\picscalex50\picscaley100 89504e47 0d0a}}{\nonshppict{\pict\wmetafile8 00}}b})",
            Picture::Format::kPng, "\x89PNG\r\n", 500, 2000},
        PictureCase{"a bitmap without goal: pixels at 15 twips",
                    R"({\rtf1 a{\pict\jpegblip\picw64\pich32 ffd8}b})", Picture::Format::kJpeg,
                    "\xFF\xD8", 960, 480},
        PictureCase{"a metafile: no data kept, size in hundredths of a millimetre",
                    R"({\rtf1 a{\pict\wmetafile8\picw2540\pich1270 0102}b})",
                    Picture::Format::kOther, "", 1440, 720},
        PictureCase{
            "a device-independent bitmap gets its file header",
            "{\\rtf1 a{\\pict\\dibitmap0\\picw1\\pich1 28000000" + std::string(72, '0') + "}b}",
            Picture::Format::kBmp, "BM", 15, 15}));

TEST(Reader, DeepNestingIsFlattenedNotRecursed) {
  // Far deeper than any stack would survive if the reader recursed.
  const std::size_t depth = 200000;
  std::string in = "{\\rtf1 a";
  in += std::string(depth, '{');
  in += "\\b deep";
  in += std::string(depth, '}');
  in += "tail}after";
  const Document d = ReadHelpText(in);
  // The document's group closes exactly where its braces balance.
  EXPECT_EQ(d.Text(), "adeeptail");
  ASSERT_EQ(d.paragraphs.size(), 1U);
  EXPECT_TRUE(d.paragraphs[0].runs.at(1).style.bold);
  EXPECT_FALSE(d.paragraphs[0].runs.back().style.bold);
}

TEST(Reader, SkippedDestinationBeyondTheDepthLimitStillEnds) {
  // Legend: groups nested beyond the limit are read as part of the group that
  // holds them; braces still balance, so text after the real group shows.
  std::string in = "{\\rtf1 ";
  in += std::string(kMaxGroupDepth + 10, '{');
  in += "\\*\\x hidden";
  in += std::string(kMaxGroupDepth + 10, '}');
  in += "shown}";
  EXPECT_EQ(ReadHelpText(in).Text(), "shown");
}

TEST(Reader, OnlyOpeningBracesAndLongWordsEndQuietly) {
  EXPECT_EQ(ReadHelpText("{\\rtf1 " + std::string(100000, '{')).Text(), "");
  EXPECT_EQ(ReadHelpText("{\\rtf1 \\" + std::string(100000, 'a') + " x}").Text(), "x");
  EXPECT_EQ(ReadHelpText("{\\rtf1 \\b" + std::string(100000, '9') + " x}").Text(), "x");
}

}  // namespace
}  // namespace m32::info
