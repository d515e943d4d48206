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
    void Write(const char* ext, const std::string& content) {
      cfgtest::WriteBytes(dir.File(std::string("merkat32.") + ext), content);
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
  // use checked; O. K. and Storno below the last one.
  void OneButtonPerFile() {
    Fixture f;
    f.Write("MNU", "\r\nDefault\r\n");
    f.Write("MN2", "\r\nSecond\r\nLang2\r\n");
    f.Write("MN5", " \r\n\t\n");  // only white space: not listed
    f.Write("MN7", "Seventh\n");
    f.settings.record.Language = 2;
    f.dialog->FormActivate();
    QCOMPARE(f.dialog->LanguageChoices(), (std::vector<uint8_t>{0, 2, 7}));
    QCOMPARE(Shown(f), QStringList({" Default", "* Second", " Seventh"}));
    // The window manager places the frame after the dialog is shown.
    QTRY_COMPARE_WITH_TIMEOUT(f.dialog->pos(), QPoint(104, 82), 3000);
    const QStringList captions{f.dialog->windowTitle(), f.dialog->OkButton()->text(),
                               f.dialog->StornoButton()->text()};
    QCOMPARE(captions, QStringList({"Jazyk", "&O. K.", "&Storno"}));
    QVERIFY(f.dialog->OkButton()->y() > f.dialog->RadioButton(2)->geometry().bottom());

    f.dialog->FormDeactivate();  // collapses: no row shows
    QVERIFY(f.dialog->FormHeight() < f.dialog->RadioButton(0)->y());
  }

  void TenFilesFitTheForm() {
    Fixture f;
    f.Write("MNU", "L0\n");
    for (int n = 1; n <= 9; ++n)
      f.Write(("MN" + std::to_string(n)).c_str(), "L" + std::to_string(n));
    f.dialog->FormActivate();
    QCOMPARE(Shown(f),
             QStringList({"* L0", " L1", " L2", " L3", " L4", " L5", " L6", " L7", " L8", " L9"}));
    const QRect ok = f.dialog->OkButton()->geometry();
    QVERIFY(ok.top() > f.dialog->RadioButton(9)->geometry().bottom());
    QVERIFY(ok.bottom() < f.dialog->height());
  }

  void NoFilesOffersTheCurrentLanguage() {
    Fixture f;
    f.settings.record.Language = 4;
    f.dialog->FormActivate();
    QCOMPARE(f.dialog->LanguageChoices(), (std::vector<uint8_t>{0}));
    QCOMPARE(Shown(f), QStringList({QString::fromUtf8("*Čeština")}));

    // O.K. picks language 0, whose texts come from the template written now.
    f.dialog->OnOkClicked();
    QCOMPARE(f.settings.record.Language, uint8_t{0});
    QVERIFY(std::filesystem::exists(f.dir.File("merkat32.MNU")));
    QCOMPARE(f.reloads, 0);
  }

  void VanishedCurrentLanguageChecksNothing() {
    Fixture f;
    f.Write("MNU", "Default\n");
    f.settings.record.Language = 3;
    f.dialog->FormActivate();
    QCOMPARE(Shown(f), QStringList({" Default"}));
    f.dialog->OnOkClicked();
    QCOMPARE(f.settings.record.Language, uint8_t{3});
    QCOMPARE(f.reloads, 0);
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
