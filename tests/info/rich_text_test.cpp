// The help text reader: RTF snippets and plain text into the document model.
#include "info/rich_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace m32::info {
namespace {

// A paragraph's runs joined by '|', each as its text and, when the style is
// not the default, {flags}: b, i, u, s (struck through), the size in half points when not 24,
// #rrggbb for a colour, ^ raised, _ lowered.
std::string Runs(const Paragraph& p) {
  std::string out;
  for (const Run& r : p.runs) {
    const RunStyle& s = r.style;
    std::string f = std::string(s.bold ? "b" : "") + (s.italic ? "i" : "") +
                    (s.underline ? "u" : "") + (s.strike ? "s" : "");
    if (s.half_points != 24) f += std::to_string(s.half_points);
    if (s.colour) {
      char rgb[8];
      (void)std::snprintf(rgb, sizeof rgb, "#%02x%02x%02x", s.colour->r, s.colour->g, s.colour->b);
      f += rgb;
    }
    if (s.vertical != VerticalPosition::kBaseline)
      f += s.vertical == VerticalPosition::kSuperscript ? "^" : "_";
    out += (out.empty() ? "" : "|") + r.text + (f.empty() ? "" : "{" + f + "}");
  }
  return out;
}

// The paragraphs joined by '|'; a table as [rows joined by ';', cells by ',',
// a cell's paragraphs by '/', then '@' and the first row's widths].
std::string Layout(const Document& d) {
  std::string out;
  for (const Paragraph& p : d.paragraphs) {
    if (!out.empty()) out += '|';
    if (p.table < 0) {
      out += p.Text();
      continue;
    }
    const Table& t = d.tables.at(static_cast<std::size_t>(p.table));
    out += '[';
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
      const auto& cells = t.rows[r].cells;
      for (std::size_t k = 0; k < cells.size(); ++k) {
        out += r > 0 && k == 0 ? ";" : k > 0 ? "," : "";
        for (std::size_t i = 0; i < cells[k].paragraphs.size(); ++i)
          out += (i > 0 ? "/" : "") + cells[k].paragraphs[i].Text();
      }
    }
    const auto& widths = t.rows.at(0).cell_widths_twips;
    for (std::size_t i = 0; i < widths.size(); ++i)
      out += (i > 0 ? "," : "@") + std::to_string(widths[i]);
    out += ']';
  }
  return out;
}

struct Case {
  const char* legend;
  std::string input;
  std::string want;
};

