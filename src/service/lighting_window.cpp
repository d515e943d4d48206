#include "service/lighting_window.h"

#include <QCloseEvent>
#include <QColor>
#include <QEvent>
#include <QFocusEvent>
#include <QFont>
#include <QGroupBox>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QSlider>
#include <QVBoxLayout>
#include <QVariant>
#include <algorithm>
#include <string>

#include "qt/window_frame.h"
#include "qt/window_support.h"
namespace m32 {
namespace {

constexpr int kTextGroup = 10;  // caption, group caption word
constexpr int kOuterWidth = 664;
constexpr int kOuterHeight = 724;
constexpr int kScrollRangeH = 510;
constexpr int kScrollRangeV = 220;
constexpr const char* kTag = "Tag";

QColor Rgb(uint32_t rgb) {
  return {static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
          static_cast<int>(rgb & 0xFF)};
}

QFont Font(const char* family, int pixels, bool italic) {
  QFont font;
  if (family != nullptr) font.setFamily(QString::fromLatin1(family));
  font.setPixelSize(pixels);
  font.setBold(true);
  font.setItalic(italic);
  return font;
}

void SetColours(QWidget* w, const QColor& background, const QColor& text) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, background);
  p.setColor(QPalette::WindowText, text);
  w->setPalette(p);
}

bool FieldFocusChange(const QEvent* event) {
  return qt::IsTechniciansFocusChange(static_cast<const QFocusEvent*>(event)->reason());
}

}  // namespace

