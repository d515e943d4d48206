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

namespace m32 {
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
constexpr int kGroup = 6;
constexpr int kButtonGroup = 5;
constexpr int kStorno = 0;
constexpr int kOk = 1;

void SetBackground(QWidget* w, const QColor& colour) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, colour);
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

}  // namespace

TWkonst::TWkonst(config::Settings& settings, const config::TextTable& texts, SharedStatus& status,
                 QWidget* main_window, QWidget* parent)
    : FieldDialog("TWkonst", kClientWidth, kClientHeight, main_window, parent),
      settings_(settings),
      texts_(texts),
      status_(status),
      wc_(settings.record) {
  setWindowTitle(qt::FromCp1250(texts_.Get(kGroup, 0)));

  ScrollBox1 = new QScrollArea(this);
  ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
  ScrollBox1->setFrameShape(QFrame::NoFrame);
  ScrollBox1->setFocusPolicy(Qt::NoFocus);  // only its fields are in the tab order
  ScrollBox1->setGeometry(0, 0, kClientWidth, kScrollBoxHeight);
  ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ScrollBox1->setWidgetResizable(true);  // the rows take the width, their height is fixed
  SetBackground(ScrollBox1->viewport(), qt::kLime);

  auto* content = new QWidget;
  content->setObjectName(QStringLiteral("ScrollBox1Rows"));
  SetBackground(content, qt::kLime);
  for (int n = 0; n < dialogs::kConstantRows; ++n) {
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
    AddEdit(edit, [this, n] { Edit0Exit(n); });
  }
  ScrollBox1->setWidget(content);

  // The wheel reaches the form through the scroll box (its view and its
  // scroll bar); each of them reports to the same handler.
  ScrollBox1->installEventFilter(this);
  ScrollBox1->viewport()->installEventFilter(this);
  ScrollBox1->verticalScrollBar()->installEventFilter(this);

  PlaceButtons(131, 251, 310);
  FormCreate();
}

void TWkonst::FormCreate() {
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
  ScrollBox1->widget()->setFixedHeight(last_label_top + kRangeBelowLastLabel);

  std::vector<QWidget*> chain = {Tl_OK, Tl_storno};
  chain.insert(chain.end(), edits_.begin(), edits_.end());
  SetChain(chain);
}

void TWkonst::FormActivate() {
  StartAt(Tl_storno);
  wc_ = settings_.record;

  setWindowTitle(qt::FromCp1250(texts_.Get(kGroup, 0)));
  CaptionButtons(qt::FromCp1250(texts_.Get(kButtonGroup, kOk)),
                 qt::FromCp1250(texts_.Get(kButtonGroup, kStorno)));
  for (int n = 0; n < dialogs::kConstantRows; ++n) {
    const auto i = static_cast<std::size_t>(n);
    labels_[i]->setText(qt::FromCp1250(
        dialogs::ConstantLabel(static_cast<unsigned>(n), texts_.Get(kGroup, n + 1))));
    edits_[i]->setText(QString::fromStdString(dialogs::ConstantText(wc_.Constants[i])));
  }
  ScrollBox1->verticalScrollBar()->setValue(0);
  status_.WheelCountdown.store(0);
}

void TWkonst::Edit0Exit(int row) {
  if (row < 0 || row >= dialogs::kConstantRows) return;
  QLineEdit* edit = edits_[static_cast<std::size_t>(row)];
  if (const auto shown = dialogs::CommitConstant(wc_, row, edit->text().toStdString())) {
    edit->setText(QString::fromStdString(*shown));
  }
}

void TWkonst::ScrollBox1MouseWheel(int delta) {
  if (status_.WheelCountdown.load() != 0) return;
  status_.WheelCountdown.store(1);
  if (delta == 0) return;
  QScrollBar* bar = ScrollBox1->verticalScrollBar();
  bar->setValue(bar->value() + (delta > 0 ? -kRowStep : kRowStep));  // the bar keeps its range
}

void TWkonst::FieldEntered(QWidget* field) {
  // A row reached from the keyboard outside the view is scrolled into it,
  // the whole field (ensureWidgetVisible would settle for its text cursor).
  QScrollBar* bar = ScrollBox1->verticalScrollBar();
  const int top = field->mapTo(ScrollBox1->widget(), QPoint(0, 0)).y();
  const int bottom = top + field->height();
  const int view = ScrollBox1->viewport()->height();
  if (top < bar->value()) {
    bar->setValue(top);
  } else if (bottom > bar->value() + view) {
    bar->setValue(bottom - view);
  }
}

void TWkonst::wheelEvent(QWheelEvent* event) {
  ScrollBox1MouseWheel(event->angleDelta().y());
  event->ignore();
}

bool TWkonst::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Wheel &&
      (watched == ScrollBox1 || watched == ScrollBox1->viewport() ||
       watched == ScrollBox1->verticalScrollBar())) {
    auto* wheel = static_cast<QWheelEvent*>(event);
    ScrollBox1MouseWheel(wheel->angleDelta().y());
    // The scroll box does no scrolling of its own; the event stays unhandled
    // and goes on to the parents, where WheelCountdown stops it acting again.
    wheel->ignore();
    return true;
  }
  return FieldDialog::eventFilter(watched, event);
}

void TWkonst::Apply() {
  settings_.record = wc_;
  config::ClampConstants(settings_.record);
}

}  // namespace m32
