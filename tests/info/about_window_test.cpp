// The about window: its ten centred lines, its picture, its caption per
// language and its placement.
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <fstream>
#include <string>

#include "config/settings.h"
#include "config/text_table.h"
#include "info/about_text.h"
#include "info/about_window.h"

namespace m32 {

class AboutWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void HoldsTheTenCentredLines() {
    config::TextTable texts;
    QWidget main;
    TWoprog about(texts, &main);
    QTextDocument* doc = about.Redit()->document();
    QCOMPARE(doc->blockCount(), 10);
    QStringList expected{QString::fromStdString(config::Cp1250ToUtf8(texts.TitleText()))};
    for (std::string_view line : info::kMakerAddress) {
      expected << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    }
    expected << ""
             << ""
             << ""
             << ""
             << "" << QStringLiteral("Test vstupů a výstupů.");
    int i = 0;
    for (QTextBlock b = doc->firstBlock(); b.isValid(); b = b.next(), ++i) {
      QCOMPARE(b.text(), expected[i]);
      QCOMPARE(b.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    }
    QVERIFY(expected[0].startsWith(QStringLiteral(" M e r k a t - 3 2  verze 1.10")));
    QCOMPARE(about.Redit()->textCursor().position(), 0);
  }

  void HasTheFormsLayout() {
    config::TextTable texts;
    QWidget main;
    TWoprog about(texts, &main);
    QCOMPARE(about.size(), QSize(600, 335));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QCOMPARE(about.palette().color(QPalette::Window), QColor(255, 255, 0));
    QCOMPARE(about.Logo()->geometry(), QRect(216, 6, 142, 78));
    QVERIFY(!about.Logo()->pixmap().isNull());
    QCOMPARE(about.Logo()->pixmap().size(), QSize(142, 78));
    QCOMPARE(about.Redit()->geometry(), QRect(8, 88, 585, 241));
    QVERIFY(about.Redit()->isReadOnly());
    QCOMPARE(about.Redit()->lineWrapMode(), QTextEdit::NoWrap);
    QCOMPARE(about.Redit()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(about.Redit()->font().pixelSize(), 15);
    QVERIFY(about.Redit()->font().bold());
    QVERIFY(!(about.windowFlags() & Qt::WindowMaximizeButtonHint));
  }

  void CaptionFollowsTheLanguageAndPlacementTheMainWindow() {
    QTemporaryDir dir;
    config::ModulePath module;
    module.Derive((dir.path() + "/TOOL.EXE").toStdString());
    config::TextTable texts;
    QWidget main;
    main.move(300, 120);
    TWoprog about(texts, &main);
    const QString text_before = about.Redit()->toPlainText();
    about.show();
    QCOMPARE(about.windowTitle(), QStringLiteral("O programu"));
    QCOMPARE(about.pos(), QPoint(304, 152));
    QTest::keyClick(about.Redit(), Qt::Key_Escape);
    QVERIFY(!about.isVisible());

    // A language file whose last text (group 12 entry 0) is the caption.
    {
      std::ofstream mn1(module.SetExtension("MN1"), std::ios::binary);
      for (int k = 0; k < config::TextTable::kEntries - 1; ++k) mn1 << "t" << k << "\r\n";
      mn1 << "About\r\n";
    }
    QCOMPARE(texts.LoadTexts(module, 1), config::TextTable::LoadResult::kLoaded);
    main.move(40, 60);
    about.show();
    QCOMPARE(about.windowTitle(), QStringLiteral("About"));
    QCOMPARE(about.pos(), QPoint(44, 92));
    QCOMPARE(about.Redit()->toPlainText(), text_before);
    QTest::keyClick(about.Redit(), Qt::Key_Return);
    QVERIFY(!about.isVisible());
  }

  void LongLinesAreCutNotWrapped() {
    config::TextTable texts;
    QWidget main;
    TWoprog about(texts, &main);
    about.show();
    // Every block is one line: nothing wraps, whatever the width.
    for (QTextBlock b = about.Redit()->document()->firstBlock(); b.isValid(); b = b.next()) {
      QVERIFY(b.layout()->lineCount() <= 1);
    }
    // Short lines sit in the middle of the view, not at its left edge.
    const QTextBlock last = about.Redit()->document()->lastBlock();
    QVERIFY(last.layout()->lineAt(0).naturalTextRect().left() > 100);
  }
};

}  // namespace m32

QTEST_MAIN(m32::AboutWindowTest)
#include "about_window_test.moc"
