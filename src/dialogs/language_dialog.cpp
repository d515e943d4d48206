#include "dialogs/language_dialog.h"

#include <QColor>
#include <QEvent>
#include <QFont>
#include <QHideEvent>
#include <QKeyEvent>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QString>
#include <string>
#include <utility>

#include "config/language_list.h"
#include "dialogs/field_dialog.h"
#include "qt/window_frame.h"
#include "qt/window_support.h"

namespace m32::dialogs {
namespace {

constexpr int kClientWidth = 267;
constexpr int kRowStep = 26;
constexpr int kFirstRowTop = 12;
constexpr int kCollapsedHeight = 10;

}  // namespace

LanguageDialog::LanguageDialog(config::Settings& settings, config::ModulePath& module,
                               config::TextTable& texts, QWidget* main_window,
                               std::function<void()> on_texts_loaded, QWidget* parent)
    : QDialog(parent, qt::kToolWindowFlags),
      settings_(settings),
      module_(module),
      texts_(texts),
      main_window_(main_window),
      on_texts_loaded_(std::move(on_texts_loaded)) {
  setObjectName(QStringLiteral("TWjazyk"));
  setWindowTitle(QStringLiteral("Jazyk"));
  setModal(true);
  setAutoFillBackground(true);
  SetColour(this, QPalette::Window, qt::kLime);

  for (std::size_t i = 0; i < radio_buttons_.size(); ++i) {
    auto* rb = new QRadioButton(this);
    rb->setObjectName(QStringLiteral("RadioButton%1").arg(i));
    rb->setFont(ArialBold(false));
    SetColour(rb, QPalette::WindowText, Qt::black);
    rb->hide();
    radio_buttons_[i] = rb;
  }
  radio_buttons_[0]->setGeometry(32, kFirstRowTop, 217, 17);

  const DialogButtons buttons =
      MakeDialogButtons(this, QStringLiteral("O. K."), QStringLiteral("Storno"));
  ok_button_ = buttons.ok;
  storno_button_ = buttons.storno;
  ok_button_->setGeometry(35, 52, 78, 25);
  storno_button_->setGeometry(155, 52, 78, 25);
  connect(ok_button_, &QPushButton::clicked, this, &LanguageDialog::OnOkClicked);
  connect(storno_button_, &QPushButton::clicked, this, &LanguageDialog::OnStornoClicked);

  CreateControls();
}

void LanguageDialog::CreateControls() {
  const QRect first = radio_buttons_[0]->geometry();
  for (std::size_t i = 1; i < radio_buttons_.size(); ++i) {
    const QRect prev = radio_buttons_[i - 1]->geometry();
    radio_buttons_[i]->setGeometry(first.left(), prev.top() + kRowStep, first.width(),
                                   first.height());
  }
  // Tab order: the two buttons first, then the radio buttons.
  setTabOrder(ok_button_, storno_button_);
  setTabOrder(storno_button_, radio_buttons_[0]);
  for (std::size_t i = 1; i < radio_buttons_.size(); ++i) {
    setTabOrder(radio_buttons_[i - 1], radio_buttons_[i]);
  }
  SetFormHeight(kCollapsedHeight);
}

int LanguageDialog::FormHeight() const {
  return size().grownBy(qt::FrameMargins(this)).height();
}

void LanguageDialog::SetFormHeight(int height) {
  // The numbers are outer heights; the width is the client area's.
  const QMargins frame = qt::FrameMargins(this);
  qt::SetOuterFixedSize(this, {kClientWidth + frame.left() + frame.right(), height});
}

void LanguageDialog::FormActivate() {
  qt::PlaceBeside(this, main_window_);
  visible_ = 0;
  language_choices_.clear();
  SetFormHeight(kCollapsedHeight);

  setWindowTitle(qt::FromCp1250(texts_.Get(config::text::kLanguageCaption)));
  ok_button_->hide();
  ok_button_->setText(qt::FromCp1250(texts_.Get(config::text::kButtonOk)));
  storno_button_->hide();
  storno_button_->setText(qt::FromCp1250(texts_.Get(config::text::kButtonCancel)));

  // Exclusivity is switched off while the checks are reset, or one would stay checked.
  for (QRadioButton* rb : radio_buttons_) {
    rb->hide();
    rb->setAutoExclusive(false);
    rb->setChecked(false);
    rb->setAutoExclusive(true);
  }

  for (const config::LanguageChoice& choice : config::ProbeLanguages(module_)) {
    QRadioButton* rb = radio_buttons_[static_cast<std::size_t>(visible_)];
    rb->setText(QStringLiteral(" ") + qt::FromCp1250(choice.name));
    rb->show();
    if (choice.number == settings_.record.Language) rb->setChecked(true);
    language_choices_.push_back(choice.number);
    ++visible_;
  }
  if (visible_ == 0) {
    visible_ = 1;
    language_choices_.push_back(0);
    radio_buttons_[0]->setText(qt::FromCp1250(texts_.Get(config::text::kLanguageNative)));
    radio_buttons_[0]->show();
    radio_buttons_[0]->setChecked(true);
  }

  const int top = kRowStep * visible_ + 26;
  ok_button_->move(ok_button_->x(), top);
  storno_button_->move(storno_button_->x(), top);
  ok_button_->show();
  storno_button_->show();
  SetFormHeight(kRowStep * visible_ + 97);
  storno_button_->setFocus();
}

void LanguageDialog::FormDeactivate() {
  SetFormHeight(kCollapsedHeight);
}

void LanguageDialog::OnOkClicked() {
  ok_button_->setFocus();
  for (int i = 0; i < visible_; ++i) {
    if (radio_buttons_[static_cast<std::size_t>(i)]->isChecked()) {
      settings_.record.Language = language_choices_[static_cast<std::size_t>(i)];
      config::ClampSettings(settings_.record);
      if (texts_.LoadTexts(module_, settings_.record.Language) ==
              config::TextTable::LoadResult::kLoaded &&
          on_texts_loaded_) {
        on_texts_loaded_();
      }
      break;
    }
  }
  accept();
}

void LanguageDialog::OnStornoClicked() {
  reject();
}

bool LanguageDialog::OnStornoKey(int key) {
  if (key != Qt::Key_Escape) return false;
  reject();
  return true;
}

void LanguageDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Rebuilt at each opening only: switching to another program and back keeps
  // the technician's unconfirmed choice, the place and the focus.
  if (!event->spontaneous()) FormActivate();
}

void LanguageDialog::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (!event->spontaneous()) FormDeactivate();
}

void LanguageDialog::keyPressEvent(QKeyEvent* event) {
  if (!DialogKey(this, event)) QDialog::keyPressEvent(event);
}

bool LanguageDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == storno_button_ && event->type() == QEvent::KeyPress &&
      OnStornoKey(static_cast<QKeyEvent*>(event)->key())) {
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace m32::dialogs
