// The help viewer: file choice and fallback, the error path, line wrapping and
// reading the file anew at every showing.
#include <QAction>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QWidget>
#include <fstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/text_table.h"
#include "info/help_window.h"
#include "info/rich_text.h"

namespace m32 {

class HelpWindowTest : public QObject {
  Q_OBJECT

 private:
  // One viewer beside a fake executable TOOL.EXE in a fresh folder.
  struct Rig {
    QTemporaryDir dir;
    config::Settings settings;
    config::ModulePath module;
    config::TextTable texts;
    QWidget main;
    TWhelp help{settings, module, texts, &main};
    std::vector<MessageRequest> boxes;
    QMessageBox::StandardButton answer = QMessageBox::Yes;

    explicit Rig(int language) {
      module.Derive((dir.path() + "/TOOL.EXE").toStdString());
      settings.record.Language = static_cast<uint8_t>(language);
      help.SetMessageHook([this](const MessageRequest& r) {
        boxes.push_back(r);
        return boxes.size() == 1 ? answer : QMessageBox::Ok;
      });
    }
    std::string File(const char* ext) const {
      return (dir.path() + "/TOOL." + QLatin1String(ext)).toStdString();
    }
    void Write(const char* ext, const std::string& content) const {
      std::ofstream(File(ext), std::ios::binary | std::ios::trunc) << content;
    }
    QString Shown() const { return help.Helptxt()->toPlainText(); }
  };

 private slots:
  void ChoosesTheFileAndFallsBack_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<int>("tag");
    const int yes = QMessageBox::Yes;
    const int no = QMessageBox::No;
    QTest::newRow("language 0 reads HLP")
        << 0 << QStringList{"HLP", "HL3"} << yes << "HLP" << 0 << 0;
    QTest::newRow("language 3 reads HL3")
        << 3 << QStringList{"HLP", "HL3"} << yes << "HL3" << 0 << 0;
    QTest::newRow("missing HL3: HLP without a word")
        << 3 << QStringList{"HLP"} << yes << "HLP" << 0 << 0;
    QTest::newRow("both missing, Yes: error box and details")
        << 3 << QStringList{} << yes << "" << 2 << 1;
    QTest::newRow("both missing, No: the error box alone")
        << 3 << QStringList{} << no << "" << 1 << 1;
    QTest::newRow("language 0 without HLP: at once")
        << 0 << QStringList{"HL1"} << yes << "" << 2 << 1;
  }

