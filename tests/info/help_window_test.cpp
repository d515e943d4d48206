// The help viewer: the language's file or the error boxes, reading the file
// anew at every showing, line wrapping and the formats of rich text.
#include <QAction>
#include <QFontMetricsF>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextTable>
#include <QWidget>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/text_table.h"
#include "info/help_document.h"
#include "info/help_window.h"
#include "info/rich_text.h"
#include "support/temp_dir.h"

namespace m32 {

class HelpWindowTest : public QObject {
  Q_OBJECT

 private:
  // One viewer beside a fake executable TOOL.EXE in a fresh folder, with the
  // default help file `hlp` when given; the first message box is answered
  // with `answer`.
  struct Rig {
    test_support::TempDir dir;
    config::Settings settings;
    config::ModulePath module;
    config::TextTable texts;
    QWidget main;
    info::HelpViewer help{settings, module, texts, &main};
    std::vector<MessageRequest> boxes;
    QMessageBox::StandardButton answer = QMessageBox::Yes;

    explicit Rig(const std::optional<std::string>& hlp, int language = 0) {
      module.Derive(dir.File("TOOL.EXE"));
      settings.record.Language = static_cast<uint8_t>(language);
      help.SetMessageHook([this](const MessageRequest& r) {
        boxes.push_back(r);
        return boxes.size() == 1 ? answer : QMessageBox::Ok;
      });
      if (hlp) Write("HLP", *hlp);
    }
    std::string File(const std::string& ext) const { return dir.File("TOOL." + ext); }
    void Write(const std::string& ext, const std::string& content) const {
      test_support::WriteBytes(File(ext), content);
    }
    // Shows the viewer and waits until the file's text is in the view.
    void Show() {
      help.show();
      QVERIFY(QTest::qWaitFor([this] { return !help.Loading(); }));
    }
    QString Shown() const { return help.ShownDocument()->toPlainText(); }
    bool ShownPlain() const { return help.ShownView() == help.PlainView(); }
  };

  static std::string Sample(const QString& name) {
    return test_support::ReadBytes(std::string(M32_SAMPLES_DIR) + "/" + name.toStdString());
  }

 private slots:
  // Which file stands in for which is the help file loader's own table.
  void ShowsTheLanguagesFileOrReportsTheFailure_data() {
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("boxes");
    QTest::newRow("language 3 reads HL3")
        << QStringList{"HLP", "HL3"} << int{QMessageBox::Yes} << 0;
    QTest::newRow("no file, Yes: error box, then the details")
        << QStringList{} << int{QMessageBox::Yes} << 2;
    QTest::newRow("no file, No: the error box alone") << QStringList{} << int{QMessageBox::No} << 1;
  }
  void ShowsTheLanguagesFileOrReportsTheFailure() {
    QFETCH(QStringList, present);
    QFETCH(int, answer);
    QFETCH(int, boxes);
    Rig rig(std::nullopt, 3);
    rig.answer = static_cast<QMessageBox::StandardButton>(answer);
    for (const QString& ext : present) rig.Write(ext.toStdString(), ext.toStdString());
    rig.Show();
    QCOMPARE(rig.help.windowTitle(), QString::fromStdString(rig.texts.Utf8(11, 0)));
    QCOMPARE(rig.Shown(), boxes == 0 ? QStringLiteral("HL3") : QString());
    QCOMPARE(rig.help.LoadFailed(), boxes != 0);
    QCOMPARE(static_cast<int>(rig.boxes.size()), boxes);
    if (boxes >= 1) {
      QCOMPARE(rig.boxes[0].caption, QStringLiteral("CHYBA 20"));
      QCOMPARE(rig.boxes[0].text, QString::fromStdString(rig.texts.Utf8(11, 1)));
      QCOMPARE(rig.boxes[0].buttons, QMessageBox::Yes | QMessageBox::No);
    }
    if (boxes == 2) {
      // The details name the default language's file with its full path.
      QCOMPARE(rig.boxes[1].text,
               QString::fromStdString("Cannot open file " + rig.File("HLP") + "."));
      QCOMPARE(rig.boxes[1].icon, QMessageBox::Critical);
    }
  }

