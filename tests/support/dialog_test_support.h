// Keyboard helpers for the dialog tests: every key goes to the widget that
// has the focus, as a technician's keystroke would.
#pragma once

#include <QApplication>
#include <QLineEdit>
#include <QString>
#include <QWidget>
#include <QtTest>

namespace m32::test_support {

inline QWidget* Focused() {
  return QApplication::focusWidget();
}

inline void Press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QWidget* w = Focused();
  QVERIFY(w != nullptr);
  QTest::keyClick(w, key, mods);
}

// Moves into `field` the way the Tab key would.
inline void Enter(QWidget* field) {
  field->setFocus(Qt::TabFocusReason);
  QCOMPARE(Focused(), field);
}

// Replaces the text of the focused edit field by typing.
inline void Retype(const QString& text) {
  QWidget* w = Focused();
  QVERIFY(qobject_cast<QLineEdit*>(w) != nullptr);
  QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(w, Qt::Key_Delete);
  QTest::keyClicks(w, text);
}

}  // namespace m32::test_support
