#include "dialogs/field_dialog.h"

#include <QColor>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFont>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>
#include <algorithm>
#include <utility>

#include "dialogs/field_keys.h"
#include "qt/window_frame.h"
#include "qt/window_support.h"

namespace m32::dialogs {
namespace {

constexpr int kButtonWidth = 78;
constexpr int kButtonHeight = 25;

void SetColour(QWidget* w, QPalette::ColorRole role, const QColor& colour) {
  QPalette p = w->palette();
  p.setColor(role, colour);
  w->setPalette(p);
}

}  // namespace

FieldDialog::FieldDialog(const char* object_name, int client_width, int client_height,
                         QWidget* main_window, QWidget* parent)
    : QDialog(parent, qt::kToolWindowFlags), main_window_(main_window) {
  setObjectName(QString::fromLatin1(object_name));
  setModal(true);
  setFixedSize(client_width, client_height);
  setAutoFillBackground(true);
  SetColour(this, QPalette::Window, qt::kLime);
  SetColour(this, QPalette::WindowText, Qt::black);
  setFont(ArialBold(false));

  Tl_OK = new QPushButton(QStringLiteral("&O. K."), this);
  Tl_OK->setObjectName(QStringLiteral("Tl_OK"));
  Tl_OK->setFont(ArialBold(true));
  SetColour(Tl_OK, QPalette::ButtonText, QColor(0, 128, 0));  // green
  Tl_storno = new QPushButton(QStringLiteral("&Storno"), this);
  Tl_storno->setObjectName(QStringLiteral("Tl_storno"));
  Tl_storno->setFont(ArialBold(true));
  SetColour(Tl_storno, QPalette::ButtonText, QColor(255, 0, 0));  // red
  // Enter is handled in keyPressEvent: it presses the focused button only.
  Tl_OK->setAutoDefault(false);
  Tl_storno->setAutoDefault(false);
  Tl_storno->installEventFilter(this);
  connect(Tl_OK, &QPushButton::clicked, this, &FieldDialog::Tl_OKClick);
  connect(Tl_storno, &QPushButton::clicked, this, &FieldDialog::Tl_stornoClick);
}

QFont FieldDialog::ArialBold(bool italic) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  font.setBold(true);
  font.setItalic(italic);
  return font;
}

void FieldDialog::PlaceButtons(int ok_left, int storno_left, int top) {
  Tl_OK->setGeometry(ok_left, top, kButtonWidth, kButtonHeight);
  Tl_storno->setGeometry(storno_left, top, kButtonWidth, kButtonHeight);
}

void FieldDialog::CaptionButtons(const QString& ok, const QString& storno) {
  Tl_OK->setText(ok);
  Tl_storno->setText(storno);
}

void FieldDialog::AddEdit(QLineEdit* edit, std::function<void()> commit) {
  fields_.push_back({edit, edit, nullptr, std::move(commit)});
  edit->installEventFilter(this);
}

void FieldDialog::AddList(QComboBox* list, std::function<void()> commit) {
  fields_.push_back({list, nullptr, list, std::move(commit)});
  // A turn of the wheel neither takes the focus to a list nor changes it.
  list->setFocusPolicy(Qt::StrongFocus);
  list->installEventFilter(this);
}

void FieldDialog::SetChain(std::vector<QWidget*> chain) {
  chain_ = std::move(chain);
  for (std::size_t i = 1; i < chain_.size(); ++i) setTabOrder(chain_[i - 1], chain_[i]);
}

const FieldDialog::Field* FieldDialog::Find(const QObject* w) const {
  const auto it =
      std::find_if(fields_.begin(), fields_.end(), [w](const Field& f) { return f.widget == w; });
  return it == fields_.end() ? nullptr : &*it;
}

void FieldDialog::FocusNext(QWidget* from) {
  const auto it = std::find(chain_.begin(), chain_.end(), from);
  if (it == chain_.end()) return;
  const std::size_t start = static_cast<std::size_t>(it - chain_.begin());
  for (std::size_t step = 1; step <= chain_.size(); ++step) {
    QWidget* w = chain_[(start + step) % chain_.size()];
    if (w->isEnabled() && w->isVisibleTo(this) && (w->focusPolicy() & Qt::TabFocus) != 0) {
      w->setFocus(Qt::TabFocusReason);
      return;
    }
  }
}

void FieldDialog::StartAt(QWidget* w) {
  w->setFocus(Qt::OtherFocusReason);
  editing_ = nullptr;
}

void FieldDialog::Enter(const Field& f) {
  if (f.edit != nullptr) entry_text_ = f.edit->text();
  if (f.list != nullptr) entry_index_ = f.list->currentIndex();
  editing_ = f.widget;
  FieldEntered(f.widget);
}

void FieldDialog::Leave(const Field& f) {
  if (editing_ == f.widget) editing_ = nullptr;
  if (f.commit) f.commit();
}

bool FieldDialog::FieldKeyPress(const Field& f, int key) {
  switch (FieldKeyAction(key)) {
    case FieldKey::kPass:
      return false;
    case FieldKey::kNext:
      break;
    case FieldKey::kRestoreAndNext:
      if (f.edit != nullptr) f.edit->setText(entry_text_);
      if (f.list != nullptr) f.list->setCurrentIndex(entry_index_);
      break;
  }
  FocusNext(f.widget);
  return true;
}

void FieldDialog::Tl_OKClick() {
  if (applying_) return;  // a second click while the first is still at work
  applying_ = true;
  Tl_OK->setFocus(Qt::OtherFocusReason);
  // An inactive window gets no focus events; the field still commits.
  if (const Field* f = Find(editing_)) Leave(*f);
  Apply();
  applying_ = false;
  accept();
}

void FieldDialog::Tl_stornoClick() {
  reject();
}

void FieldDialog::reject() {
  if (applying_) return;  // O. K. is re-opening the port; it closes the dialog itself
  QDialog::reject();
}

void FieldDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // restored from minimised: not an opening
  qt::PlaceBeside(this, main_window_);
  FormActivate();
}

void FieldDialog::keyPressEvent(QKeyEvent* event) {
  switch (qt::KeyCode(event)) {
    case kKeyEscape:
      return;  // only Tl_storno and the fields react to Escape
    case kKeyEnter:
      if (auto* button = qobject_cast<QPushButton*>(focusWidget())) button->click();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

bool FieldDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Tl_storno) {
    if (event->type() == QEvent::KeyPress &&
        qt::KeyCode(static_cast<QKeyEvent*>(event)) == kKeyEscape) {
      reject();
      return true;
    }
    return QDialog::eventFilter(watched, event);
  }
  const Field* f = Find(watched);
  if (f == nullptr) return QDialog::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::FocusIn:
      if (qt::IsTechniciansFocusChange(static_cast<QFocusEvent*>(event)->reason())) Enter(*f);
      break;
    case QEvent::FocusOut:
      if (qt::IsTechniciansFocusChange(static_cast<QFocusEvent*>(event)->reason())) Leave(*f);
      break;
    case QEvent::Wheel:
      // Only the list the technician is in follows the wheel.
      if (f->list != nullptr && !f->list->hasFocus()) return true;
      break;
    case QEvent::KeyPress:
      // One report per keystroke reaches this filter; Enter and Escape are
      // taken here, so they never travel on to the form a second time.
      if (FieldKeyPress(*f, qt::KeyCode(static_cast<QKeyEvent*>(event)))) return true;
      break;
    default:
      break;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace m32::dialogs
