// The serial port dialog driven from the keyboard, as a technician uses it.
#include "dialogs/port_dialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "dialogs/dialog_test_support.h"

using m32::TWkomunikace;
using m32::config::Settings;
using m32::config::SettingsRecord;
using m32::config::TextTable;
using namespace m32::dialogs::testing;

namespace {

// Counts the key presses that reach an object, without taking them.
class KeyCounter : public QObject {
 public:
  int presses = 0;
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) ++presses;
    return false;
  }
};

}  // namespace

class PortDialogTest : public QObject {
  Q_OBJECT

 private:
  struct Fixture {
    Settings settings;
    TextTable texts;
    QWidget main_window;
    int reopens = 0;
    SettingsRecord record_at_reopen;
    std::unique_ptr<TWkomunikace> dialog;

    Fixture() {
      m32::config::ApplyDefaults(settings.record);
      main_window.move(100, 50);
      dialog = std::make_unique<TWkomunikace>(settings, texts, &main_window, [this] {
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
    const SettingsRecord& Wc() const { return dialog->WorkingCopy(); }
  };

 private slots:
  void FormAsDesigned() {
    Fixture f;
    f.texts = TextTable();
    QVERIFY(f.Open());
    QCOMPARE(f.dialog->size(), QSize(404, 287));
    QCOMPARE(f.dialog->minimumSize(), f.dialog->maximumSize());
    QCOMPARE(f.dialog->pos(), QPoint(104, 82));
    QCOMPARE(f.dialog->windowTitle(), QString::fromUtf8("Konfigurace sériového portu"));
    QCOMPARE(f.Child<QGroupBox>("PortBox")->title(), QStringLiteral(" Port: "));
    QCOMPARE(f.Child<QGroupBox>("SpeedBox")->title(), QStringLiteral(" Rychlost: "));
    QCOMPARE(f.Child<QGroupBox>("FormatBox")->title(), QString::fromUtf8(" Formát: "));
    QCOMPARE(f.Child<QGroupBox>("SpeedBox")->geometry(), QRect(17, 80, 368, 73));
    QCOMPARE(f.Edit("Ed_com")->geometry(), QRect(113, 25, 64, 24));
    QCOMPARE(f.Edit("Ed_com")->maxLength(), 2);
    QCOMPARE(f.Edit("Ed_BR")->maxLength(), 6);
    QCOMPARE(f.Edit("Ed_Bd")->maxLength(), 6);
    QCOMPARE(f.Child<QLabel>("Label5")->text(), QStringLiteral("115 200 Bd /"));
    QCOMPARE(f.Child<QLabel>("Label5")->pos(), QPoint(11, 17));
    QCOMPARE(f.dialog->OkButton()->geometry(), QRect(67, 246, 78, 25));
    QCOMPARE(f.dialog->StornoButton()->geometry(), QRect(251, 246, 78, 25));
    QCOMPARE(f.dialog->OkButton()->text(), QStringLiteral("&O. K."));
    QCOMPARE(f.dialog->StornoButton()->text(), QStringLiteral("&Storno"));

    QComboBox* presets = f.List("Ed_rychl");
    QCOMPARE(presets->count(), 12);
    QCOMPARE(presets->maxVisibleItems(), 12);  // the open list needs no scrolling
    QCOMPARE(presets->itemText(0), QString::fromUtf8(" Předvolby: "));
    QCOMPARE(presets->itemText(1), QStringLiteral("   150 Bd"));
    QCOMPARE(presets->itemText(11), QStringLiteral("115200 Bd"));
    QCOMPARE(presets->geometry().topLeft(), QPoint(200, 33));
    QCOMPARE(presets->width(), 153);

    // Defaults: COM1, 9600 Bd, 8 data bits, 1 stop bit, even parity; Storno has the focus.
    QCOMPARE(f.Edit("Ed_com")->text(), QStringLiteral("1"));
    QCOMPARE(f.Edit("Ed_BR")->text(), QStringLiteral("12"));
    QCOMPARE(f.Edit("Ed_Bd")->text(), QStringLiteral("9600"));
    QCOMPARE(presets->currentIndex(), 0);
    QCOMPARE(f.List("Ed_dta")->currentText(), QStringLiteral("8"));
    QCOMPARE(f.List("Ed_stp")->currentText(), QStringLiteral("1"));
    QCOMPARE(f.List("Ed_par")->currentText(), QStringLiteral("Even"));
    QCOMPARE(Focused(), f.dialog->StornoButton());
  }

  // Enter walks the tab order once per keystroke, lists included, and wraps.
  void EnterWalksTheTabOrder() {
    Fixture f;
    QVERIFY(f.Open());
    Enter(f.Edit("Ed_com"));
    const char* order[] = {"Ed_BR", "Ed_Bd", "Ed_rychl", "Ed_dta", "Ed_stp", "Ed_par", "Tl_OK"};
    for (const char* name : order) {
      Press(Qt::Key_Return);
      QVERIFY(Focused() != nullptr);
      QCOMPARE(Focused()->objectName(), QString::fromLatin1(name));
    }
    Press(Qt::Key_Tab);
    QCOMPARE(Focused(), f.dialog->StornoButton());
    Press(Qt::Key_Tab);
    QCOMPARE(Focused(), f.Edit("Ed_com"));
    QVERIFY(f.dialog->isVisible());
  }

  // Qt reports a keystroke on a closed drop-down list once; Enter and Escape,
  // which the list itself ignores, would travel on to the form as a second
  // report if nobody took them. The dialog takes them at the list.
  void ListKeystrokeReportedOnce() {
    QWidget form;
    auto* list = new QComboBox(&form);
    list->addItems({"5", "6", "7", "8"});
    KeyCounter at_list;
    KeyCounter at_form;
    list->installEventFilter(&at_list);
    form.installEventFilter(&at_form);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(at_list.presses, 1);
    QCOMPARE(at_form.presses, 1);  // the same keystroke, passed on
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(at_list.presses, 2);
    QCOMPARE(at_form.presses, 1);  // taken by the list
    QCOMPARE(list->currentIndex(), 1);

    Fixture f;
    QVERIFY(f.Open());
    KeyCounter at_dialog;
    f.dialog->installEventFilter(&at_dialog);
    Enter(f.List("Ed_dta"));
    Press(Qt::Key_Escape);
    QCOMPARE(Focused(), f.List("Ed_stp"));  // one step, not two
    QCOMPARE(at_dialog.presses, 0);
    QVERIFY(f.dialog->isVisible());
  }

  // One row per field: the clamps and rounding themselves are the port
  // settings' own tests; here each field must reach its commit.
  void EditFieldsCommitOnLeaving_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("com");
    QTest::addColumn<QString>("divisor");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<int>("port_index");
    QTest::addColumn<int>("wc_divisor");
    // clang-format off
    QTest::newRow("COM 99 becomes 64")    << "Ed_com" << "99"     << "64" << "12"     << "9600"  << 63 << 12;
    QTest::newRow("divisor 7")            << "Ed_BR"  << "7"      << "1"  << "7"      << "16457" << 0  << 7;
    QTest::newRow("speed 50000 rounds up")<< "Ed_Bd"  << "50000"  << "1"  << "2"      << "57600" << 0  << 2;
    // clang-format on
  }
  void EditFieldsCommitOnLeaving() {
    QFETCH(QString, field);
    QFETCH(QString, typed);
    Fixture f;
    QVERIFY(f.Open());
    Enter(f.Edit(field.toLatin1().constData()));
    Retype(typed);
    Press(Qt::Key_Return);
    QTEST(f.Edit("Ed_com")->text(), "com");
    QTEST(f.Edit("Ed_BR")->text(), "divisor");
    QTEST(f.Edit("Ed_Bd")->text(), "speed");
    QTEST(static_cast<int>(f.Wc().PortIndex), "port_index");
    QTEST(static_cast<int>(f.Wc().BaudDivisor), "wc_divisor");
    QCOMPARE(f.settings.record.BaudDivisor, 12u);  // only the working copy changes
  }

  void PresetIsACommand() {
    Fixture f;
    QVERIFY(f.Open());
    QComboBox* presets = f.List("Ed_rychl");
    Enter(presets);
    Press(Qt::Key_Down);  // 150 Bd
    QCOMPARE(presets->currentIndex(), 1);
    Press(Qt::Key_Return);
    QCOMPARE(Focused(), f.List("Ed_dta"));
    QCOMPARE(f.Edit("Ed_BR")->text(), QStringLiteral("768"));
    QCOMPARE(f.Edit("Ed_Bd")->text(), QStringLiteral("150"));
    QCOMPARE(f.Wc().BaudDivisor, 768u);
    QCOMPARE(presets->currentIndex(), 0);  // the heading again

    Enter(presets);
    Press(Qt::Key_End);  // 115200 Bd, then Escape takes it back
    Press(Qt::Key_Escape);
    QCOMPARE(f.Wc().BaudDivisor, 768u);
    QCOMPARE(presets->currentIndex(), 0);

    Enter(presets);
    Press(Qt::Key_End);
    Press(Qt::Key_Tab);  // leaving by any way commits
    QCOMPARE(f.Edit("Ed_BR")->text(), QStringLiteral("1"));
    QCOMPARE(f.Edit("Ed_Bd")->text(), QStringLiteral("115200"));
    QCOMPARE(presets->currentIndex(), 0);
  }

  void FormatLists() {
    Fixture f;
    f.settings.record.Parity = 'S';  // a parity the list does not offer
    QVERIFY(f.Open());
    QCOMPARE(f.List("Ed_par")->currentText(), QStringLiteral("None"));

    Enter(f.List("Ed_stp"));
    Press(Qt::Key_Down);
    Press(Qt::Key_Return);
    QCOMPARE(f.Wc().StopBits, uint8_t{2});
    Enter(f.List("Ed_stp"));
    Press(Qt::Key_Up);
    Press(Qt::Key_Return);
    QCOMPARE(f.Wc().StopBits, uint8_t{1});

    Enter(f.List("Ed_dta"));
    Press(Qt::Key_Home);
    Press(Qt::Key_Return);
    QCOMPARE(f.Wc().DataBits, uint8_t{5});

    Enter(f.List("Ed_par"));
    Press(Qt::Key_Down);
    Press(Qt::Key_Down);  // None -> Odd -> Even, then Escape back to None
    Press(Qt::Key_Escape);
    QCOMPARE(f.List("Ed_par")->currentText(), QStringLiteral("None"));
    QCOMPARE(Focused(), f.dialog->OkButton());
    QCOMPARE(f.Wc().Parity, 'N');
    Enter(f.List("Ed_par"));
    Press(Qt::Key_End);
    Press(Qt::Key_Return);
    QCOMPARE(f.Wc().Parity, 'M');
  }

  void EscapeRestoresTheEntryText() {
    Fixture f;
    QVERIFY(f.Open());
    Enter(f.Edit("Ed_BR"));
    Press(Qt::Key_End);
    QTest::keyClicks(Focused(), "34");
    Press(Qt::Key_Backspace);
    QTest::keyClicks(Focused(), "99");
    QCOMPARE(f.Edit("Ed_BR")->text(), QStringLiteral("12399"));
    Press(Qt::Key_Escape);
    QCOMPARE(f.Edit("Ed_BR")->text(), QStringLiteral("12"));
    QCOMPARE(Focused(), f.Edit("Ed_Bd"));
    QCOMPARE(f.Wc().BaudDivisor, 12u);
    QVERIFY(f.dialog->isVisible());

    // Escape on O. K. does nothing.
    Enter(f.dialog->OkButton());
    Press(Qt::Key_Escape);
    QVERIFY(f.dialog->isVisible());
    QCOMPARE(Focused(), f.dialog->OkButton());
  }

  // Alt+O chooses O. K. while the typed divisor has not yet left its field.
  void OkAcceleratorCommitsTheFieldBeingTyped() {
    Fixture f;
    f.settings.record.Language = 12;  // out of range: O. K. clamps the whole record
    QVERIFY(f.Open());
    Enter(f.Edit("Ed_BR"));
    Retype(QStringLiteral("7"));
    Press(Qt::Key_O, Qt::AltModifier);
    QTRY_VERIFY(!f.dialog->isVisible());
    QCOMPARE(f.dialog->result(), int(QDialog::Accepted));
    QCOMPARE(f.settings.record.BaudDivisor, 7u);
    QCOMPARE(f.settings.record.Language, uint8_t{0});
    QCOMPARE(f.reopens, 1);
    QCOMPARE(f.record_at_reopen, f.settings.record);  // the port opens with the new record
    QVERIFY(!f.settings.SettingsDirty);               // the file is not the dialog's business
  }

  void OkWithEnterAppliesEveryControl() {
    Fixture f;
    f.settings.record.Parity = 'x';
    QVERIFY(f.Open());
    Enter(f.Edit("Ed_com"));
    Retype(QStringLiteral("5"));
    Press(Qt::Key_Return);
    Press(Qt::Key_Return);  // past Ed_BR
    Retype(QStringLiteral("4800"));
    Press(Qt::Key_Return);
    Press(Qt::Key_Return);  // past the presets
    Press(Qt::Key_Up);      // 7 data bits
    Press(Qt::Key_Return);
    Press(Qt::Key_Down);  // 2 stop bits
    Press(Qt::Key_Return);
    Press(Qt::Key_Down);  // Odd
    Press(Qt::Key_Return);
    QCOMPARE(Focused(), f.dialog->OkButton());
    Press(Qt::Key_Return);
    QVERIFY(!f.dialog->isVisible());
    const SettingsRecord& r = f.settings.record;
    QCOMPARE(r.PortIndex, uint8_t{4});
    QCOMPARE(r.BaudDivisor, 24u);
    QCOMPARE(r.DataBits, uint8_t{7});
    QCOMPARE(r.StopBits, uint8_t{2});
    QCOMPARE(r.Parity, 'O');
    QCOMPARE(f.reopens, 1);
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
    QCOMPARE(f.Edit("Ed_com")->text(), QStringLiteral("1"));
    QCOMPARE(f.Edit("Ed_BR")->text(), QStringLiteral("12"));
    QCOMPARE(f.Wc().PortIndex, uint8_t{0});
    QCOMPARE(Focused(), f.dialog->StornoButton());
  }
};

QTEST_MAIN(PortDialogTest)
#include "port_dialog_test.moc"
