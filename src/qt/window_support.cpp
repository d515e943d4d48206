#include "qt/window_support.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QObject>
#include <QWidget>

#include "core/code_page.h"

namespace m32::qt {

bool HasFixedPitch(const QFont& font) {
  // Measured, not asked: font matchers call some monospaced fonts with a few
  // wide glyphs (Noto Sans Mono) proportional.
  const QFontMetrics metrics(font);
  return metrics.horizontalAdvance(QLatin1Char('i')) == metrics.horizontalAdvance(QLatin1Char('W'));
}

QFont FixedPitchFont(const QString& family) {
  QFont font(family);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  if (HasFixedPitch(font)) return font;
  return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

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
