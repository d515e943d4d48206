#include "info/help_document.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QImageReader>
#include <QList>
#include <QPainter>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QTextLength>
#include <QTextOption>
#include <QTextTable>
#include <QTextTableFormat>
#include <QUrl>
#include <algorithm>
#include <optional>
#include <vector>

namespace m32 {
namespace {

// Twips are 1/1440 inch; the view lays out at 96 logical pixels an inch.
qreal Px(int twips) {
  return twips * 96.0 / 1440.0;
}

// Decoded pictures beyond this many pixels in one document, or larger than
// this on a side, show as placeholders.
constexpr qint64 kMaxDecodedPixels = 64LL * 1024 * 1024;
constexpr int kMaxPictureSide = 8192;
// How many paragraphs the builder fills between asking whether to go on.
constexpr int kCancelCheckParagraphs = 256;
// The view lays out a paragraph in one go; a longer one (only damaged files
// have them) is broken into paragraphs of this many characters so that the
// view stays responsive while it lays them out.
constexpr qsizetype kMaxBlockChars = 4096;
// Style changes honoured per document; the text of any beyond (only damaged
// or machine-made files have that many) keeps the style its paragraph had
// when the budget ran out. A 16 MiB manual has about 250,000.
constexpr int kMaxStyledRuns = 400'000;
// Likewise per paragraph of the view: a paragraph with a style change every
// few characters takes the view long to lay out.
constexpr int kMaxRunsPerBlock = 128;
// A picture taller than this that follows text on its line starts a line of
// its own: the toolkit would give the line it wraps away from the picture's
// height as well.
constexpr qreal kOwnLinePictureHeight = 40.0;
// Cell edges of a table's rows closer than this are one column edge.
constexpr int kEdgeTolerance = 20;
// Merging cells costs the toolkit work in proportion to the table's size;
// beyond this much work per document, cells stay unmerged.
constexpr qint64 kMaxMergeWork = 4'000'000;
// The invisible mark at which the text after a decimal tab lines up (WORD
// JOINER: no width, no line break). It is written twice: the toolkit takes
// half the width of the character after the mark off the text's width.
constexpr QChar kDecimalMark(0x2060);

Qt::Alignment ToQt(info::Alignment a) {
  switch (a) {
    case info::Alignment::kCentre:
      return Qt::AlignHCenter;
    case info::Alignment::kRight:
      return Qt::AlignRight;
    case info::Alignment::kJustify:
      return Qt::AlignJustify;
    case info::Alignment::kLeft:
      break;
  }
  return Qt::AlignLeft;
}

QTextOption::TabType ToQt(info::TabKind k) {
  switch (k) {
    case info::TabKind::kCentre:
      return QTextOption::CenterTab;
    case info::TabKind::kRight:
      return QTextOption::RightTab;
    case info::TabKind::kDecimal:
      return QTextOption::DelimiterTab;
    case info::TabKind::kLeft:
      break;
  }
  return QTextOption::LeftTab;
}

QTextBlockFormat BlockFormat(const info::Paragraph& p) {
  QTextBlockFormat block;
  block.setAlignment(ToQt(p.alignment));
  if (!p.tabs.empty()) {
    QList<QTextOption::Tab> tabs;
    for (const info::TabStop& t : p.tabs) {
      // A decimal tab lines up at the mark MarkDecimalPoints puts.
      tabs.append(QTextOption::Tab(Px(t.twips), ToQt(t.kind),
                                   t.kind == info::TabKind::kDecimal ? kDecimalMark : QChar()));
    }
    block.setTabPositions(tabs);
  }
  if (p.left_indent_twips != 0) block.setLeftMargin(std::max(0.0, Px(p.left_indent_twips)));
  if (p.first_line_indent_twips != 0) block.setTextIndent(Px(p.first_line_indent_twips));
  if (p.space_before_twips > 0) block.setTopMargin(Px(p.space_before_twips));
  if (p.space_after_twips > 0) block.setBottomMargin(Px(p.space_after_twips));
  if (p.line_spacing_multiple && p.line_spacing_twips > 0) {
    // In 240ths of a single line.
    block.setLineHeight(p.line_spacing_twips * 100.0 / 240.0, QTextBlockFormat::ProportionalHeight);
  } else if (p.line_spacing_twips > 0) {
    block.setLineHeight(Px(p.line_spacing_twips), QTextBlockFormat::MinimumHeight);
  } else if (p.line_spacing_twips < 0) {
    block.setLineHeight(Px(-p.line_spacing_twips), QTextBlockFormat::FixedHeight);
  }
  return block;
}

bool HasDecimalTab(const info::Paragraph& p) {
  return std::any_of(p.tabs.begin(), p.tabs.end(),
                     [](const info::TabStop& t) { return t.kind == info::TabKind::kDecimal; });
}

bool IsDigitAt(const QString& s, qsizetype i) {
  return i >= 0 && i < s.size() && s[i].isDigit();
}

// The text after a tab, up to the next tab or line break, lines up at a
// decimal tab by its decimal separator: the first comma between digits, else
// the first full stop between digits; text without one ends at the stop. The
// toolkit would line up the first delimiter after the tab anywhere in the
// paragraph, so each such piece of text gets its own invisible mark where it
// is to line up. `texts` are the paragraph's runs in order.
void MarkDecimalPoints(std::vector<QString>& texts) {
  struct Place {
    std::size_t run = 0;
    qsizetype at = 0;
  };
  std::vector<Place> marks;
  bool after_tab = false;
  Place end;
  std::optional<Place> comma;
  std::optional<Place> stop;
  auto finish = [&] {
    if (after_tab) marks.push_back(comma ? *comma : stop ? *stop : end);
    after_tab = false;
  };
  for (std::size_t r = 0; r < texts.size(); ++r) {
    const QString& t = texts[r];
    for (qsizetype i = 0; i < t.size(); ++i) {
      const QChar c = t[i];
      if (c == QLatin1Char('\t') || c == QChar(QChar::LineSeparator)) {
        finish();
        after_tab = c == QLatin1Char('\t');
        end = Place{r, i + 1};
        comma.reset();
        stop.reset();
        continue;
      }
      if (!after_tab) continue;
      end = Place{r, i + 1};
      const bool between_digits = IsDigitAt(t, i - 1) && IsDigitAt(t, i + 1);
      if (!comma && between_digits && c == QLatin1Char(',')) comma = Place{r, i};
      if (!stop && between_digits && c == QLatin1Char('.')) stop = Place{r, i};
    }
  }
  finish();
  // Backwards, so that the places not yet marked keep their offsets.
  for (auto it = marks.rbegin(); it != marks.rend(); ++it) {
    texts[it->run].insert(it->at, QString(2, kDecimalMark));
  }
}

// Stands in for the document's layout while it is filled: the real one would
// lay out the text anew after every insertion. The view lays the finished
// document out itself, in slices.
class NoLayout final : public QAbstractTextDocumentLayout {
 public:
  explicit NoLayout(QTextDocument* doc) : QAbstractTextDocumentLayout(doc) {}
  void draw(QPainter* /*painter*/, const PaintContext& /*context*/) override {}
  int hitTest(const QPointF& /*point*/, Qt::HitTestAccuracy /*accuracy*/) const override {
    return -1;
  }
  int pageCount() const override { return 1; }
  QSizeF documentSize() const override { return {}; }
  QRectF frameBoundingRect(QTextFrame* /*frame*/) const override { return {}; }
  QRectF blockBoundingRect(const QTextBlock& /*block*/) const override { return {}; }