  void ReadsTheFileAgainAtEveryShowing() {
    Rig rig("old text");
    rig.Show();
    QCOMPARE(rig.Shown(), QStringLiteral("old text"));
    // Plain text shows in the plain view, in the view's own bold font.
    QVERIFY(rig.ShownPlain());
    QVERIFY(rig.help.ShownDocument()->find("old").charFormat().font().bold());
    rig.help.hide();
    rig.Write("HLP", "{\\rtf1 new {\\b text}}");
    rig.Show();
    QCOMPARE(rig.Shown(), QStringLiteral("new text"));
    QVERIFY(!rig.ShownPlain());
    // A failed showing does not stick: the next one with the file present succeeds.
    rig.help.hide();
    QCOMPARE(std::remove(rig.File("HLP").c_str()), 0);
    rig.Show();
    QVERIFY(rig.help.LoadFailed());
    QVERIFY(rig.Shown().isEmpty());
    rig.help.hide();
    rig.Write("HLP", "back");
    rig.Show();
    QVERIFY(!rig.help.LoadFailed());
    QCOMPARE(rig.Shown(), QStringLiteral("back"));
  }

  // Legend: the file; plain text has a view of its own.
  void TogglesWrappingAndOffersTheOppositeState_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("plain text") << "text";
    QTest::newRow("rich text") << "{\\rtf1 text}";
  }
  void TogglesWrappingAndOffersTheOppositeState() {
    QFETCH(QString, file);
    Rig rig(file.toStdString());
    // Wrapping is `on` and the menu item offers the opposite.
    auto wraps = [&rig](bool on) {
      return rig.help.WordWrap() == on &&
             rig.help.WordWrapAction()->text() ==
                 QString::fromStdString(rig.texts.Utf8(11, on ? 3 : 2));
    };
    rig.Show();
    QVERIFY(wraps(true));
    QTest::keyClick(rig.help.ShownView(), Qt::Key_W);  // "w"
    QVERIFY(wraps(false));
    QTest::keyClick(rig.help.ShownView(), Qt::Key_W, Qt::ShiftModifier);  // "W"
    QVERIFY(wraps(true));
    rig.help.WordWrapAction()->trigger();  // the menu item does the same
    QVERIFY(wraps(false));
    // Closed with wrapping off, shown again: wrapped.
    QTest::keyClick(rig.help.ShownView(), Qt::Key_Escape);
    QVERIFY(!rig.help.isVisible());
    rig.Show();
    QVERIFY(wraps(true));
    QTest::keyClick(rig.help.ShownView(), Qt::Key_Return);
    QVERIFY(!rig.help.isVisible());
  }