TWjas::TWjas(config::Settings& settings, config::ModulePath& module, const config::TextTable& texts,
             SharedStatus& status, link::PortConnection& port, QWidget* main_window)
    : QDialog(main_window, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      settings_(settings),
      module_(module),
      texts_(texts),
      status_(status),
      port_(port),
      main_window_(main_window),
      invoker_(this),
      hand_over_(port) {
  setObjectName(QStringLiteral("Wjas"));
  setWindowTitle(qt::FromCp1250(texts_.Get(kTextGroup, 0)));
  setModal(true);
  resize(kOuterWidth, kOuterHeight);
  setAutoFillBackground(true);
  SetColours(this, qt::kLime, Qt::black);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  preview_box_ = new QGroupBox(this);
  preview_box_->setObjectName(QStringLiteral("Preview_box"));
  outer->addWidget(preview_box_);
  auto* inner = new QVBoxLayout(preview_box_);
  inner->setContentsMargins(2, 2, 2, 2);
  scroll_box_ = new QScrollArea(preview_box_);
  scroll_box_->setObjectName(QStringLiteral("ScrollBox"));
  scroll_box_->setFrameShape(QFrame::NoFrame);
  scroll_box_->setWidgetResizable(true);
  inner->addWidget(scroll_box_);
  auto* content = new QWidget;
  content->setObjectName(QStringLiteral("ScrollBoxContent"));
  content->setAutoFillBackground(true);
  SetColours(content, qt::kLime, Qt::black);
  // The scroll ranges: beyond this size the box scrolls.
  content->setMinimumSize(kScrollRangeH, kScrollRangeV);
  scroll_box_->setWidget(content);

  for (int i = 0; i < service::kChannels; ++i) {
    const auto k = static_cast<std::size_t>(i);
    auto* kan = new QGroupBox(content);
    kan->setObjectName(QStringLiteral("Kan%1").arg(i + 1));
    kan->setGeometry(16, 16 + 80 * i, 600, 72);
    kan->setFont(Font("Arial", 13, true));
    kan->setAutoFillBackground(true);
    SetColours(kan, qt::kLime, Qt::black);
    kan->installEventFilter(this);
    // A group that can hold the focus keeps it instead of passing it on to
    // its field; Tab still walks the fields, bars and buttons only.
    kan->setFocusPolicy(Qt::ClickFocus);
    kan_[k] = kan;

    auto* label = new QLabel(kan);
    label->setObjectName(QStringLiteral("Label%1").arg(i + 1));
    label->setGeometry(208, 14, 200, 16);
    label->setAlignment(Qt::AlignCenter);
    label->setFont(Font("Arial", 13, false));
    SetColours(label, qt::kLime, Qt::black);
    label_[k] = label;

    auto* edit = new QLineEdit(kan);
    edit->setObjectName(QStringLiteral("Edit%1").arg(i + 1));
    edit->setGeometry(16, 36, 40, 24);
    edit->setFont(Font(nullptr, 13, false));
    edit->installEventFilter(this);
    edit_[k] = edit;

    auto* jas = new QSlider(Qt::Horizontal, kan);
    jas->setObjectName(QStringLiteral("Jas%1").arg(i + 1));
    jas->setGeometry(68, 32, 480, 32);
    jas->setRange(0, service::kFullLevel);
    jas->setPageStep(16);
    jas->setTickInterval(16);
    jas->setTickPosition(QSlider::TicksAbove);
    jas->setTracking(true);
    connect(jas, &QSlider::valueChanged, this, [this, jas](int v) { Jas1Change(jas, v); });
    jas_[k] = jas;

    auto* tl = new QPushButton(kan);
    tl->setObjectName(QStringLiteral("Tl%1").arg(i + 1));
    tl->setGeometry(560, 36, 24, 24);
    tl->setFont(Font("Arial", 13, false));
    tl->setAutoDefault(false);  // Enter is the button's own key, not the dialog's
    tl->installEventFilter(this);
    connect(tl, &QPushButton::clicked, this, [this, tl] { Tl1Click(tl); });
    tl_[k] = tl;
  }

  const std::array<const char*, service::kModemPanels> names = {"BMZ_TL1", "BMZ_TL2", "BMZ_TL3",
                                                                "BMZ_TL4"};
  for (int j = 0; j < service::kModemPanels; ++j) {
    const auto k = static_cast<std::size_t>(j);
    auto* p = new QLabel(content);
    p->setObjectName(QString::fromLatin1(names[k]));
    p->setGeometry(150 + 100 * j, 2, 40, 20);
    p->setText(
        QString::fromLatin1(service::kModemPanelLooks[k].caption.data(),
                            static_cast<qsizetype>(service::kModemPanelLooks[k].caption.size())));
    p->setAlignment(Qt::AlignCenter);
    p->setFrameStyle(QFrame::Panel | QFrame::Raised);
    p->setFont(Font(nullptr, 11, false));
    p->setAutoFillBackground(true);
    SetColours(p, Rgb(service::kOffBackground), Rgb(service::kOffText));  // the design look
    p->raise();
    panel_[k] = p;
  }
  FormCreate();
}

TWjas::~TWjas() {
  // Never leave the worker waiting for a window that is gone. The link is
  // left to its owner, who stops it when the port closes.
  StopWorker();
}

void TWjas::FormCreate() {
  // Tab order: per channel the entry field, the track bar, the button.
  QWidget* prev = nullptr;
  for (int i = 0; i < service::kChannels; ++i) {
    const auto k = static_cast<std::size_t>(i);
    for (QWidget* w : {static_cast<QWidget*>(edit_[k]), static_cast<QWidget*>(jas_[k]),
                       static_cast<QWidget*>(tl_[k])}) {
      if (prev != nullptr) setTabOrder(prev, w);
      prev = w;
    }
  }
}

void TWjas::FormActivate() {
  if (active_) return;
  active_ = true;
  if (main_window_ != nullptr) qt::PlaceFrame(this, {qt::FrameTopLeft(main_window_).x() + 4, 0});
  setWindowTitle(qt::FromCp1250(texts_.Get(kTextGroup, 0)));
  const std::string word = texts_.Get(kTextGroup, 1);
  for (int i = 0; i < service::kChannels; ++i) {
    const auto k = static_cast<std::size_t>(i);
    kan_[k]->setTitle(qt::FromCp1250(service::GroupCaption(word, static_cast<unsigned>(i + 1))));
    for (QObject* o : {static_cast<QObject*>(label_[k]), static_cast<QObject*>(edit_[k]),
                       static_cast<QObject*>(jas_[k]), static_cast<QObject*>(tl_[k])}) {
      o->setProperty(kTag, i);
    }
    ChannelDisplay(i);
  }
  // The link parks between two of its steps; the worker waits for that
  // before it touches the port.
  if (status_.flags.LinkRunning.load() != 0 || port_.Link() != nullptr) hand_over_.Take();
  // The group itself, not its field: leaving a field counts as a change,
  // which would take the place of the technician's first click.
  if (isVisible()) kan_[0]->setFocus(Qt::OtherFocusReason);
  if (status_.flags.LightingDisplayActive.load() == 0 && !worker_) {
    const auto address = static_cast<uint8_t>(settings_.record.Constants[0] & 0xFF);
    worker_ = std::make_unique<service::LightingWorker>(
        invoker_, port_.Device(), status_, [this, address] { refresh_.Start(status_, address); },
        [this] { RefreshStep(); }, [this] { return frame_sent_.load(); });
    frame_sent_.store(false);
    worker_->SetTakeOver([this] { hand_over_.WaitForLink(); });
    worker_->Start();
  }
  status_.LightingSendCountdown.store(service::kSendAfterStart);
  status_.flags.OutputsChanged.store(1);
}

void TWjas::FormDeactivate() {
  if (!active_) return;
  active_ = false;
  // The worker purges the port on its way out; only then may the link have it back.
  StopWorker();
  StoreWaitingChanges();
  config::SaveSettings(module_, settings_.record);
  hand_over_.Give();
}

void TWjas::StopWorker() {
  if (!worker_) return;
  worker_->Terminate();
  worker_->Resume();
  // It may be waiting for this thread to run its step: keep the events going.
  PumpUntil([this] { return worker_->Finished(); });
  worker_->Join();
  worker_.reset();
}

int TWjas::ChannelOf(QObject* sender) {
  if (sender == nullptr) return -1;
  bool ok = false;
  const int channel = sender->property(kTag).toInt(&ok);
  return ok && channel >= 0 && channel < service::kChannels ? channel : -1;
}

void TWjas::ChannelDisplay(int channel) {
  if (channel < 0 || channel >= service::kChannels) return;
  const auto k = static_cast<std::size_t>(channel);
  const uint8_t v = settings_.record.Brightness[k];
  // A line edit repaints on every setText, also with the same text (labels
  // and buttons skip an unchanged text themselves).
  const QString text = QString::fromStdString(service::LevelText(v));
  if (edit_[k]->text() != text) edit_[k]->setText(text);
  {
    // Moving the bar would report the same level back; that changes nothing.
    const QSignalBlocker quiet(jas_[k]);
    jas_[k]->setValue(v);
  }
  const std::string_view caption = service::ButtonCaption(v);
  tl_[k]->setText(QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())));
  label_[k]->setText(QString::fromStdString(service::LevelLabel(v)));
}

