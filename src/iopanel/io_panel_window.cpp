#include "iopanel/io_panel_window.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "qt/window_frame.h"
#include "qt/window_support.h"

namespace m32::iopanel {
namespace {

const QColor kOnColour(255, 255, 0);  // yellow

QColor ButtonFace() {
  return QPalette().color(QPalette::Button);
}

// The whole box takes the colour, caption included; the indicator stays white.
void SetBackground(QWidget* w, const QColor& c) {
  // Inputs are repainted at every tick that brings a frame; most keep their
  // colour, and a new palette makes Qt restyle and repaint the box.
  if (w->autoFillBackground() && w->palette().color(QPalette::Window) == c) return;
  QPalette p = w->palette();
  p.setColor(QPalette::Window, c);
  p.setColor(QPalette::Button, c);
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

void SetFieldBackground(QWidget* w, const QColor& c) {
  QPalette p = w->palette();
  p.setColor(QPalette::Base, c);
  w->setPalette(p);
}

}  // namespace

ChannelBox::ChannelBox(int tab_order, QWidget* parent) : QCheckBox(parent), tab_order_(tab_order) {}

void ChannelBox::focusInEvent(QFocusEvent* e) {
  QCheckBox::focusInEvent(e);
  emit focusEntered(this);
}

void ChannelBox::keyPressEvent(QKeyEvent* e) {
  const int key = qt::KeyCode(e);
  if (key != 0) emit keyPressed(this, key);
  QCheckBox::keyPressEvent(e);  // the key is passed on in every case
}

void ChannelBox::nextCheckState() {
  // Inputs show what the controller reports; a click must not change them.
  if (tab_order_ >= kOutputs) return;
  QCheckBox::nextCheckState();
}

IoPanel::IoPanel(SharedStatus& status, config::Settings& settings, const config::TextTable& texts,
                 QWidget* parent)
    : QGroupBox(parent), status_(status), settings_(settings), texts_(texts) {
  setObjectName("Preview_box");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  scrollBox1_ = new QScrollArea(this);
  scrollBox1_->setObjectName("ScrollBox1");
  scrollBox1_->setFrameShape(QFrame::NoFrame);
  scrollBox1_->setFocusPolicy(Qt::NoFocus);  // Tab walks the outputs only
  content_ = new QWidget(scrollBox1_);
  content_->setFixedSize(400, 472);
  scrollBox1_->setWidget(content_);
  layout->addWidget(scrollBox1_);

  QFont box_font("MS Sans Serif");
  box_font.setPointSize(8);
  box_font.setBold(true);
  for (int i = 0; i < kChannels; ++i) {
    auto* box = new ChannelBox(i, content_);
    box->setObjectName(QStringLiteral("CheckBox%1").arg(i));
    box->setText("i/o");
    box->setFont(box_font);
    box->resize(180, 17);
    SetBackground(box, ButtonFace());
    connect(box, &QCheckBox::toggled, this, [this, box] { OnChannelToggled(box); });
    connect(box, &ChannelBox::focusEntered, this, [this](ChannelBox* b) { OnChannelToggled(b); });
    connect(box, &ChannelBox::keyPressed, this,
            [this](ChannelBox* b, int key) { OnChannelKey(b, key); });
    boxes_[static_cast<std::size_t>(i)] = box;
  }
  adBox_ = new QLineEdit(content_);
  adBox_->setObjectName("adBox");
  adBox_->setReadOnly(true);
  adBox_->setFocusPolicy(Qt::NoFocus);
  adBox_->resize(80, 23);
  QFont ad_font = qt::FixedPitchFont(QStringLiteral("Fixedsys"));
  ad_font.setBold(true);
  adBox_->setFont(ad_font);
  label1_ = new QLabel("A / D", content_);
  label1_->setObjectName("Label1");
  label1_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QFont label_font("Arial");
  label_font.setBold(true);
  label1_->setFont(label_font);
}

void IoPanel::LayoutIoPanel(QWidget* form) {
  // 548 is the height of the window, frame included.
  qt::SetOuterSize(form, {form->frameGeometry().width(), 548});
  QWidget* previous = nullptr;
  for (int i = 0; i < kChannels; ++i) {
    ChannelBox* box = Box(i);
    const BoxPos pos = ChannelPosition(i);
    box->move(pos.left, pos.top);
    if (i >= 1) box->resize(Box(0)->width(), box->height());
    QFont f = box->font();
    f.setPointSize(8);
    box->setFont(f);
    // Tab walks the 32 outputs only; inputs take the focus from the mouse.
    box->setFocusPolicy(i < kOutputs ? Qt::StrongFocus : Qt::ClickFocus);
    if (i < kOutputs) {
      if (previous != nullptr) QWidget::setTabOrder(previous, box);
      previous = box;
    }
  }
  const QPoint ch60 = Box(60)->pos();
  adBox_->move(ch60.x(), ch60.y());
  label1_->adjustSize();
  label1_->move(adBox_->x() + adBox_->width() + 12, adBox_->y() + 4);
  RefreshIoPanel(true);
}

void IoPanel::RefreshIoPanel(bool rebuild_captions) {
  const bool active = status_.flags.IoDisplayActive.load() != 0;
  const int visible = VisibleChannels(AdMode());
  for (int i = 0; i < kChannels; ++i) {
    ChannelBox* box = Box(i);
    if (active) box->setEnabled(i < kOutputs || !inputs_silent_);
    if (rebuild_captions) {
      const std::string caption = ChannelCaption(i, texts_.Get(config::text::ChannelCaption(i)));
      box->setText(qt::FromCp1250(caption));
    }
    SetBoxState(i, 0);
    if (!active) box->setEnabled(false);
    box->setVisible(i < visible);
  }
  EnableInputColumn(active);
  if (!active && AdMode() != 0) adBox_->clear();
  adBox_->setVisible(AdMode() != 0);
  label1_->setVisible(AdMode() != 0);
}

void IoPanel::EnableInputColumn(bool active) {
  const bool live = active && !inputs_silent_;
  SetFieldBackground(adBox_, live ? QPalette().color(QPalette::Base) : ButtonFace());
  adBox_->setEnabled(live);
  label1_->setEnabled(live);
}

void IoPanel::ShowLineSilent(bool silent) {
  if (silent == inputs_silent_) return;
  inputs_silent_ = silent;
  const bool active = status_.flags.IoDisplayActive.load() != 0;
  if (!active) return;  // greyed anyway; the next refresh applies the state
  for (int i = kOutputs; i < kChannels; ++i) Box(i)->setEnabled(!silent);
  EnableInputColumn(active);
}

void IoPanel::SetBoxState(int i, uint8_t on) {
  states_[static_cast<std::size_t>(i)] = on;
  {
    const QSignalBlocker block(Box(i));
    Box(i)->setChecked(on != 0);
  }
  PaintChannel(i);
}

void IoPanel::PaintChannel(int i) {
  if (i < 0 || i >= kChannels) return;
  SetBackground(Box(i), states_[static_cast<std::size_t>(i)] != 0 ? kOnColour : ButtonFace());
}

void IoPanel::OnChannelToggled(ChannelBox* sender) {
  const int i = sender->TabOrder();
  if (i >= kChannels) return;
  if (i < kOutputs) {
    states_[static_cast<std::size_t>(i)] = sender->isChecked() ? 1 : 0;
    PaintChannel(i);
    last_output_ = i;
  } else if (status_.flags.IoDisplayActive.load() != 0) {
    Box(last_output_)->setFocus(Qt::OtherFocusReason);
  }
}

void IoPanel::OnChannelKey(ChannelBox* sender, int key) {
  if (key == kKeyEscape) {
    SwitchOutputsOff();
    return;
  }
  if (key != kKeyEnter) return;
  const int i = sender->TabOrder();
  if (i >= kChannels) return;
  if (i < kOutputs) {
    SetBoxState(i, states_[static_cast<std::size_t>(i)] != 0 ? 0 : 1);
    last_output_ = i;
  } else if (status_.flags.IoDisplayActive.load() != 0) {
    Box(last_output_)->setFocus(Qt::OtherFocusReason);
  }
}

void IoPanel::SwitchOutputsOff() {
  for (int i = 0; i < kOutputs; ++i) SetBoxState(i, 0);
}

void IoPanel::PackOutputs() {
  status_.OutputBytes.Put(PackOutputBits(states_));
  status_.flags.OutputsChanged.store(1);
}

void IoPanel::ShowInputs() {
  const std::array<uint8_t, 4> in = status_.InputBytes.Get();
  const int16_t mode = AdMode();
  // Boxes hidden behind the A/D value are left as they are: the panel's
  // refresh clears them before it shows them again.
  for (int i = kOutputs; i < VisibleChannels(mode); ++i) {
    // A box already showing its state is left alone: most keep theirs from
    // one frame to the next, and restyling one costs more than the frame.
    const uint8_t on = InputBit(in, i);
    if (states_[static_cast<std::size_t>(i)] == on && Box(i)->isChecked() == (on != 0)) continue;
    SetBoxState(i, on);
  }
  if (mode == 1 || mode == 2) {
    // A line edit repaints on every setText, also with the same text.
    const QString text = QString::fromStdString(FormatAdValue(mode, in));
    if (adBox_->text() != text) adBox_->setText(text);
  }
  status_.flags.InputsReceived.store(0);
}

void IoPanel::FocusLastOutput() {
  Box(last_output_)->setFocus(Qt::OtherFocusReason);
}

}  // namespace m32::iopanel
