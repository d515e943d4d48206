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

}  // namespace

FieldDialog::FieldDialog(const char* object_name, int client_width, int client_height,
                         config::Settings& settings, const config::TextTable& texts,
                         config::TextId caption, QWidget* main_window, QWidget* parent)
    : QDialog(parent, qt::kToolWindowFlags),
      settings_(settings),
      texts_(texts),
      caption_(caption),
      working_(settings.record),
      main_window_(main_window) {
  setObjectName(QString::fromLatin1(object_name));
  setWindowTitle(qt::FromCp1250(texts_.Get(caption_)));
  setModal(true);
  setFixedSize(client_width, client_height);
  setAutoFillBackground(true);
  SetColour(this, QPalette::Window, qt::kLime);
  SetColour(this, QPalette::WindowText, Qt::black);
  setFont(ArialBold(false));

  const DialogButtons buttons =
      MakeDialogButtons(this, QStringLiteral("&O. K."), QStringLiteral("&Storno"));
  ok_button_ = buttons.ok;
  storno_button_ = buttons.storno;
  connect(ok_button_, &QPushButton::clicked, this, &FieldDialog::OnOkClicked);
  connect(storno_button_, &QPushButton::clicked, this, &FieldDialog::OnStornoClicked);
}

QFont ArialBold(bool italic) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  font.setBold(true);
  font.setItalic(italic);
  return font;
}

void SetColour(QWidget* w, QPalette::ColorRole role, const QColor& colour) {
  QPalette p = w->palette();
  p.setColor(role, colour);
  w->setPalette(p);
}

DialogButtons MakeDialogButtons(QDialog* dialog, const QString& ok, const QString& storno) {
  DialogButtons buttons{new QPushButton(ok, dialog), new QPushButton(storno, dialog)};
  buttons.ok->setObjectName(QStringLiteral("Tl_OK"));
  buttons.ok->setFont(ArialBold(true));
  SetColour(buttons.ok, QPalette::ButtonText, QColor(0, 128, 0));  // green
  buttons.storno->setObjectName(QStringLiteral("Tl_storno"));
  buttons.storno->setFont(ArialBold(true));
  SetColour(buttons.storno, QPalette::ButtonText, QColor(255, 0, 0));  // red
  // Enter is the dialog's (DialogKey): it presses the focused button only.
  buttons.ok->setAutoDefault(false);
  buttons.storno->setAutoDefault(false);
  buttons.storno->installEventFilter(dialog);
  return buttons;
}

bool DialogKey(QWidget* dialog, const QKeyEvent* event) {
  switch (qt::KeyCode(event)) {
    case kKeyEscape:
      return true;
    case kKeyEnter:
      if (auto* button = qobject_cast<QPushButton*>(dialog->focusWidget())) button->click();
      return true;
    default:
      return false;
  }
}

void FieldDialog::PlaceButtons(int ok_left, int storno_left, int top) {
  ok_button_->setGeometry(ok_left, top, kButtonWidth, kButtonHeight);
  storno_button_->setGeometry(storno_left, top, kButtonWidth, kButtonHeight);
}

void FieldDialog::CaptionButtons(const QString& ok, const QString& storno) {
  ok_button_->setText(ok);
  storno_button_->setText(storno);
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

void FieldDialog::OnOkClicked() {
  if (applying_) return;  // a second click while the first is still at work
  applying_ = true;
  ok_button_->setFocus(Qt::OtherFocusReason);
  // An inactive window gets no focus events; the field still commits.
  if (const Field* f = Find(editing_)) Leave(*f);
  Apply();
  applying_ = false;
  accept();
}

void FieldDialog::OnStornoClicked() {
  reject();
}

void FieldDialog::reject() {
  if (applying_) return;  // O. K. is re-opening the port; it closes the dialog itself
  QDialog::reject();
}

void FieldDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // restored from minimised: not an opening
  TakeWorkingCopy();
}

void FieldDialog::TakeWorkingCopy() {
  qt::PlaceBeside(this, main_window_);
  StartAt(storno_button_);
  working_ = settings_.record;
  setWindowTitle(qt::FromCp1250(texts_.Get(caption_)));
  CaptionButtons(qt::FromCp1250(texts_.Get(config::text::kButtonOk)),
                 qt::FromCp1250(texts_.Get(config::text::kButtonCancel)));
  ShowWorkingCopy();
}

void FieldDialog::Apply() {
  settings_.record = working_;
  Clamp(settings_.record);
  Applied();
}

void FieldDialog::keyPressEvent(QKeyEvent* event) {
  if (!DialogKey(this, event)) QDialog::keyPressEvent(event);
}

bool FieldDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == storno_button_) {
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