 protected:
  void documentChanged(int /*from*/, int /*removed*/, int /*added*/) override {}
};

// What the paragraph being filled holds so far.
struct BlockFill {
  qsizetype chars = 0;
  int runs = 0;
};

class Builder {
 public:
  Builder(QTextDocument& doc, const info::Document& model, const std::function<bool()>& cancelled)
      : doc_(doc), model_(model), cancelled_(cancelled) {}

  bool Build() {
    QTextCursor cursor(&doc_);
    // One edit block: a cursor outside one works out its place on the
    // screen after every insertion.
    cursor.beginEditBlock();
    const bool complete = Fill(cursor);
    cursor.endEditBlock();
    return complete;
  }

 private:
  bool Fill(QTextCursor& cursor) {
    bool fresh_block = true;  // the cursor's block is empty and unused
    for (const info::Paragraph& p : model_.paragraphs) {
      if (++since_check_ >= kCancelCheckParagraphs) {
        since_check_ = 0;
        if (cancelled_ && cancelled_()) return false;
      }
      if (p.table >= 0 && static_cast<std::size_t>(p.table) < model_.tables.size()) {
        if (!fresh_block) cursor.insertBlock(QTextBlockFormat());
        AddTable(cursor, model_.tables[static_cast<std::size_t>(p.table)]);
        cursor.movePosition(QTextCursor::End);
        fresh_block = true;
        continue;
      }
      AddParagraph(cursor, p, fresh_block);
      fresh_block = false;
    }
    return true;
  }