void TWjas::AcceptChange(int channel, uint8_t level) {
  if (channel < 0 || channel >= service::kChannels) return;
  const auto k = static_cast<std::size_t>(channel);
  if (service::AcceptLevelChange(settings_.record.Brightness, status_, channel, level)) {
    waiting_[k].reset();
    ChannelDisplay(channel);
  } else {
    // The control keeps showing the new level, which is stored as soon as
    // the previous change has gone out.
    waiting_[k] = level;
  }
}

void TWjas::TakeWaitingChange() {
  for (int i = 0; i < service::kChannels; ++i) {
    if (status_.flags.OutputsChanged.load() != 0) return;
    if (const auto level = waiting_[static_cast<std::size_t>(i)]) AcceptChange(i, *level);
  }
}

void TWjas::StoreWaitingChanges() {
  // Nothing more goes out now; what the controls show is what is saved and
  // sent at the next opening.
  for (int i = 0; i < service::kChannels; ++i) {
    auto& waiting = waiting_[static_cast<std::size_t>(i)];
    if (!waiting) continue;
    settings_.record.Brightness[static_cast<std::size_t>(i)] = *waiting;
    waiting.reset();
    ChannelDisplay(i);
  }
}

void TWjas::Edit1Enter(QObject* sender) {
  if (const auto* edit = qobject_cast<QLineEdit*>(sender)) saved_entry_text_ = edit->text();
}

void TWjas::Edit1KeyPress(QObject* sender, int key) {
  if (qt::IsEnter(key)) {
    Edit1Exit(sender);
    Edit1Enter(sender);
  } else if (key == Qt::Key_Escape) {
    if (auto* edit = qobject_cast<QLineEdit*>(sender)) edit->setText(saved_entry_text_);
  }
}

