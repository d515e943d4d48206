// The about window: its text, its caption per language and the keys that
// close it.
#include <QLabel>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <string>

#include "config/settings.h"
#include "config/text_table.h"
#include "info/about_window.h"
#include "support/temp_dir.h"

namespace m32 {

class AboutWindowTest : public QObject {
  Q_OBJECT

 private slots:
  // Ten centred lines and the logo; the caption follows the language, the
  // text does not; Escape and Enter close the window.
  void ShowsItsTextAndCaptionAndClosesOnKeys() {
    test_support::TempDir dir;
    config::ModulePath module;
    module.Derive(dir.File("TOOL.EXE"));
    config::TextTable texts;
    QWidget main;
    info::AboutWindow about(texts, &main);
    QTextDocument* doc = about.TextView()->document();
    // The text's last line break ends the tenth line; it opens no eleventh.
    QCOMPARE(doc->blockCount(), 10);
    QVERIFY(doc->firstBlock().text().startsWith(QStringLiteral(" M e r k a t - 3 2  verze 1.10")));
    QCOMPARE(doc->lastBlock().text(), QStringLiteral("Test vstupů a výstupů."));
    for (QTextBlock b = doc->firstBlock(); b.isValid(); b = b.next()) {
      QCOMPARE(b.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    }
    QVERIFY(!about.Logo()->pixmap().isNull());  // the picture's resource is linked in
    const QString text = doc->toPlainText();
    about.show();
    QCOMPARE(about.windowTitle(), QStringLiteral("O programu"));
    QTest::keyClick(about.TextView(), Qt::Key_Escape);
    QVERIFY(!about.isVisible());

    // A language file whose last text (group 12 entry 0) is the caption.
    std::string mn1;
    for (int k = 0; k < config::TextTable::kEntries - 1; ++k)
      mn1 += "t" + std::to_string(k) + "\r\n";
    test_support::WriteBytes(module.SetExtension("MN1"), mn1 + "About\r\n");
    QCOMPARE(texts.LoadTexts(module, 1), config::TextTable::LoadResult::kLoaded);
    about.show();
    QCOMPARE(about.windowTitle(), QStringLiteral("About"));
    QCOMPARE(about.TextView()->toPlainText(), text);
    QTest::keyClick(about.TextView(), Qt::Key_Return);
    QVERIFY(!about.isVisible());
  }
};

}  // namespace m32

QTEST_MAIN(m32::AboutWindowTest)
#include "about_window_test.moc"
