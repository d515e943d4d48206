// What every window of the tool needs alike: its texts from the Windows-1250
// text table, its frame flags, the lime background, the Enter and Escape key
// codes the field rules know and the test for a focus change the technician
// made. (Window placement and outer sizes: qt/window_frame.h.)
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <Qt>
#include <string>

#include "core/key_codes.h"

class QEvent;
class QKeyEvent;
class QObject;
class QWidget;

namespace m32::qt {

// A Windows-1250 text (a text-table entry, a file name) as a QString.
QString FromCp1250(const std::string& cp1250);

// A font of `family` for a field whose characters must line up in columns.
// Where the family is missing and the font found in its place has no fixed
// pitch (wine without the Windows fonts falls back to a serif), the system's
// fixed-pitch font instead. Size and weight are the caller's to set.
QFont FixedPitchFont(const QString& family);
// Whether `font`'s characters all take the same width ('i' as wide as 'W').
bool HasFixedPitch(const QFont& font);

// The frame of the tool's small windows and dialogs: title bar with system
// menu, minimise and close buttons, no maximise button.
inline constexpr Qt::WindowFlags kToolWindowFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

// The background of the dialogs and the service windows, and of a lamp that
// is off.
inline constexpr QColor kLime{0, 255, 0};

// kKeyEnter for Return or keypad Enter, kKeyEscape for Escape, else 0.
int KeyCode(const QKeyEvent* event);

// Closes `window` on Enter or Escape (the reading windows' way out); true
// when it did.
bool CloseOnEnterOrEscape(QWidget& window, const QKeyEvent& event);

// For an event filter that takes the keys of a child: `event` as a key press
// when it is one aimed at `child`, else nullptr.
const QKeyEvent* KeyPressOn(const QObject* child, const QObject* watched, const QEvent* event);

// Return or keypad Enter.
constexpr bool IsEnter(int qt_key) {
  return qt_key == Qt::Key_Return || qt_key == Qt::Key_Enter;
}

// True for a focus change the technician made (a click, Tab, a shortcut);
// false where focus only comes or goes with the whole window (another
// application was activated) or with a popup (a list's drop-down, a context
// menu): that is no entering or leaving of a field.
constexpr bool IsTechniciansFocusChange(Qt::FocusReason reason) {
  return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

}  // namespace m32::qt
