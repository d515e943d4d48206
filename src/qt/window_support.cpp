#include "qt/window_support.h"

#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <QWidget>

#include "core/code_page.h"

namespace m32::qt {

QString FromCp1250(const std::string& cp1250) {
  return QString::fromStdString(core::Cp1250ToUtf8(cp1250));
}

int KeyCode(const QKeyEvent* event) {
  if (IsEnter(event->key())) return kKeyEnter;
  if (event->key() == Qt::Key_Escape) return kKeyEscape;
  return 0;
}

bool CloseOnEnterOrEscape(QWidget& window, const QKeyEvent& event) {
  if (KeyCode(&event) == 0) return false;
  window.close();
  return true;
}

const QKeyEvent* KeyPressOn(const QObject* child, const QObject* watched, const QEvent* event) {
  if (watched != child || event->type() != QEvent::KeyPress) return nullptr;
  return static_cast<const QKeyEvent*>(event);
}

}  // namespace m32::qt