TEST(Reader, GivesTheText) {
  const Case cases[] = {
      {"paragraphs end at \\par; the last one needs none", R"({\rtf1 one\par two})", "one\ntwo"},
      {"a trailing \\par leaves no empty paragraph behind", R"({\rtf1 one\par})", "one"},
      {"empty paragraphs in the middle stay", R"({\rtf1 a\par\par b})", "a\n\nb"},
      {"line ends in the source are not text", "{\\rtf1 a\r\nb\nc}", "abc"},
      {"\\line breaks inside the paragraph", R"({\rtf1 a\line b})", "a\nb"},
      {"the space after a control word is its delimiter", R"({\rtf1\b bold\b0  x})", "bold x"},
      {"escaped braces and backslash", R"({\rtf1 \{a\}\\})", "{a}\\"},
      {"\\tab and a literal tab", "{\\rtf1 a\\tab b\tc}", "a\tb\tc"},
      {"\\~ \\- \\_ specials", R"({\rtf1 a\~b\-c\_d})", "a\u00A0bc\u2011d"},
      {"\\'hh decodes through 1250 by default", R"({\rtf1 \'e8\'ed\'f8\'9e})", "čířž"},
      {"\\ansicpg1252 switches to Western", R"({\rtf1\ansi\ansicpg1252 \'e8\'9c})", "èœ"},
      {"an unknown code page reads as 1250", R"({\rtf1\ansicpg866 \'e8})", "č"},
      {"raw 8-bit bytes decode like escapes", "{\\rtf1 \xe8\xed}", "čí"},
      {"a byte without a character becomes U+FFFD", R"({\rtf1 \'81})", "\uFFFD"},
      {"bad or short hex escapes show nothing", R"({\rtf1 a\'zzb\'4})", "azzb"},
      {"\\u with the default fallback of one char", R"({\rtf1 \u269?x})", "čx"},
      {"negative \\u values wrap to 16 bits", R"({\rtf1 \u-3913?})", "\uF0B7"},
      {"\\uc0 skips nothing", R"({\rtf1\uc0 \u269 x})", "čx"},
      {"an escaped byte counts as one fallback char", R"({\rtf1\uc1 \u269\'e8x})", "čx"},
      {"\\uc is scoped to its group", R"({\rtf1 {\uc2 \u269ab}\u269cd})", "ččd"},
      {"a closing brace ends the fallback early", R"({\rtf1\uc3 {\u269a}bc})", "čbc"},
      {"a surrogate pair becomes one character", R"({\rtf1 \u-10179?\u-8704?})", "\U0001F600"},
      {"a lone high surrogate becomes U+FFFD", R"({\rtf1 \u-10179?x})", "\uFFFDx"},
      {"font, colour and style sheet tables are not text",
       R"({\rtf1{\fonttbl{\f0 Arial;}}{\colortbl;\red255\green0\blue0;})"
       R"({\stylesheet{\s0 Normal;}}{\info{\title T}}hi})",
       "hi"},
      {"\\* destinations are skipped whole",
       R"({\rtf1 a{\*\generator Foo {nested} x;}b{\*\unknown q}c})", "abc"},
      {"\\bin data is never parsed; a picture is one object character",
       "{\\rtf1 a{\\pict\\bin4 }{\\}}b}", "a\uFFFCb"},
      {"unknown control words are ignored, their text stays",
       R"({\rtf1\foo\barx12 text\zz-4 more})", "textmore"},
      {"a field shows its result, not its instruction",
       R"({\rtf1{\field{\*\fldinst HYPERLINK "x"}{\fldrslt link}}})", "link"},
      {"symbol words", R"({\rtf1\bullet\endash\emdash\lquote\rquote})",
       "\u2022\u2013\u2014\u2018\u2019"},
      // Character sets of fonts.
      {"\\fcharset238 over \\ansicpg1252: Czech letters",
       R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0\fswiss\fcharset238 Arial;}})"
       R"(\f0 P\'f8\'edli\'9a \'9elu\'9dou\'e8k\'fd k\'f9\'f2 \'fap\'ecl})",
       "Příliš žluťoučký kůň úpěl"},
      {"\\fcharset204 is Cyrillic, 161 Greek, 0 Western",
       R"({\rtf1{\fonttbl{\f1\fcharset204 A;}{\f2\fcharset161 B;}{\f3\fcharset0 C;}})"
       R"(\f1\'cf\'f0\'e8 \f2\'e1\'e2 \f3\'e8})",
       "При αβ è"},
      {"\\fcharset2: the Symbol font, plain letters included",
       R"({\rtf1{\fonttbl{\f4\ftech\fcharset2 Symbol;}}{\f4 a\'b3\u61623?}x})", "α≥•x"},
      {"a font without a known set falls back to \\ansicpg",
       R"({\rtf1\ansicpg1251{\fonttbl{\f0\fcharset1 X;}}\f0\'c0})", "А"},
      {"a font's \\cpg gives its code page", R"({\rtf1{\fonttbl{\f0\cpg1251 A;}}\f0\'c0})", "А"},
      {"a font redefined with an unknown set forgets the set it had",
       R"({\rtf1{\fonttbl{\f0\fcharset204 A;}{\f0\fcharset77 B;}}\f0\'c0})", "Ŕ"},
      {"Wingdings by its name: its bullets and arrows, not the Symbol font's signs",
       R"({\rtf1{\fonttbl{\f3\fnil\fcharset2 Wingdings;}{\f4\fcharset2 Symbol;}})"
       R"({\f3\'a7\'e0\'d8\u61548?\'22}{\f4\'b7})",
       "▪→➢●\uFFFD•"},
      {"\\plain returns to the default font",
       R"({\rtf1\deff0{\fonttbl{\f0\fcharset238 A;}{\f1\fcharset204 B;}}\f1\'c0\plain\'c0})", "АŔ"},
      // Text that does not show, and text that does.
      {"hidden text (\\v) is not shown", R"({\rtf1 a{\v secret}b\v c\v0 d})", "abd"},
      {"a tracked deletion is not shown", R"({\rtf1 a{\deleted old}b})", "ab"},
      {"a text box shows, before the paragraph that anchors it",
       R"({\rtf1 a{\shp{\*\shpinst{\sp{\sn fillColor}{\sv 255}}{\shptxt Pozor\par}}})"
       R"({\shprslt{\pard Pozor\par}}b})",
       "Pozor\nab"},
      {"a positioned frame's paragraph shows",
       R"({\rtf1\pard\posx100\posy200\absw2000 V\'fdstraha\par\pard b})", "Výstraha\nb"},
      {"a list's number is its marker; an empty one leaves nothing",
       R"({\rtf1{\listtext\pard\plain \tab}\ls1 Nadpis\par{\listtext 1.\tab}Bod})",
       "Nadpis\n1. Bod"},
      // Pictures outside the text flow show at their anchor, once.
      {"a picture anchored to its paragraph (LibreOffice)",
       R"({\rtf1 a{\field{\*\fldinst SHAPE }{\fldrslt{\shp{\*\shpinst\shpleft0)"
       R"({\sp{\sn shapeType}{\sv 75}}{\sp{\sn pib}{\sv{\pict\jpegblip ffd8}}}}}}}b})",
       "a\uFFFCb"},
      {"Word's floating picture shows once: its \\shprslt copy does not",
       R"({\rtf1 a{\shp{\*\shpinst{\sp{\sn pib}{\sv{\pict\pngblip 89}}}})"
       R"({\shprslt{\pict\wmetafile8 01}}}b})",
       "a\uFFFCb"},
      {"a file cut off inside a picture keeps the picture", "{\\rtf1 a{\\pict\\jpegblip ffd8",
       "a\uFFFC"},
      {"footnotes follow the text, numbered as their marks",
       R"({\rtf1 a{\super\chftn}{\*\footnote\chftn\~note\par} b})", "a1 b\n\n1\u00A0note"},
      {"a footnote without a mark is given its number", R"({\rtf1 a{\footnote note}b})",
       "ab\n\n1 note"},
      {"a row of cells is a table (text: cells by tabs)", R"({\rtf1 a\cell b\cell\row c})",
       "a\tb\nc"},
      {"text after the document's group is ignored", R"({\rtf1 a}b{c})", "a"},
      {"truncated inside a group keeps what was read", R"({\rtf1 one\par {\b two)", "one\ntwo"},
      {"a backslash at the very end", "{\\rtf1 a\\", "a"},
      {"a control word at the very end", "{\\rtf1 a\\par", "a"},
      {"a huge parameter does not overflow",
       R"({\rtf1\fs99999999999999999999 a\u99999999999999 b})", "a\uFFFD"},
      {"an empty document", R"({\rtf1})", ""},
      {"plain text: CR LF, LF and CR end lines", "one\r\ntwo\nthree\rfour",
       "one\ntwo\nthree\nfour"},
      {"plain text decodes Windows-1250", "P\xf8\xedli\x9a \x9elu\x9dou\xe8k\xfd k\xf9\xf2",
       "Příliš žluťoučký kůň"},
      {"blanks and blank lines before {\\rtf: still rich text", " \r\n\r\n{\\rtf1 x}", "x"},
      {"a UTF-8 byte-order mark before {\\rtf: rich text", "\xEF\xBB\xBF{\\rtf1 x}", "x"},
      {"other text before {\\rtf means plain", "x{\\rtf1 y}", "x{\\rtf1 y}"},
      {"plain text with a UTF-8 byte-order mark reads as UTF-8",
       "\xEF\xBB\xBFP\xC5\x99\xC3\xADli\xC5\xA1\r\n\xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD",
       "Příliš\nžluťoučký"},
      {"broken UTF-8 after the mark shows U+FFFD",
       "\xEF\xBB\xBF"
       "a\xC5"
       "b\xF0\x9F",
       "a\uFFFDb\uFFFD\uFFFD"},
      {"plain text: control bytes other than tab vanish", std::string("a\0b\tc\x01", 6), "ab\tc"},
      {"only opening braces end quietly", "{\\rtf1 " + std::string(100000, '{'), ""},
      {"a very long control word", "{\\rtf1 \\" + std::string(100000, 'a') + " x}", "x"},
      {"a very long parameter", "{\\rtf1 \\b" + std::string(100000, '9') + " x}", "x"},
      // Groups nested beyond the depth limit are read as part of the group
      // that holds them; braces still balance, so text after it shows.
      {"a skipped destination beyond the depth limit still ends",
       "{\\rtf1 " + std::string(kMaxGroupDepth + 10, '{') + "\\*\\x hidden" +
           std::string(kMaxGroupDepth + 10, '}') + "shown}",
       "shown"},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadHelpText(c.input).Text(), c.want) << c.legend;
}

