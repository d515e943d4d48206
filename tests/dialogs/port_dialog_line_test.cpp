// The port dialog with the real serial line: O. K. re-opens the port, and
// the far end of a pseudo-terminal sees the new rate.
//
// This file reads the kernel's line state itself, so it includes the
// kernel's terminal header and never the C library's.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <filesystem>
#include <memory>
#include <string>

#include "dialogs/port_dialog.h"
#include "link/port_connection.h"
#include "qt/ui_invoker.h"
#include "serial/serial_device.h"
#include "support/dialog_test_support.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

using namespace m32::test_support;

namespace {

// The output rate the line runs at, read from the far end.
unsigned LineRate(int master) {
  termios2 t{};
  if (::ioctl(master, TCGETS2, &t) != 0) return 0;
  return t.c_ospeed;
}

}  // namespace

class PortDialogLineTest : public QObject {
  Q_OBJECT

 private slots:
  void OkReopensThePortAtTheNewRate() {
    m32::test_support::PtyPair pty;
    QVERIFY(pty.ok());
    m32::test_support::TempDir folder;
    std::filesystem::create_symlink(pty.slave_path(), folder.path() / "COM1");

    m32::config::Settings settings;
    m32::config::ApplyDefaults(settings.record);  // COM1, divisor 12
    m32::config::TextTable texts;
    m32::SharedStatus status;
    QObject ui_object;
    m32::QtUiInvoker invoker(&ui_object);
    std::unique_ptr<m32::serial::SerialDevice> device = m32::serial::MakePlatformSerialDevice();
    int errors = 0;
    m32::link::PortConnection port({*device, invoker, status, settings.record, texts,
                                    folder.path().string() + "/",
                                    [&errors](const std::string&, const std::string&) { ++errors; },
                                    [] { QCoreApplication::processEvents(); }});
    port.OpenPort();
    QVERIFY(port.IsOpen());
    QCOMPARE(LineRate(pty.master()), 9600u);

    QWidget main_window;
    int reopens = 0;
    m32::dialogs::PortDialog dialog(settings, texts, &main_window, [&] {
      ++reopens;
      port.ClosePort();
      port.OpenPort();
    });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    Enter(dialog.findChild<QLineEdit*>(QStringLiteral("Ed_BR")));
    Retype(QStringLiteral("7"));
    Enter(dialog.OkButton());
    Press(Qt::Key_Return);
    QVERIFY(!dialog.isVisible());

    QCOMPARE(reopens, 1);
    QCOMPARE(errors, 0);
    QVERIFY(port.IsOpen());
    QVERIFY(port.Link() != nullptr);  // the link runs again
    QCOMPARE(settings.record.BaudDivisor, 7u);
    QCOMPARE(LineRate(pty.master()), 16457u);
    port.ClosePort();
  }
};

QTEST_MAIN(PortDialogLineTest)
#include "port_dialog_line_test.moc"