  void ShowsTheFormatsOfRichText() {
    Rig rig(
        "{\\rtf1{\\colortbl;\\red200\\green0\\blue0;}\\qc{\\b\\fs40 Title}\\par\\pard "
        "\\i it\\i0  \\cf1 red\\cf0  \\ul u\\ulnone\\line x\\tab y}");
    rig.Show();
    QTextDocument* doc = rig.help.TextView()->document();
    QCOMPARE(doc->blockCount(), 2);
    const QTextBlock title = doc->firstBlock();
    QCOMPARE(title.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(title.next().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    QCOMPARE(title.next().text(),
             QStringLiteral("it red u") + QChar(QChar::LineSeparator) + QStringLiteral("x\ty"));
    auto format_at = [&](const QString& needle) {
      return doc
          ->find(needle, 0, QTextDocument::FindCaseSensitively | QTextDocument::FindWholeWords)
          .charFormat();
    };
    QCOMPARE(format_at("Title").fontWeight(), static_cast<int>(QFont::Bold));
    QCOMPARE(format_at("Title").fontPointSize(), 20.0);
    QVERIFY(format_at("it").fontItalic());
    QCOMPARE(format_at("red").foreground().color(), QColor(200, 0, 0));
    QVERIFY(format_at("u").fontUnderline());
    // Rich text sets its own weight over the view's bold font.
    QCOMPARE(format_at("x").fontWeight(), static_cast<int>(QFont::Normal));
  }

  // Help files as word processors write them (tests/data/help, made by its
  // script), and a plain UTF-8 file with its byte-order mark. A file with a
  // table (pandoc, LibreOffice) shows a real 2 x 2 table, a raised exponent
  // and no paragraph that starts with a tab; copied as HTML the table and the
  // superscript stay. WordPad's file, 1252 with an East European font, holds
  // hidden, deleted and framed text.
  void ShowsWordProcessorFiles_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("not_shown");
    QTest::addColumn<bool>("table");
    const QStringList czech{"Příliš žluťoučký kůň úpěl"};
    QTest::newRow("pandoc") << "pandoc.rtf" << czech << QStringList{} << true;
    QTest::newRow("LibreOffice from ODT") << "lo_from_odt.rtf" << czech << QStringList{} << true;
    QTest::newRow("LibreOffice from DOCX") << "lo_from_docx.rtf" << czech << QStringList{} << true;
    QTest::newRow("LibreOffice from HTML") << "lo_from_html.rtf" << czech << QStringList{} << true;
    QTest::newRow("WordPad, 1252 with \\fcharset238")
        << "wordpad_1252.rtf"
        << (czech +
            QStringList{"Skrytý text: viditelný", "Pozor: napájení!", "Rámeček", "• položka"})
        << QStringList{"tajné", "smazáno"} << false;
    QTest::newRow("UTF-8 with a byte-order mark")
        << "plain_utf8_bom.txt" << czech
        << QStringList{QString(QChar(0xFEFF)), QStringLiteral("ï»¿")} << false;
  }
  void ShowsWordProcessorFiles() {
    QFETCH(QString, file);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, not_shown);
    QFETCH(bool, table);
    Rig rig(Sample(file));
    rig.Show();
    for (const QString& text : shown) QVERIFY2(rig.Shown().contains(text), qPrintable(text));
    for (const QString& text : not_shown) QVERIFY2(!rig.Shown().contains(text), qPrintable(text));
    if (!table) return;
    QTextDocument& doc = *rig.help.TextView()->document();
    std::vector<QTextTable*> tables;
    for (QTextFrame* frame : doc.rootFrame()->childFrames()) {
      if (auto* t = qobject_cast<QTextTable*>(frame)) tables.push_back(t);
    }
    QCOMPARE(tables.size(), std::size_t{1});
    QCOMPARE(tables[0]->rows(), 2);
    QCOMPARE(tables[0]->columns(), 2);
    QCOMPARE(tables[0]->cellAt(1, 0).firstCursorPosition().block().text(),
             QStringLiteral("Mezerník"));
    QCOMPARE(tables[0]->format().columnWidthConstraints().at(0).type(), QTextLength::FixedLength);
    QCOMPARE(doc.find(QStringLiteral("3"), doc.find(QStringLiteral("10")))
                 .charFormat()
                 .verticalAlignment(),
             QTextCharFormat::AlignSuperScript);
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
      QVERIFY2(!b.text().startsWith(QLatin1Char('\t')), qPrintable(b.text()));
    }
    const QString html = QTextDocumentFragment(&doc).toHtml();
    QVERIFY(html.contains(QStringLiteral("<table")));
    QVERIFY(html.contains(QStringLiteral("vertical-align:super")));
  }

  void AppliesTheFilesTabStops() {
    Rig rig(Sample("wordpad_1252.rtf"));
    rig.Show();
    const QTextBlock block =
        rig.help.TextView()->document()->find(QStringLiteral("Mezerník")).block();
    const QList<QTextOption::Tab> tabs = block.blockFormat().tabPositions();
    QCOMPARE(tabs.size(), 2);
    QCOMPARE(tabs[0].position, 96.0);  // 1440 twips, an inch
    QCOMPARE(tabs[1].type, QTextOption::RightTab);
  }

  // The layout of what word processors write, from the file's bytes to the
  // view's document (laid out 600 px wide). `probe` asks one thing of the
  // text `needle` (marks that do not show are not part of the text):
  //   starts/ends   where it starts or ends on its line (px from the left)
  //   struck        1 when drawn struck through
  //   spacing       its paragraph's space above/below and line height (px)
  //   cell          the columns its table cell spans and their width (px)
  //   first line    "text" when its paragraph's first line is as tall as
  //                 text, "tall" when taller than two lines
  //   tab distance  the default tab stops' distance (no needle)
  void LaysOutWhatTheFileSays_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("probe");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<QString>("want");
    // Decimal tab at 6 cm (226.8 px), right tab at 12 cm (453.6 px).
    const QByteArray prices =
        R"({\rtf1\pard\tqdec\tx3402\tqr\tx6804 in4\tab 7\tab 0,125\par)"
        R"(\pard\tqdec\tx3402 x\tab 3,5\par\pard\tqdec\tx3402 Cena\tab Nadpis\tab\par})";
    QTest::newRow("an integer at a decimal tab ends at the stop") << prices << "ends"
                                                                  << "7"
                                                                  << "227";
    QTest::newRow("the number after it goes on to the next stop") << prices << "ends"
                                                                  << "0,125"
                                                                  << "454";
    QTest::newRow("a decimal comma stands at the stop") << prices << "starts"
                                                        << ",5"
                                                        << "227";
    QTest::newRow("a heading at a decimal tab ends at the stop") << prices << "ends"
                                                                 << "Nadpis"
                                                                 << "227";
    const QByteArray struck = R"({\rtf1 {\strike 12 V} 24 V})";
    QTest::newRow("\\strike is struck through") << struck << "struck"
                                                << "12 V"
                                                << "1";
    QTest::newRow("text after it is not") << struck << "struck"
                                          << "24 V"
                                          << "0";
    QTest::newRow("\\deftab") << QByteArray(R"({\rtf1\deftab1134 a\tab b})") << "tab distance"
                              << ""
                              << "76";
    QTest::newRow("rich text without \\deftab: half an inch")
        << QByteArray(R"({\rtf1 a\tab b})") << "tab distance"
        << ""
        << "48";
    QTest::newRow("plain text: half an inch as well") << QByteArray(
                                                             "Mezern\xed"
                                                             "k\tp\xf8"
                                                             "epne")
                                                      << "tab distance"
                                                      << ""
                                                      << "48";
    QTest::newRow("\\sb, \\sa and \\sl in 240ths of a line (\\slmult1)")
        << QByteArray(R"({\rtf1\sb240\sa120\sl360\slmult1 Nadpis\par})") << "spacing"
        << "Nadpis"
        << "16/8/150%";
    QTest::newRow("\\sl negative: exactly")
        << QByteArray(R"({\rtf1\sl-300\slmult0 a\par})") << "spacing"
        << "a"
        << "0/0/20px";
    QTest::newRow("\\sl positive: at least")
        << QByteArray(R"({\rtf1\sl300\slmult0 a\par})") << "spacing"
        << "a"
        << "0/0/20px+";
    const QByteArray spans =
        R"({\rtf1\trowd\cellx2000\cellx4000\cellx6000\intbl a\cell b\cell c\cell\row)"
        R"(\trowd\cellx4000\cellx6000\intbl wide\cell next\cell\row)"
        R"(\trowd\cellx2000\clmgf\cellx4000\clmrg\cellx6000\intbl e\cell merged\cell\cell\row})";
    QTest::newRow("a row's wider cell spans the columns of the others") << spans << "cell"
                                                                        << "wide"
                                                                        << "2/267";
    QTest::newRow("the cell after it keeps its own column") << spans << "cell"
                                                            << "next"
                                                            << "1/133";
    QTest::newRow("cells merged with \\clmgf/\\clmrg span their columns") << spans << "cell"
                                                                          << "merged"
                                                                          << "2/267";
    QTest::newRow("a tall picture that wraps leaves the line before it as tall as text")
        << QByteArray(R"({\rtf1 Zapojen\'ed svorkovnice podle obr\'e1zku: )"
                      R"({\pict\wmetafile8\picwgoal6000\pichgoal3000 00}})")
        << "first line"
        << "Zapojení"
        << "text";
  }
  void LaysOutWhatTheFileSays() {
    QFETCH(QByteArray, file);
    QFETCH(QString, probe);
    QFETCH(QString, needle);
    QFETCH(QString, want);
    QFont font(QStringLiteral("Courier New"));
    font.setPixelSize(16);
    font.setBold(true);
    QTextDocument doc;
    QVERIFY(FillTextDocument(doc, info::ReadHelpText(file.toStdString()), font));
    doc.setTextWidth(600);
    (void)doc.size();  // lays it out
    if (probe == QLatin1String("tab distance")) {
      QCOMPARE(QString::number(qRound(doc.defaultTextOption().tabStopDistance())), want);
      return;
    }
    // The needle in the document, the invisible marks left out.
    QTextBlock block;
    int from = -1;
    int to = -1;
    for (QTextBlock b = doc.begin(); b.isValid() && from < 0; b = b.next()) {
      QString plain;
      std::vector<int> at;
      for (int i = 0; i < b.text().size(); ++i) {
        if (b.text()[i] == QChar(0x2060)) continue;
        plain += b.text()[i];
        at.push_back(i);
      }
      const auto found = plain.indexOf(needle);
      if (found < 0) continue;
      block = b;
      from = at[static_cast<std::size_t>(found)];
      to = at[static_cast<std::size_t>(found + needle.size() - 1)] + 1;
    }
    QVERIFY2(from >= 0, qPrintable(needle));
    QTextLayout& layout = *block.layout();
    QString got;
    if (probe == QLatin1String("starts") || probe == QLatin1String("ends")) {
      const int pos = probe == QLatin1String("starts") ? from : to;
      got = QString::number(qRound(layout.lineForTextPosition(pos).cursorToX(pos)));
    } else if (probe == QLatin1String("struck")) {
      QTextCursor c(&doc);
      c.setPosition(block.position() + to);
      got = c.charFormat().fontStrikeOut() ? "1" : "0";
    } else if (probe == QLatin1String("spacing")) {
      const QTextBlockFormat f = block.blockFormat();
      const auto type = static_cast<QTextBlockFormat::LineHeightTypes>(f.lineHeightType());
      got = QString::number(qRound(f.topMargin())) + "/" +
            QString::number(qRound(f.bottomMargin())) + "/" +
            QString::number(qRound(f.lineHeight())) +
            (type == QTextBlockFormat::ProportionalHeight ? "%"
             : type == QTextBlockFormat::MinimumHeight    ? "px+"
                                                          : "px");
    } else if (probe == QLatin1String("cell")) {
      QTextCursor c(&doc);
      c.setPosition(block.position() + from);
      QTextTable* table = c.currentTable();
      QVERIFY(table != nullptr);
      const QTextTableCell cell = table->cellAt(c);
      qreal width = 0;
      for (int k = 0; k < cell.columnSpan(); ++k) {
        width += table->format().columnWidthConstraints().at(cell.column() + k).rawValue();
      }
      got = QString::number(cell.columnSpan()) + "/" + QString::number(qRound(width));
    } else if (probe == QLatin1String("first line")) {
      const qreal text = QFontMetricsF(font).lineSpacing();
      got = layout.lineAt(0).height() <= 2 * text ? "text" : "tall";
    }
    QCOMPARE(got, want);
  }

  // Choosing the help item again while the viewer is open brings it to the
  // front without reading the file again; the wrap item has no check mark.
  void ShowingWhileOpenActivatesIt() {
    Rig rig("first");
    rig.main.show();
    rig.Show();
    QVERIFY(!rig.help.WordWrapAction()->isCheckable());
    rig.main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&rig.main));
    rig.Write("HLP", "second");
    rig.help.show();
    QVERIFY(QTest::qWaitForWindowActive(&rig.help));
    QVERIFY(!rig.help.Loading());
    QCOMPARE(rig.Shown(), QStringLiteral("first"));
  }

  // A viewer closed, or shown again, while a large file is still loading
  // neither shows the old file nor hangs.
  void ShowingAgainDuringALoadShowsTheNewFile() {
    std::string big = "{\\rtf1 ";
    while (big.size() < 4'000'000) big += "{\\b old} text\\par ";
    Rig rig(big + "}");
    rig.help.show();
    rig.help.hide();
    rig.Write("HLP", "new");
    rig.Show();
    QCOMPARE(rig.Shown(), QStringLiteral("new"));
  }
};

}  // namespace m32

QTEST_MAIN(m32::HelpWindowTest)
#include "help_window_test.moc"