TEST(Reader, RichAndPlainAreTold) {
  EXPECT_TRUE(ReadHelpText("{\\rtf1 x}").rich);
  EXPECT_FALSE(ReadHelpText("{\\rt x}").rich);
  EXPECT_FALSE(ReadHelpText("").rich);
  EXPECT_TRUE(ReadHelpText("").paragraphs.empty());
}

TEST(Reader, GivesTheRunsOfAParagraph) {
  const Case cases[] = {
      {"bold on and off", R"({\rtf1 a\b b\b0 c})", "a|b{b}|c"},
      {"italic and underline, \\ulnone ends underline", R"({\rtf1\i\ul x\ulnone y\i0 z})",
       "x{iu}|y{i}|z"},
      {"a group restores the attributes it changed", R"({\rtf1 a{\b\i\fs40 b{\ul c}d}e})",
       "a|b{bi40}|c{biu40}|d{bi40}|e"},
      {"\\plain resets every character attribute", R"({\rtf1\b\i\ul\fs30 a\plain b})",
       "a{biu30}|b"},
      {"\\fs without a value, zero or negative is the default size",
       R"({\rtf1\fs40 a\fs b\fs40 c\fs0 d})", "a{40}|b|c{40}|d"},
      {"\\cf picks from the colour table; 0 is the auto colour",
       R"({\rtf1{\colortbl;\red255\green0\blue0;\red0\green0\blue200;}\cf1 r\cf2 b\cf0 a\cf9 x})",
       "r{#ff0000}|b{#0000c8}|ax"},
      {"\\super and \\sub raise and lower; a group ends them", R"({\rtf1 10{\super 3} H{\sub 2}O})",
       "10|3{^}| H|2{_}|O"},
      {"\\up and \\dn by their sign, 0 and \\nosupersub return",
       R"({\rtf1\up6 a\up0 b\dn4 c\nosupersub d\up-2 e\plain f})", "a{^}|b|c{_}|d|e{_}|f"},
      {"equal styles merge into one run", R"({\rtf1 a{\b0 b}{c}\i0 d})", "abcd"},
      {"\\strike and \\striked1 strike through, 0 ends it",
       R"({\rtf1 a\strike b\strike0 c\striked1 d\striked0 e})", "a|b{s}|c|d{s}|e"},
  };
  for (const Case& c : cases) {
    const Document d = ReadHelpText(c.input);
    ASSERT_FALSE(d.paragraphs.empty()) << c.legend;
    EXPECT_EQ(Runs(d.paragraphs[0]), c.want) << c.legend;
  }
}

