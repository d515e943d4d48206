#include "dialogs/language_dialog.h"

#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <QtTest>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

using m32::config::ModulePath;
using m32::config::Settings;
using m32::config::TextTable;
namespace cfgtest = m32::test_support;

class LanguageDialogTest : public QObject {
  Q_OBJECT

 private:
  // One dialog over a fresh folder.
  struct Fixture {
    cfgtest::TempDir dir;
    Settings settings;
    ModulePath module;
    TextTable texts;
    QWidget main_window;
    int reloads = 0;
    m32::dialogs::LanguageDialog* dialog = nullptr;

    Fixture() {
      m32::config::ApplyDefaults(settings.record);
      module.Derive(dir.File("merkat32.exe"));
      main_window.move(100, 50);
      dialog = new m32::dialogs::LanguageDialog(settings, module, texts, &main_window,
                                                [this] { ++reloads; });
    }
    ~Fixture() { delete dialog; }
    Fixture(const Fixture&) = delete;
    Fixture& operator=(const Fixture&) = delete;
    void Write(const QByteArray& ext, const std::string& content) {
      cfgtest::WriteBytes(dir.File("merkat32." + ext.toStdString()), content);
    }
  };

  // The texts of the radio buttons shown, the checked one marked by '*'.
  static QStringList Shown(const Fixture& f) {
    QStringList shown;
    for (int i = 0; i < 10; ++i) {
      const QRadioButton* rb = f.dialog->RadioButton(i);
      if (rb->isHidden()) continue;
      shown << (rb->isChecked() ? "*" : "") + rb->text();
    }
    return shown;
  }

 private slots:
  // One radio button per named language file, in file order, the language in
  // use checked, O. K. and Storno below the last one; beside the main window.
  void OneButtonPerFile_data() {
    QTest::addColumn<QStringList>("files");  // "extension=content"
    QTest::addColumn<int>("language");
    QTest::addColumn<QList<int>>("choices");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<int>("language_after_ok");
    QTest::addColumn<int>("reloads");
    QTest::newRow("named files in file order, white space only is no name")
        << QStringList{"MNU=\r\nDefault\r\n", "MN2=\r\nSecond\r\nLang2\r\n", "MN5= \r\n\t\n",
                       "MN7=Seventh\n"}
        << 2 << QList<int>{0, 2, 7} << QStringList{" Default", "* Second", " Seventh"} << 2 << 1;
    QStringList ten{"MNU=L0"}, ten_shown{"* L0"};
    for (int n = 1; n <= 9; ++n) {
      ten << QString("MN%1=L%1").arg(n);
      ten_shown << QString(" L%1").arg(n);
    }
    QTest::newRow("ten files fit the form")
        << ten << 0 << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9} << ten_shown << 0 << 1;
    QTest::newRow("no files: the current language offered as 0, its template written on O. K.")
        << QStringList{} << 4 << QList<int>{0} << QStringList{QString::fromUtf8("*Čeština")} << 0
        << 0;
    QTest::newRow("vanished language: nothing checked, O. K. keeps it")
        << QStringList{"MNU=Default\n"} << 3 << QList<int>{0} << QStringList{" Default"} << 3 << 0;
  }
  void OneButtonPerFile() {
    QFETCH(QStringList, files);
    QFETCH(int, language);
    QFETCH(QList<int>, choices);
    QFETCH(QStringList, shown);
    Fixture f;
    for (const QString& file : files)
      f.Write(file.section('=', 0, 0).toLatin1(), file.section('=', 1).toStdString());
    f.settings.record.Language = static_cast<uint8_t>(language);
    f.dialog->FormActivate();
    const std::vector<uint8_t> listed = f.dialog->LanguageChoices();
    QCOMPARE(QList<int>(listed.begin(), listed.end()), choices);
    QCOMPARE(Shown(f), shown);
    // The window manager places the frame after the dialog is shown.
    QTRY_COMPARE_WITH_TIMEOUT(f.dialog->pos(), QPoint(104, 82), 3000);
    const QStringList captions{f.dialog->windowTitle(), f.dialog->OkButton()->text(),
                               f.dialog->StornoButton()->text()};
    QCOMPARE(captions, QStringList({"Jazyk", "&O. K.", "&Storno"}));
    const QRect ok = f.dialog->OkButton()->geometry();
    QVERIFY(ok.top() > f.dialog->RadioButton(int(shown.size()) - 1)->geometry().bottom());
    QVERIFY(ok.bottom() < f.dialog->height());

    f.dialog->OnOkClicked();
    QTEST(int(f.settings.record.Language), "language_after_ok");
    QTEST(f.reloads, "reloads");
    QVERIFY(std::filesystem::exists(f.dir.File("merkat32.MNU")));
    f.dialog->FormDeactivate();  // collapses: no row shows
    QVERIFY(f.dialog->FormHeight() < f.dialog->RadioButton(0)->y());
  }

  void RebuildClearsAnEarlierChoice() {
    Fixture f;
    f.Write("MNU", "Default\n");
    f.Write("MN1", "English\n");
    f.dialog->FormActivate();
    f.dialog->RadioButton(1)->setChecked(true);
    std::filesystem::remove(f.dir.File("merkat32.MN1"));
    f.dialog->FormActivate();
    QCOMPARE(Shown(f), QStringList({"* Default"}));
    QVERIFY(!f.dialog->RadioButton(1)->isChecked());
  }

  void OkSetsTheLanguageAndReloads() {
    Fixture f;
    f.Write("MNU", "\r\nDefault\r\nCaption\r\n");
    f.Write("MN1", "\r\nEnglish\r\nLanguage\r\n\r\n&Settings\r\n");
    f.settings.record.Language = 0;
    f.dialog->FormActivate();
    f.dialog->RadioButton(1)->setChecked(true);
    f.dialog->OnOkClicked();
    QCOMPARE(f.settings.record.Language, uint8_t{1});
    QCOMPARE(f.reloads, 1);
    QCOMPARE(f.texts.Get(1, 0), std::string("&Settings"));
    QCOMPARE(f.dialog->result(), int(QDialog::Accepted));

    // The next activation takes its captions from the new texts.
    f.dialog->FormActivate();
    QCOMPARE(f.dialog->windowTitle(), QStringLiteral("Language"));
    QVERIFY(f.dialog->RadioButton(1)->isChecked());

    // O.K. on the language in use reloads it again.
    f.dialog->OnOkClicked();
    QCOMPARE(f.reloads, 2);
  }

  void EscOnlyOnStorno() {
    Fixture f;
    f.Write("MNU", "Default\n");
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog));
    f.dialog->FormActivate();
    QTest::keyClick(f.dialog->RadioButton(0), Qt::Key_Escape);
    QVERIFY(f.dialog->isVisible());
    QTest::keyClick(f.dialog->OkButton(), Qt::Key_Escape);
    QVERIFY(f.dialog->isVisible());

    f.dialog->StornoButton()->setFocus();
    QTest::keyClick(f.dialog->StornoButton(), Qt::Key_Escape);
    QVERIFY(!f.dialog->isVisible());
    QCOMPARE(f.dialog->result(), int(QDialog::Rejected));
    QCOMPARE(f.reloads, 0);
  }
};

QTEST_MAIN(LanguageDialogTest)
#include "language_dialog_test.moc"
