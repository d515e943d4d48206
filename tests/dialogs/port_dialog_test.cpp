// The serial port dialog driven from the keyboard, as a technician uses it.
// The clamps and rounding are the port settings' own tests; here each control
// must reach its commit, and the keys must do what the technician expects.
#include "dialogs/port_dialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "support/dialog_test_support.h"

using m32::config::Settings;
using m32::config::SettingsRecord;
using m32::config::TextTable;
using m32::dialogs::PortDialog;
using namespace m32::test_support;

class PortDialogTest : public QObject {
  Q_OBJECT

 private:
  struct Fixture {
    Settings settings;
    TextTable texts;
    QWidget main_window;
    int reopens = 0;
    SettingsRecord record_at_reopen;
    std::unique_ptr<PortDialog> dialog;

    Fixture() {
      m32::config::ApplyDefaults(settings.record);
      main_window.move(100, 50);
      dialog = std::make_unique<PortDialog>(settings, texts, &main_window, [this] {
        ++reopens;
        record_at_reopen = settings.record;
      });
    }
    // Opens the dialog and waits until it has the keyboard.
    bool Open() {
      dialog->show();
      return QTest::qWaitForWindowActive(dialog.get());
    }
    template <typename T>
    T* Child(const char* name) const {
      return dialog->findChild<T*>(QString::fromLatin1(name));
    }
    QLineEdit* Edit(const char* name) const { return Child<QLineEdit>(name); }
    QComboBox* List(const char* name) const { return Child<QComboBox>(name); }
    QString Text(const char* edit) const { return Edit(edit)->text(); }
    const SettingsRecord& Wc() const { return dialog->WorkingCopy(); }
  };

 private slots:
  // Beside the main window, captioned from the text table, showing the live
  // record (the defaults here), with Storno holding the focus.
  void OpensShowingTheRecord() {
    Fixture f;
    QVERIFY(f.Open());
    // The window manager places the frame after the dialog is shown.
    QTRY_COMPARE_WITH_TIMEOUT(f.dialog->pos(), QPoint(104, 82), 3000);
    const QStringList captions{f.dialog->windowTitle(),
                               f.Child<QGroupBox>("PortBox")->title(),
                               f.Child<QGroupBox>("SpeedBox")->title(),
                               f.Child<QGroupBox>("FormatBox")->title(),
                               f.List("Ed_rychl")->itemText(0),
                               f.List("Ed_rychl")->itemText(1),
                               f.List("Ed_rychl")->itemText(11),
                               f.dialog->OkButton()->text(),
                               f.dialog->StornoButton()->text()};
    QCOMPARE(captions, QStringList({QString::fromUtf8("Konfigurace sériového portu"),
                                    " Port: ", " Rychlost: ", QString::fromUtf8(" Formát: "),
                                    QString::fromUtf8(" Předvolby: "), "   150 Bd", "115200 Bd",
                                    "&O. K.", "&Storno"}));
    const QStringList shown{f.Text("Ed_com"),
                            f.Text("Ed_BR"),
                            f.Text("Ed_Bd"),
                            f.List("Ed_rychl")->currentText(),
                            f.List("Ed_dta")->currentText(),
                            f.List("Ed_stp")->currentText(),
                            f.List("Ed_par")->currentText()};
    QCOMPARE(shown,
             QStringList({"1", "12", "9600", QString::fromUtf8(" Předvolby: "), "8", "1", "Even"}));
    QCOMPARE(Focused(), f.dialog->StornoButton());
    // The presets in a fixed pitch, bold but upright although their box's caption is italic.
    const QFont presets = f.List("Ed_rychl")->font();
    QCOMPARE(QStringList({presets.family(), QString::number(presets.pixelSize()),
                          presets.bold() ? "bold" : "", presets.italic() ? "italic" : ""}),
             QStringList({"Courier", "13", "bold", ""}));
  }