void TWjas::Edit1Exit(QObject* sender) {
  const int channel = ChannelOf(sender);
  const auto* edit = qobject_cast<QLineEdit*>(sender);
  if (channel < 0 || edit == nullptr) return;
  AcceptChange(channel, service::ParseLevel(config::Utf8ToCp1250(edit->text().toStdString())));
}

void TWjas::Jas1Change(QObject* sender, int position) {
  const int channel = ChannelOf(sender);
  if (channel < 0) return;
  AcceptChange(channel, static_cast<uint8_t>(std::clamp(position, 0, 255)));
}

void TWjas::Tl1Click(QObject* sender) {
  const int channel = ChannelOf(sender);
  if (channel < 0) return;
  // Taking the focus first lets a field being edited apply its text.
  if (auto* button = qobject_cast<QPushButton*>(sender); button != nullptr && isVisible()) {
    button->setFocus(Qt::OtherFocusReason);
  }
  const uint8_t now = settings_.record.Brightness[static_cast<std::size_t>(channel)];
  AcceptChange(channel, service::ToggledLevel(now));
}

void TWjas::Tl1KeyPress(QObject* sender, int key) {
  if (qt::IsEnter(key)) Tl1Click(sender);
}

void TWjas::RefreshStep() {
  const service::LightingView view =
      refresh_.Step(port_.Device(), status_, settings_.record.Brightness);
  frame_sent_.store(view.frame_sent);
  for (int i = 0; i < service::kModemPanels; ++i) {
    if (const auto on = view.panels[static_cast<std::size_t>(i)]) PaintPanel(i, *on);
  }
  TakeWaitingChange();
}

void TWjas::PaintPanel(int i, bool on) {
  const auto k = static_cast<std::size_t>(i);
  const service::ModemPanelLook& look = service::kModemPanelLooks[k];
  SetColours(panel_[k], Rgb(on ? look.on_background : service::kOffBackground),
             Rgb(on ? look.on_text : service::kOffText));
  ++paints_[k];
}

void TWjas::done(int result) {
  if (deactivating_) return;  // a second close while the first still waits
  deactivating_ = true;
  FormDeactivate();
  deactivating_ = false;
  QDialog::done(result);
}

void TWjas::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The size is the outer one, frame included.
  if (!event->spontaneous()) qt::SetOuterSize(this, {kOuterWidth, kOuterHeight});
  if (!event->spontaneous()) FormActivate();
}

void TWjas::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  // Closing goes through done(); this catches a plain hide().
  if (!event->spontaneous() && !deactivating_) FormDeactivate();
}

void TWjas::closeEvent(QCloseEvent* event) {
  FormClose();
  QDialog::closeEvent(event);
}

void TWjas::keyPressEvent(QKeyEvent* event) {
  // The window has no keys of its own: Escape does not close it, Enter
  // presses no button.
  if (event->key() == Qt::Key_Escape || qt::IsEnter(event->key())) return;
  QDialog::keyPressEvent(event);
}

bool TWjas::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (qobject_cast<QLineEdit*>(watched) != nullptr) {
        Edit1KeyPress(watched, key);  // the key still reaches the field
      } else if (qobject_cast<QPushButton*>(watched) != nullptr && qt::IsEnter(key)) {
        Tl1KeyPress(watched, key);
        return true;
      }
      break;
    }
    case QEvent::FocusIn:
      if (qobject_cast<QLineEdit*>(watched) != nullptr && FieldFocusChange(event)) {
        Edit1Enter(watched);
      }
      break;
    case QEvent::FocusOut:
      if (qobject_cast<QLineEdit*>(watched) != nullptr && FieldFocusChange(event) && active_) {
        Edit1Exit(watched);
      }
      break;
    case QEvent::Shortcut: {
      // Alt+digit of a group's caption: into the group, at its entry field.
      const auto it = std::find(kan_.begin(), kan_.end(), watched);
      if (it != kan_.end()) {
        edit_[static_cast<std::size_t>(it - kan_.begin())]->setFocus(Qt::ShortcutFocusReason);
        return true;
      }
      break;
    }
    default:
      break;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace m32
