#include "qt/window_support.h"

#include <QKeyEvent>

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

}  // namespace m32::qt
