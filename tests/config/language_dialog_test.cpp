#include "config/language_dialog.h"

#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <QtTest>
#include <filesystem>
#include <string>

#include "config/temp_dir.h"

using m32::config::ModulePath;
using m32::config::Settings;
using m32::config::TextTable;
namespace cfgtest = m32::config::testing;

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
    m32::TWjazyk* dialog = nullptr;

    Fixture() {
      m32::config::ApplyDefaults(settings.record);
      module.Derive(dir.File("merkat32.exe"));
      main_window.move(100, 50);
      dialog = new m32::TWjazyk(settings, module, texts, &main_window, [this] { ++reloads; });
    }
    ~Fixture() { delete dialog; }
    Fixture(const Fixture&) = delete;
    Fixture& operator=(const Fixture&) = delete;
    void Write(const char* ext, const std::string& content) {
      cfgtest::WriteBytes(dir.File(std::string("merkat32.") + ext), content);
    }
  };

 private slots:
  void ThreeFilesThreeButtons() {
    Fixture f;
    f.Write("MNU", "\r\nDefault\r\n");
    f.Write("MN2", "\r\nSecond\r\nLang2\r\n");
    f.Write("MN7", "Seventh\n");
    f.settings.record.Language = 2;
    f.dialog->FormActivate();

    QCOMPARE(f.dialog->VisibleEntries(), 3);
    QCOMPARE(f.dialog->LanguageChoices(), (std::vector<uint8_t>{0, 2, 7}));
    const char* names[] = {" Default", " Second", " Seventh"};
    for (int i = 0; i < 3; ++i) {
      QRadioButton* rb = f.dialog->RadioButton(i);
      QCOMPARE(rb->text(), QString::fromLatin1(names[i]));
      QCOMPARE(rb->y(), 12 + 26 * i);
      QCOMPARE(rb->x(), 32);
      QVERIFY(!rb->isHidden());
      QCOMPARE(rb->isChecked(), i == 1);
    }
    for (int i = 3; i < 10; ++i) QVERIFY(f.dialog->RadioButton(i)->isHidden());
    QCOMPARE(f.dialog->OkButton()->y(), 104);
    QCOMPARE(f.dialog->StornoButton()->y(), 104);
    QCOMPARE(f.dialog->FormHeight(), 175);
    QCOMPARE(f.dialog->width(), 267);
    QCOMPARE(f.dialog->pos(), QPoint(104, 82));
    QCOMPARE(f.dialog->OkButton()->text(), QStringLiteral("&O. K."));
    QCOMPARE(f.dialog->StornoButton()->text(), QStringLiteral("&Storno"));

    f.dialog->FormDeactivate();
    QCOMPARE(f.dialog->FormHeight(), 10);
  }

  void TenFiles() {
    Fixture f;
    f.Write("MNU", "L0\n");
    for (int n = 1; n <= 9; ++n)
      f.Write(("MN" + std::to_string(n)).c_str(), "L" + std::to_string(n));
    f.dialog->FormActivate();
    QCOMPARE(f.dialog->VisibleEntries(), 10);
    QCOMPARE(f.dialog->RadioButton(9)->y(), 246);
    QCOMPARE(f.dialog->RadioButton(9)->text(), QStringLiteral(" L9"));
    QCOMPARE(f.dialog->OkButton()->y(), 286);
    QCOMPARE(f.dialog->FormHeight(), 357);
    QVERIFY(f.dialog->RadioButton(0)->isChecked());
  }

  void NoFilesOffersTheCurrentLanguage() {
    Fixture f;
    f.settings.record.Language = 4;
    f.dialog->FormActivate();
    QCOMPARE(f.dialog->VisibleEntries(), 1);
    QCOMPARE(f.dialog->LanguageChoices(), (std::vector<uint8_t>{0}));
    QCOMPARE(f.dialog->RadioButton(0)->text(), QString::fromUtf8("Čeština"));
    QVERIFY(f.dialog->RadioButton(0)->isChecked());
    QCOMPARE(f.dialog->FormHeight(), 123);

    // O.K. picks language 0, whose texts come from the template written now.
    f.dialog->Tl_OKClick();
    QCOMPARE(f.settings.record.Language, uint8_t{0});
    QVERIFY(std::filesystem::exists(f.dir.File("merkat32.MNU")));
    QCOMPARE(f.reloads, 0);
  }

  void VanishedCurrentLanguageChecksNothing() {
    Fixture f;
    f.Write("MNU", "Default\n");
    f.settings.record.Language = 3;
    f.dialog->FormActivate();
    QCOMPARE(f.dialog->VisibleEntries(), 1);
    QVERIFY(!f.dialog->RadioButton(0)->isChecked());
    f.dialog->Tl_OKClick();
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
    QCOMPARE(f.dialog->VisibleEntries(), 1);
    QVERIFY(f.dialog->RadioButton(0)->isChecked());
    QVERIFY(!f.dialog->RadioButton(1)->isChecked());
  }

  void OkSetsTheLanguageAndReloads() {
    Fixture f;
    f.Write("MNU", "\r\nDefault\r\nCaption\r\n");
    f.Write("MN1", "\r\nEnglish\r\nLanguage\r\n\r\n&Settings\r\n");
    f.settings.record.Language = 0;
    f.dialog->FormActivate();
    f.dialog->RadioButton(1)->setChecked(true);
    f.dialog->Tl_OKClick();
    QCOMPARE(f.settings.record.Language, uint8_t{1});
    QCOMPARE(f.reloads, 1);
    QCOMPARE(f.texts.Get(1, 0), std::string("&Settings"));
    QCOMPARE(f.dialog->result(), int(QDialog::Accepted));

    // The next activation takes its captions from the new texts.
    f.dialog->FormActivate();
    QCOMPARE(f.dialog->windowTitle(), QStringLiteral("Language"));
    QVERIFY(f.dialog->RadioButton(1)->isChecked());

    // O.K. on the language in use reloads it again.
    f.dialog->Tl_OKClick();
    QCOMPARE(f.reloads, 2);
  }

  void EscOnlyOnStorno() {
    Fixture f;
    f.Write("MNU", "Default\n");
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog));
    f.dialog->FormActivate();
    QCOMPARE(f.dialog->FormHeight(), 123);  // the outer height, frame included
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