  void AddParagraph(QTextCursor& cursor, const info::Paragraph& p, bool fresh_block) {
    if (fresh_block) {
      cursor.setBlockFormat(BlockFormat(p));
    } else {
      cursor.insertBlock(BlockFormat(p));
    }
    std::vector<QString> texts;
    texts.reserve(p.runs.size());
    for (const info::Run& run : p.runs) {
      QString text = IsPicture(run) ? QString()
                                    : QString::fromUtf8(run.text.data(),
                                                        static_cast<qsizetype>(run.text.size()));
      text.replace(QLatin1Char('\n'), QChar(QChar::LineSeparator));
      texts.push_back(std::move(text));
    }
    if (HasDecimalTab(p)) MarkDecimalPoints(texts);
    BlockFill fill;
    bool line_has_text = false;  // the line being filled, so far
    QString unstyled;            // runs past the budget, inserted in one go
    QTextCharFormat unstyled_format;
    for (std::size_t i = 0; i < p.runs.size(); ++i) {
      const info::Run& run = p.runs[i];
      const bool picture = IsPicture(run);
      const QString& text = texts[i];
      if (!text.isEmpty()) {
        line_has_text = !text.endsWith(QChar(QChar::LineSeparator));
      }
      if (!picture && (styled_runs_ >= kMaxStyledRuns || fill.runs >= kMaxRunsPerBlock)) {
        if (unstyled.isEmpty()) unstyled_format = CharFormat(run.style);
        unstyled += text;
        continue;
      }
      ++styled_runs_;
      ++fill.runs;
      const QTextCharFormat format = CharFormat(run.style);
      if (!unstyled.isEmpty()) {
        InsertText(cursor, unstyled, unstyled_format, fill);
        unstyled.clear();
      }
      if (picture) {
        if (line_has_text &&
            Px(model_.pictures[static_cast<std::size_t>(run.picture)].height_twips) >
                kOwnLinePictureHeight) {
          InsertText(cursor, QString(QChar(QChar::LineSeparator)), format, fill);
        }
        AddPicture(cursor, run.picture, format);
        ++fill.chars;
        line_has_text = false;
      } else {
        InsertText(cursor, text, format, fill);
      }
    }
    if (!unstyled.isEmpty()) InsertText(cursor, unstyled, unstyled_format, fill);
  }

  bool IsPicture(const info::Run& run) const {
    return run.picture >= 0 && static_cast<std::size_t>(run.picture) < model_.pictures.size();
  }

  // Inserts text, breaking the paragraph where it grows too long.
  static void InsertText(QTextCursor& cursor, const QString& text, const QTextCharFormat& format,
                         BlockFill& fill) {
    qsizetype from = 0;
    while (text.size() - from > kMaxBlockChars - fill.chars) {
      const qsizetype take = kMaxBlockChars - fill.chars;
      cursor.insertText(text.mid(from, take), format);
      cursor.insertBlock(cursor.blockFormat());
      from += take;
      fill = BlockFill{};
    }
    cursor.insertText(from == 0 ? text : text.mid(from), format);
    fill.chars += text.size() - from;
  }