TEST(Reader, AlignmentIsTakenAtTheParagraphEnd) {
  // Each paragraph takes the alignment in force at its \par; \pard returns to
  // left; a group's alignment ends with the group; the last paragraph, without
  // \par, keeps the alignment it had with its text.
  auto alignments = [](std::string_view in) {
    std::string out;
    for (const Paragraph& p : ReadHelpText(in).paragraphs)
      out += "LCRJ"[static_cast<int>(p.alignment)];
    return out;
  };
  EXPECT_EQ(alignments(R"({\rtf1\qc a\par\qr b\par\qj c\par\pard d\par{\qc e}\par\pard\qc f})"),
            "CRJLLC");
  EXPECT_EQ(alignments(R"({\rtf1 {\pard\qr last}})"), "R");
}

TEST(Reader, TabStopsBelongToTheParagraph) {
  // \tx sets a stop of the kind and leader named before it; \pard clears them;
  // the paragraph keeps the stops in force at its end.
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

TEST(Reader, BuildsTables) {
  const Case cases[] = {
      {"pandoc: each row in a group, cells' paragraphs in groups",
       R"({\rtf1 {\pard before\par})"
       R"({\trowd \trgaph120\cellx4320\cellx8640\trkeep\intbl{{{\pard\intbl A\par}\cell})"
       R"({{\pard\intbl B\par}\cell}}\intbl\row})"
       R"({\trowd \trgaph120\cellx4320\cellx8640\trkeep\intbl{{{\pard\intbl C\par}\cell})"
       R"({{\pard\intbl D\par}\cell}}\intbl\row}{\pard after\par}})",
       "before|[A,B;C,D@4320,4320]|after"},
      {"LibreOffice: \\trowd before each row, \\cell and \\row inline",
       R"({\rtf1\pard before\par\trowd\trql\trleft100\cellx4680\cellx9360\pard\plain\intbl A\cell)"
       R"(\pard\plain\intbl B\cell\row\pard\trowd\cellx4680\cellx9360\pard\intbl C\cell)"
       R"(\pard\intbl D\cell\row\pard after\par})",
       "before|[A,B;C,D@4580,4680]|after"},
      {"a cell holds several paragraphs",
       R"({\rtf1\trowd\cellx2000\cellx4000\intbl one\par two\cell three\cell\row})",
       "[one/two,three@2000,2000]"},
      {"a row cut short by the file's end is kept", R"({\rtf1\trowd\cellx2000\intbl a\cell b)",
       "[a,b@2000]"},
      {"a paragraph outside the table ends a row missing its \\row",
       R"({\rtf1\trowd\cellx2000\intbl a\cell\pard b\par})", "[a@2000]|b"},
      {"a text box in a row, outside \\intbl, stays in its cell",
       R"({\rtf1\trowd\cellx2000\cellx4000 a\cell{\shp{\*\shpinst{\shptxt box\par}}}b\cell\row})",
       "[a,box/b@2000,2000]"},
      {"a cell merged into the one before it (\\clmrg) widens it",
       R"({\rtf1\trowd\clmgf\cellx2000\clmrg\cellx3000\cellx5000\intbl A\cell\cell B\cell\row})",
       "[A,B@3000,2000]"},
      {"rows beyond the limit start a new table",
       [] {
         std::string in = R"({\rtf1\trowd\cellx2000 )";
         for (std::size_t r = 0; r <= kMaxTableRows; ++r) in += R"(x\cell\row )";
         return in + "}";
       }(),
       [] {
         std::string want = "[x";
         for (std::size_t r = 1; r < kMaxTableRows; ++r) want += ";x";
         return want + "@2000]|[x@2000]";
       }()},
  };
  for (const Case& c : cases) {
    const Document d = ReadHelpText(c.input);
    EXPECT_EQ(d.tables.size(),
              static_cast<std::size_t>(std::count(c.want.begin(), c.want.end(), '[')))
        << c.legend;
    EXPECT_EQ(Layout(d), c.want) << c.legend;
  }
}

TEST(Reader, ATableRowHasAtMostSoManyCells) {
  std::string in = R"({\rtf1\trowd )";
  for (std::size_t i = 0; i < kMaxTableColumns + 5; ++i) in += "x\\cell ";
  const Document d = ReadHelpText(in + "\\row}");
  ASSERT_EQ(d.tables.size(), 1U);
  const TableRow& row = d.tables[0].rows.at(0);
  ASSERT_EQ(row.cells.size(), kMaxTableColumns);
  // The surplus cells' text is not lost: it joins the last cell.
  EXPECT_EQ(row.cells.back().paragraphs.size(), 6U);
}

TEST(Reader, KeepsThePicturesSizeAndData) {
  struct PictureCase {
    const char* legend;
    std::string input;
    Picture::Format format;
    std::string data_prefix;
    int width_twips;
    int height_twips;
  };
  const PictureCase cases[] = {
      {"PNG in hex, the goal size scaled",
       R"({\rtf1 a{\*\shppict{\pict\pngblip\picw10\pich20\picwgoal1000\pichgoal2000)"
       R"(\picscalex50\picscaley100 89504e47 0d0a}}{\nonshppict{\pict\wmetafile8 00}}b})",
       Picture::Format::kPng, "\x89PNG\r\n", 500, 2000},
      {"a bitmap without goal: pixels at 15 twips",
       R"({\rtf1 a{\pict\jpegblip\picw64\pich32 ffd8}b})", Picture::Format::kJpeg, "\xFF\xD8", 960,
       480},
      {"a metafile: no data kept, size in hundredths of a millimetre",
       R"({\rtf1 a{\pict\wmetafile8\picw2540\pich1270 0102}b})", Picture::Format::kOther, "", 1440,
       720},
      {"a device-independent bitmap gets its file header",
       "{\\rtf1 a{\\pict\\dibitmap0\\picw1\\pich1 28000000" + std::string(72, '0') + "}b}",
       Picture::Format::kBmp, "BM", 15, 15},
      {"a picture frame's picture (the shape's pib)",
       R"({\rtf1 a{\shp{\*\shpinst{\sp{\sn pib}{\sv{\pict\jpegblip\picw64\pich32 ffd8}}}}}b})",
       Picture::Format::kJpeg, "\xFF\xD8", 960, 480},
  };
  for (const PictureCase& c : cases) {
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
}

TEST(Reader, ARichTextEndsAfterSoManyParagraphsAndTables) {
  // Legend: what repeats past the limit.
  const char* const repeats[] = {"\\par ", "\\trowd x\\cell\\row\\pard\\par "};
  for (const char* repeated : repeats) {
    SCOPED_TRACE(repeated);
    std::string in = "{\\rtf1 ";
    for (std::size_t i = 0; i < kMaxRichBlocks + 10; ++i) in += repeated;
    const Document d = ReadHelpText(in + "end}");
    std::size_t blocks = d.paragraphs.size() + d.tables.size();
    for (const Table& t : d.tables) blocks += t.rows.size() * kRowWeight;
    // A table row under way when the limit is reached still ends its table.
    EXPECT_GE(blocks, kMaxRichBlocks);
    EXPECT_LE(blocks, kMaxRichBlocks + kRowWeight + 1);
    EXPECT_EQ(d.Text().find("end"), std::string::npos);
  }
}

TEST(Reader, DeepNestingIsFlattenedNotRecursed) {
  // Far deeper than any stack would survive if the reader recursed.
  const std::size_t depth = 200000;
  const Document d = ReadHelpText("{\\rtf1 a" + std::string(depth, '{') + "\\b deep" +
                                  std::string(depth, '}') + "tail}after");
  // The document's group closes exactly where its braces balance.
  EXPECT_EQ(d.Text(), "adeeptail");
  ASSERT_EQ(d.paragraphs.size(), 1U);
  EXPECT_EQ(Runs(d.paragraphs[0]), "a|deep{b}|tail");
}

}  // namespace
}  // namespace m32::info