  void ChoosesTheFileAndFallsBack() {
    QFETCH(int, language);
    QFETCH(QStringList, present);
    QFETCH(int, answer);
    QFETCH(QString, shown);
    QFETCH(int, boxes);
    QFETCH(int, tag);
    Rig rig(language);
    rig.answer = static_cast<QMessageBox::StandardButton>(answer);
    for (const QString& ext : present) rig.Write(ext.toLatin1().constData(), ext.toStdString());
    rig.help.show();
    QCOMPARE(rig.Shown(), shown);
    QCOMPARE(static_cast<int>(rig.boxes.size()), boxes);
    QCOMPARE(rig.help.Tag(), tag);
    QCOMPARE(rig.help.property("Tag").toInt(), tag);
    QCOMPARE(rig.help.failed(), tag == 1);
    if (boxes >= 1) {
      const MessageRequest& ask = rig.boxes[0];
      QCOMPARE(ask.caption, QStringLiteral("CHYBA 20"));
      QCOMPARE(ask.text, QString::fromStdString(rig.texts.Utf8(11, 1)));
      QCOMPARE(ask.icon, QMessageBox::NoIcon);
      QCOMPARE(ask.buttons, QMessageBox::Yes | QMessageBox::No);
    }
    if (boxes == 2) {
      // The details name the default language's file with its full path.
      const MessageRequest& details = rig.boxes[1];
      QCOMPARE(details.text, QString::fromStdString("Cannot open file " + rig.File("HLP") + "."));
      QCOMPARE(details.icon, QMessageBox::Critical);
      QCOMPARE(details.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
  }

  void ReadsTheFileAgainAtEveryShowing() {
    Rig rig(0);
    rig.Write("HLP", "old text");
    rig.help.show();
    QCOMPARE(rig.Shown(), QStringLiteral("old text"));
    rig.help.hide();
    rig.Write("HLP", "{\\rtf1 new {\\b text}}");
    rig.help.show();
    QCOMPARE(rig.Shown(), QStringLiteral("new text"));
    // A failed showing does not stick: the next one with the file present succeeds.
    rig.help.hide();
    QCOMPARE(std::remove(rig.File("HLP").c_str()), 0);
    rig.help.show();
    QVERIFY(rig.help.failed());
    QVERIFY(rig.Shown().isEmpty());
    rig.help.hide();
    rig.Write("HLP", "back");
    rig.help.show();
    QCOMPARE(rig.help.Tag(), 0);
    QCOMPARE(rig.Shown(), QStringLiteral("back"));
  }

  void TogglesWrappingAndOffersTheOppositeState() {
    Rig rig(0);
    rig.Write("HLP", "text");
    const QString offer_on = QString::fromStdString(rig.texts.Utf8(11, 2));
    const QString offer_off = QString::fromStdString(rig.texts.Utf8(11, 3));
    rig.help.show();
    QVERIFY(rig.help.WordWrap());
    QCOMPARE(rig.help.Lamani()->text(), offer_off);
    QCOMPARE(rig.help.findChild<QMenu*>("PopupMenu1"), rig.help.PopupMenu1());
    QVERIFY(rig.help.PopupMenu1()->actions().contains(rig.help.Lamani()));

    QTest::keyClick(rig.help.Helptxt(), Qt::Key_W);  // "w"
    QVERIFY(!rig.help.WordWrap());
    QCOMPARE(rig.help.Helptxt()->lineWrapMode(), QTextEdit::NoWrap);
    QCOMPARE(rig.help.Lamani()->text(), offer_on);
    QTest::keyClick(rig.help.Helptxt(), Qt::Key_W, Qt::ShiftModifier);  // "W"
    QVERIFY(rig.help.WordWrap());
    QCOMPARE(rig.help.Lamani()->text(), offer_off);

    // The menu item does the same.
    rig.help.Lamani()->trigger();
    QVERIFY(!rig.help.WordWrap());
    QCOMPARE(rig.help.Lamani()->text(), offer_on);
    QVERIFY(!rig.help.Lamani()->isChecked());

    // Closed with wrapping off, shown again: wrapped.
    QTest::keyClick(rig.help.Helptxt(), Qt::Key_Escape);
    QVERIFY(!rig.help.isVisible());
    rig.help.show();
    QVERIFY(rig.help.WordWrap());
    QCOMPARE(rig.help.Lamani()->text(), offer_off);
    QTest::keyClick(rig.help.Helptxt(), Qt::Key_Return);
    QVERIFY(!rig.help.isVisible());
  }

  void IsPlacedBesideTheMainWindowAndCaptioned() {
    Rig rig(0);
    rig.Write("HLP", "x");
    rig.main.move(200, 150);
    rig.help.show();
    QCOMPARE(rig.help.pos(), QPoint(204, 182));
    QCOMPARE(rig.help.windowTitle(), QString::fromStdString(rig.texts.Utf8(11, 0)));
    QCOMPARE(rig.help.frameGeometry().size(), QSize(691, 395));
    QVERIFY(rig.help.Helptxt()->isReadOnly());
    QCOMPARE(rig.help.Helptxt()->font().pixelSize(), 16);
    QVERIFY(rig.help.Helptxt()->font().bold());
  }

  void ShowsTheFormatsOfRichText() {
    Rig rig(0);
    rig.Write("HLP",
              "{\\rtf1{\\colortbl;\\red200\\green0\\blue0;}\\qc{\\b\\fs40 Title}\\par\\pard "
              "\\i it\\i0  \\cf1 red\\cf0  \\ul u\\ulnone\\line x\\tab y\\par \\'e8}");
    rig.help.show();
    QTextDocument* doc = rig.help.Helptxt()->document();
    QCOMPARE(doc->blockCount(), 3);
    const QTextBlock title = doc->firstBlock();
    QCOMPARE(title.text(), QStringLiteral("Title"));
    QCOMPARE(title.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    auto format_at = [&](const QString& needle) {
      QTextCursor c =
          doc->find(needle, 0, QTextDocument::FindCaseSensitively | QTextDocument::FindWholeWords);
      return c.charFormat();
    };
    QCOMPARE(format_at("Title").fontWeight(), static_cast<int>(QFont::Bold));
    QCOMPARE(format_at("Title").fontPointSize(), 20.0);
    QVERIFY(format_at("it").fontItalic());
    QCOMPARE(format_at("red").foreground().color(), QColor(200, 0, 0));
    QVERIFY(format_at("u").fontUnderline());
    QCOMPARE(format_at("x").fontWeight(), static_cast<int>(QFont::Normal));
    const QTextBlock body = title.next();
    QCOMPARE(body.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    QCOMPARE(body.text(),
             QStringLiteral("it red u") + QChar(QChar::LineSeparator) + QStringLiteral("x\ty"));
    QCOMPARE(body.next().text(), QStringLiteral("č"));
  }

  void ShowsPlainTextInTheViewsFont() {
    Rig rig(0);
    rig.Write("HLP", "P\xf8\xedli\x9a \x9elu\x9dou\xe8k\xfd\r\n{\\b no}");
    rig.help.show();
    QCOMPARE(rig.Shown(), QStringLiteral("Příliš žluťoučký\n{\\b no}"));
    QTextCursor c = rig.help.Helptxt()->document()->find("no");
    QVERIFY(c.charFormat().font().bold());
  }

  void ShipsReadableHelp() {
    // The shipped Czech file through the whole viewer.
    Rig rig(0);
    std::ifstream in(std::string(M32_DATA_DIR) + "/merkat32.HLP", std::ios::binary);
    rig.Write("HLP", std::string(std::istreambuf_iterator<char>(in), {}));
    rig.help.show();
    QCOMPARE(rig.help.Tag(), 0);
    QVERIFY(rig.Shown().contains(QStringLiteral("Lámání řádků zapnout")));
    QVERIFY(rig.help.Helptxt()->document()->blockCount() > 40);
  }
};

}  // namespace m32

QTEST_MAIN(m32::HelpWindowTest)
#include "help_window_test.moc"