  QTextCharFormat CharFormat(const info::RunStyle& style) const {
    QTextCharFormat format;
    format.setForeground(QColor(Qt::black));
    if (!model_.rich) return format;
    format.setFontWeight(style.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(style.italic);
    format.setFontUnderline(style.underline);
    format.setFontStrikeOut(style.strike);
    format.setFontPointSize(style.half_points / 2.0);
    if (style.colour)
      format.setForeground(QColor(style.colour->r, style.colour->g, style.colour->b));
    switch (style.vertical) {
      case info::VerticalPosition::kSuperscript:
        format.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
        break;
      case info::VerticalPosition::kSubscript:
        format.setVerticalAlignment(QTextCharFormat::AlignSubScript);
        break;
      case info::VerticalPosition::kBaseline:
        break;
    }
    return format;
  }

  void AddTable(QTextCursor& cursor, const info::Table& table) {
    const TableGrid grid = Grid(table);
    QTextTableFormat format;
    format.setBorder(1);
    format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    format.setBorderCollapse(true);
    format.setCellSpacing(0);
    format.setCellPadding(3);
    format.setAlignment(Qt::AlignLeft);
    if (!grid.widths_twips.empty()) {
      QList<QTextLength> widths;
      for (std::size_t c = 0; c < grid.columns; ++c) {
        widths.append(c < grid.widths_twips.size()
                          ? QTextLength(QTextLength::FixedLength, Px(grid.widths_twips[c]))
                          : QTextLength());
      }
      format.setColumnWidthConstraints(widths);
    }
    const auto rows = static_cast<int>(table.rows.size());
    QTextTable* qt_table = cursor.insertTable(rows, static_cast<int>(grid.columns), format);
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
      const info::TableRow& row = table.rows[r];
      for (std::size_t c = 0; c < row.cells.size(); ++c) {
        QTextCursor cell =
            qt_table->cellAt(static_cast<int>(r), grid.first_column[r][c]).firstCursorPosition();
        bool fresh = true;
        for (const info::Paragraph& p : row.cells[c].paragraphs) {
          AddParagraph(cell, p, fresh);
          fresh = false;
        }
      }
    }
    // Cells that span columns, once their text is in (the cells they cover
    // are empty).
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
      const std::vector<int>& first = grid.first_column[r];
      for (std::size_t c = 0; c < first.size(); ++c) {
        const int end = c + 1 < first.size() ? first[c + 1] : grid.row_end[r];
        if (end - first[c] < 2) continue;
        merge_work_ += static_cast<qint64>(rows) * static_cast<qint64>(grid.columns);
        if (merge_work_ > kMaxMergeWork) return;
        qt_table->mergeCells(static_cast<int>(r), first[c], 1, end - first[c]);
      }
    }
  }

  // The columns of a table and where each row's cells stand in them.
  struct TableGrid {
    std::size_t columns = 1;
    std::vector<int> widths_twips;               // per column; empty: the toolkit's widths
    std::vector<std::vector<int>> first_column;  // per row, per cell
    std::vector<int> row_end;                    // per row: the column after its last cell
  };

  // The columns run between the cell edges of all rows, so that a cell as
  // wide as two of another row's spans both. A table whose rows give fewer
  // widths than cells, or edges for more columns than a row may have, has a
  // column per cell and the widths of the row with the most.
  static TableGrid Grid(const info::Table& table) {
    TableGrid grid;
    std::vector<int> edges;
    bool every_cell_has_width = true;
    for (const info::TableRow& row : table.rows) {
      every_cell_has_width = every_cell_has_width && !row.cells.empty() &&
                             row.cell_widths_twips.size() >= row.cells.size();
      int x = 0;
      for (std::size_t c = 0; c < row.cells.size() && c < row.cell_widths_twips.size(); ++c) {
        x += row.cell_widths_twips[c];
        edges.push_back(x);
      }
    }
    std::sort(edges.begin(), edges.end());
    std::vector<int> columns;  // right edges
    for (const int e : edges) {
      if (e > 0 && (columns.empty() || e - columns.back() > kEdgeTolerance)) columns.push_back(e);
    }
    if (every_cell_has_width && !columns.empty() && columns.size() <= info::kMaxTableColumns) {
      // The column of a row's edge: the first column edge not left of it.
      auto column_of = [&](int x) {
        return static_cast<int>(
            std::lower_bound(columns.begin(), columns.end(), x - kEdgeTolerance) - columns.begin());
      };
      bool fits = true;
      for (const info::TableRow& row : table.rows) {
        std::vector<int> first;
        int next = 0;  // the first free column
        int x = 0;
        for (std::size_t c = 0; c < row.cells.size(); ++c) {
          x += row.cell_widths_twips[c];
          first.push_back(next);
          next = std::max(next + 1, column_of(x) + 1);
        }
        fits = fits && next <= static_cast<int>(columns.size());
        grid.first_column.push_back(std::move(first));
        grid.row_end.push_back(next);
      }
      if (fits) {
        grid.columns = columns.size();
        int left = 0;
        for (const int e : columns) {
          grid.widths_twips.push_back(e - left);
          left = e;
        }
        return grid;
      }
      grid = TableGrid{};
    }
    const info::TableRow* widest = nullptr;
    for (const info::TableRow& row : table.rows) {
      grid.columns = std::max(grid.columns, row.cells.size());
      if (widest == nullptr || row.cell_widths_twips.size() > widest->cell_widths_twips.size()) {
        widest = &row;
      }
      std::vector<int> first;
      for (std::size_t c = 0; c < row.cells.size(); ++c) first.push_back(static_cast<int>(c));
      grid.first_column.push_back(std::move(first));
      grid.row_end.push_back(static_cast<int>(row.cells.size()));
    }
    if (widest != nullptr) grid.widths_twips = widest->cell_widths_twips;
    return grid;
  }