  // Tab leads from Storno into the fields; Enter walks on from control to
  // control, lists included, and each control commits to the working copy as
  // it is left. Enter on the last list only moves to O. K., Escape there does
  // nothing, Enter there applies.
  void EnterWalksEveryControlAndOkApplies() {
    Fixture f;
    f.settings.record.Parity = 'x';      // shows "None"
    f.settings.record.Constants[0] = 7;  // no control may touch the rest of the record
    f.settings.record.Brightness[3] = 99;
    f.settings.record.Language = 12;  // out of range: O. K. clamps the whole record
    const SettingsRecord before = f.settings.record;
    QVERIFY(f.Open());
    Press(Qt::Key_Tab);
    QCOMPARE(Focused(), f.Edit("Ed_com"));
    Retype(QStringLiteral("99"));
    Press(Qt::Key_Return);
    QCOMPARE(f.Text("Ed_com"), QStringLiteral("64"));
    Retype(QStringLiteral("7"));  // Ed_BR
    Press(Qt::Key_Return);
    QCOMPARE(f.Text("Ed_Bd"), QStringLiteral("16457"));
    Retype(QStringLiteral("50000"));  // Ed_Bd
    Press(Qt::Key_Return);
    QCOMPARE(f.Text("Ed_BR"), QStringLiteral("2"));
    QCOMPARE(f.Text("Ed_Bd"), QStringLiteral("57600"));
    Press(Qt::Key_Return);  // past the presets
    Press(Qt::Key_Up);      // 7 data bits
    Press(Qt::Key_Return);
    Press(Qt::Key_Down);  // 2 stop bits
    Press(Qt::Key_Return);
    Press(Qt::Key_Down);  // Odd
    Press(Qt::Key_Return);
    QCOMPARE(Focused(), f.dialog->OkButton());
    Press(Qt::Key_Escape);  // does nothing on O. K.
    QVERIFY(f.dialog->isVisible());
    QCOMPARE(f.settings.record, before);  // only the working copy has changed
    QCOMPARE(f.reopens, 0);

    Press(Qt::Key_Return);
    QVERIFY(!f.dialog->isVisible());
    SettingsRecord want = before;
    want.PortIndex = 63;
    want.BaudDivisor = 2;
    want.DataBits = 7;
    want.StopBits = 2;
    want.Parity = 'O';
    want.Language = 0;
    QCOMPARE(f.settings.record, want);
    QCOMPARE(f.reopens, 1);
    QCOMPARE(f.record_at_reopen, want);  // the port opens with the new record
    QVERIFY(!f.settings.SettingsDirty);  // the file is not the dialog's business
  }

  // Choosing a preset sets the speed fields and the list shows its heading
  // again; Escape takes back a choice in the list or a text being typed.
  void PresetIsACommandAndEscapeTakesBack() {
    Fixture f;
    QVERIFY(f.Open());
    QComboBox* presets = f.List("Ed_rychl");
    Enter(presets);
    Press(Qt::Key_Down);  // 150 Bd
    QCOMPARE(presets->currentIndex(), 1);
    Press(Qt::Key_Return);
    QCOMPARE(Focused(), f.List("Ed_dta"));
    QCOMPARE(f.Text("Ed_BR"), QStringLiteral("768"));
    QCOMPARE(f.Text("Ed_Bd"), QStringLiteral("150"));
    QCOMPARE(f.Wc().BaudDivisor, 768u);
    QCOMPARE(presets->currentIndex(), 0);

    Enter(presets);
    Press(Qt::Key_End);  // 115200 Bd, then Escape takes it back
    Press(Qt::Key_Escape);
    QCOMPARE(f.Wc().BaudDivisor, 768u);
    QCOMPARE(presets->currentIndex(), 0);

    Enter(f.Edit("Ed_BR"));
    Press(Qt::Key_End);
    QTest::keyClicks(Focused(), "34");
    Press(Qt::Key_Backspace);
    QTest::keyClicks(Focused(), "99");
    QCOMPARE(f.Text("Ed_BR"), QStringLiteral("768399"));
    Press(Qt::Key_Escape);
    QCOMPARE(f.Text("Ed_BR"), QStringLiteral("768"));
    QCOMPARE(Focused(), f.Edit("Ed_Bd"));
    QCOMPARE(f.Wc().BaudDivisor, 768u);
    QVERIFY(f.dialog->isVisible());
  }

  void DiscardingChangesNothing_data() {
    QTest::addColumn<int>("way");
    QTest::newRow("Storno clicked") << 0;
    QTest::newRow("Escape on Storno") << 1;
    QTest::newRow("close box") << 2;
  }
  void DiscardingChangesNothing() {
    QFETCH(int, way);
    Fixture f;
    f.settings.record.Parity = 'S';  // not even the clamp runs
    const SettingsRecord before = f.settings.record;
    QVERIFY(f.Open());
    Enter(f.Edit("Ed_com"));
    Retype(QStringLiteral("9"));
    Press(Qt::Key_Return);
    Retype(QStringLiteral("3"));
    switch (way) {
      case 0:
        QTest::mouseClick(f.dialog->StornoButton(), Qt::LeftButton);
        break;
      case 1:
        Enter(f.dialog->StornoButton());
        Press(Qt::Key_Escape);
        break;
      default:
        f.dialog->close();
        break;
    }
    QVERIFY(!f.dialog->isVisible());
    QCOMPARE(f.dialog->result(), int(QDialog::Rejected));
    QCOMPARE(f.settings.record, before);
    QCOMPARE(f.reopens, 0);

    // The next opening starts again from the live record.
    QVERIFY(f.Open());
    QCOMPARE(f.Text("Ed_com"), QStringLiteral("1"));
    QCOMPARE(f.Text("Ed_BR"), QStringLiteral("12"));
    QCOMPARE(f.Wc().PortIndex, uint8_t{0});
    QCOMPARE(Focused(), f.dialog->StornoButton());
  }
};

QTEST_MAIN(PortDialogTest)
#include "port_dialog_test.moc"
