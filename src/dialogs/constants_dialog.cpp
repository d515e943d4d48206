#include "dialogs/constants_dialog.h"
#include "qt/window_support.h"

#include <QColor>
#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QString>
#include <QWheelEvent>
#include <string>
#include <vector>

namespace m32::dialogs {
namespace {

constexpr int kClientWidth = 449;
constexpr int kClientHeight = 347;
constexpr int kScrollBoxHeight = 305;

// Row 0 as designed, measured with the view scrolled down by kDesignScroll.
constexpr int kDesignScroll = 26;
constexpr int kRowStep = 26;
constexpr int kLabelLeft = 11;
constexpr int kLabelTop = -4;
constexpr int kLabelWidth = 300;  // up to the fields; a longer caption is cut there
constexpr int kLabelHeight = 16;
constexpr int kEditLeft = 315;
constexpr int kEditTop = -8;
constexpr int kEditWidth = 98;
constexpr int kEditHeight = 24;
constexpr int kEditMaxLength = 10;
// The scroll range ends this far below the last label.
constexpr int kRangeBelowLastLabel = 156;

// Text table: group 6 holds the caption and the row labels, group 5 the buttons.

void SetBackground(QWidget* w, const QColor& colour) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, colour);
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

}  // namespace

ConstantsDialog::ConstantsDialog(config::Settings& settings, const config::TextTable& texts,
                                 SharedStatus& status, QWidget* main_window, QWidget* parent)
    : FieldDialog("TWkonst", kClientWidth, kClientHeight, settings, texts,
                  config::text::kConstantsCaption, main_window, parent),
      status_(status) {
  scroll_box_ = new QScrollArea(this);
  scroll_box_->setObjectName(QStringLiteral("ScrollBox1"));
  scroll_box_->setFrameShape(QFrame::NoFrame);
  scroll_box_->setFocusPolicy(Qt::NoFocus);  // only its fields are in the tab order
  scroll_box_->setGeometry(0, 0, kClientWidth, kScrollBoxHeight);
  scroll_box_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_box_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  scroll_box_->setWidgetResizable(true);  // the rows take the width, their height is fixed
  SetBackground(scroll_box_->viewport(), qt::kLime);

  auto* content = new QWidget;
  content->setObjectName(QStringLiteral("ScrollBox1Rows"));
  SetBackground(content, qt::kLime);
  for (int n = 0; n < kConstantRows; ++n) {
    auto* label = new QLabel(content);
    label->setObjectName(QStringLiteral("Label%1").arg(n));
    label->setFont(ArialBold(false));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(p);
    labels_[static_cast<std::size_t>(n)] = label;

    auto* edit = new QLineEdit(content);
    edit->setObjectName(QStringLiteral("Edit%1").arg(n));
    edit->setFont(ArialBold(false));
    edits_[static_cast<std::size_t>(n)] = edit;
    AddEdit(edit, [this, n] { OnConstantFieldLeft(n); });
  }
  scroll_box_->setWidget(content);

  // The wheel reaches the form through the scroll box (its view and its
  // scroll bar); each of them reports to the same handler.
  scroll_box_->installEventFilter(this);
  scroll_box_->viewport()->installEventFilter(this);
  scroll_box_->verticalScrollBar()->installEventFilter(this);

  PlaceButtons(131, 251, 310);
  CreateControls();
}

void ConstantsDialog::CreateControls() {
  // Row 0 keeps its designed place; the rows below follow it 26 pixels apart.
  labels_[0]->setGeometry(kLabelLeft, kLabelTop + kDesignScroll, kLabelWidth, kLabelHeight);
  edits_[0]->setGeometry(kEditLeft, kEditTop + kDesignScroll, kEditWidth, kEditHeight);
  edits_[0]->setMaxLength(kEditMaxLength);
  for (std::size_t n = 1; n < edits_.size(); ++n) {
    const QRect label = labels_[n - 1]->geometry();
    labels_[n]->setGeometry(labels_[0]->x(), label.y() + kRowStep, labels_[0]->width(),
                            kLabelHeight);
    labels_[n]->setAlignment(labels_[0]->alignment());
    const QRect edit = edits_[n - 1]->geometry();
    edits_[n]->setGeometry(edits_[0]->x(), edit.y() + kRowStep, edits_[0]->width(), kEditHeight);
    edits_[n]->setMaxLength(edits_[0]->maxLength());
  }
  // Scroll range: the last label's top in designed coordinates plus 156.
  const int last_label_top = labels_.back()->y() - kDesignScroll;
  scroll_box_->widget()->setFixedHeight(last_label_top + kRangeBelowLastLabel);

  std::vector<QWidget*> chain = {ok_button_, storno_button_};
  chain.insert(chain.end(), edits_.begin(), edits_.end());
  SetChain(chain);
}

void ConstantsDialog::ShowWorkingCopy() {
  for (int n = 0; n < kConstantRows; ++n) {
    const auto i = static_cast<std::size_t>(n);
    labels_[i]->setText(qt::FromCp1250(
        ConstantLabel(static_cast<unsigned>(n), Texts().Get(config::text::ConstantLabel(n)))));
    edits_[i]->setText(QString::fromStdString(ConstantText(Working().Constants[i])));
  }
  scroll_box_->verticalScrollBar()->setValue(0);
  status_.WheelCountdown.store(0);
}

void ConstantsDialog::OnConstantFieldLeft(int row) {
  if (row < 0 || row >= kConstantRows) return;
  QLineEdit* edit = edits_[static_cast<std::size_t>(row)];
  if (const auto shown = CommitConstant(Working(), row, edit->text().toStdString())) {
    edit->setText(QString::fromStdString(*shown));
  }
}

void ConstantsDialog::OnWheel(int delta) {
  if (status_.WheelCountdown.load() != 0) return;
  status_.WheelCountdown.store(1);
  if (delta == 0) return;
  QScrollBar* bar = scroll_box_->verticalScrollBar();
  bar->setValue(bar->value() + (delta > 0 ? -kRowStep : kRowStep));  // the bar keeps its range
}

void ConstantsDialog::FieldEntered(QWidget* field) {
  // A row reached from the keyboard outside the view is scrolled into it,
  // the whole field (ensureWidgetVisible would settle for its text cursor).
  QScrollBar* bar = scroll_box_->verticalScrollBar();
  const int top = field->mapTo(scroll_box_->widget(), QPoint(0, 0)).y();
  const int bottom = top + field->height();
  const int view = scroll_box_->viewport()->height();
  if (top < bar->value()) {
    bar->setValue(top);
  } else if (bottom > bar->value() + view) {
    bar->setValue(bottom - view);
  }
}

void ConstantsDialog::wheelEvent(QWheelEvent* event) {
  OnWheel(event->angleDelta().y());
  event->ignore();
}

bool ConstantsDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Wheel &&
      (watched == scroll_box_ || watched == scroll_box_->viewport() ||
       watched == scroll_box_->verticalScrollBar())) {
    auto* wheel = static_cast<QWheelEvent*>(event);
    OnWheel(wheel->angleDelta().y());
    // The scroll box does no scrolling of its own; the event stays unhandled
    // and goes on to the parents, where WheelCountdown stops it acting again.
    wheel->ignore();
    return true;
  }
  return FieldDialog::eventFilter(watched, event);
}

void ConstantsDialog::Clamp(config::SettingsRecord& record) {
  config::ClampConstants(record);
}

}  // namespace m32::dialogs