  void AddPicture(QTextCursor& cursor, int index, const QTextCharFormat& around) {
    const info::Picture& pic = model_.pictures[static_cast<std::size_t>(index)];
    QTextImageFormat image;
    image.merge(around);
    image.setWidth(Px(pic.width_twips));
    image.setHeight(Px(pic.height_twips));
    const QString name = QStringLiteral("m32pic:%1").arg(index);
    if (Decode(pic, name)) {
      image.setName(name);
    } else {
      image.setName(PlaceholderName());
    }
    cursor.insertImage(image);
  }

  // Adds the picture to the document's resources when the toolkit can
  // decode it within the limits.
  bool Decode(const info::Picture& pic, const QString& name) {
    const char* format = nullptr;
    switch (pic.format) {
      case info::Picture::Format::kPng:
        format = "png";
        break;
      case info::Picture::Format::kJpeg:
        format = "jpeg";
        break;
      case info::Picture::Format::kBmp:
        format = "bmp";
        break;
      case info::Picture::Format::kOther:
        return false;
    }
    if (pic.data.empty()) return false;
    QByteArray bytes =
        QByteArray::fromRawData(pic.data.data(), static_cast<qsizetype>(pic.data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kMaxPictureSide || size.height() > kMaxPictureSide) {
      return false;
    }
    const qint64 pixels = static_cast<qint64>(size.width()) * size.height();
    if (decoded_pixels_ + pixels > kMaxDecodedPixels) return false;
    QImage img = reader.read();
    if (img.isNull()) return false;
    decoded_pixels_ += pixels;
    doc_.addResource(QTextDocument::ImageResource, QUrl(name), img);
    return true;
  }

  // One small framed grey box, drawn at each placeholder's own size.
  QString PlaceholderName() {
    static const QString kName = QStringLiteral("m32pic:placeholder");
    if (!placeholder_added_) {
      QImage box(32, 32, QImage::Format_RGB32);
      box.fill(QColor(235, 235, 235));
      QPainter painter(&box);
      painter.setPen(QColor(150, 150, 150));
      painter.drawRect(0, 0, 31, 31);
      painter.drawLine(0, 0, 31, 31);
      painter.drawLine(0, 31, 31, 0);
      painter.end();
      doc_.addResource(QTextDocument::ImageResource, QUrl(kName), box);
      placeholder_added_ = true;
    }
    return kName;
  }

  QTextDocument& doc_;
  const info::Document& model_;
  const std::function<bool()>& cancelled_;
  int since_check_ = 0;
  int styled_runs_ = 0;
  qint64 decoded_pixels_ = 0;
  qint64 merge_work_ = 0;
  bool placeholder_added_ = false;
};

}  // namespace

bool FillTextDocument(QTextDocument& doc, const info::Document& model, const QFont& base,
                      const std::function<bool()>& cancelled) {
  doc.setDocumentLayout(new NoLayout(&doc));
  doc.clear();
  doc.setDefaultFont(base);
  doc.setUndoRedoEnabled(false);
  QTextOption option = doc.defaultTextOption();
  option.setTabStopDistance(Px(model.default_tab_twips));
  doc.setDefaultTextOption(option);
  const bool complete = Builder(doc, model, cancelled).Build();
  doc.setDocumentLayout(nullptr);
  return complete;
}

}  // namespace m32
