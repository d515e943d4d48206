#include "service/lighting_window.h"

#include <QColor>
#include <QEvent>
#include <QFocusEvent>
#include <QFont>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>
#include <QVariant>
#include <algorithm>
#include <optional>
#include <string>

#include "core/code_page.h"
#include "qt/window_frame.h"
#include "qt/window_support.h"

namespace m32::service {
namespace {

constexpr int kOuterWidth = 664;
constexpr int kOuterHeight = 724;
constexpr int kScrollRangeH = 510;
constexpr int kScrollRangeV = 220;
constexpr const char* kChannelProperty = "Tag";

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

// A horizontal track bar as technicians know it: Up and Page Up move towards
// the minimum, Down and Page Down towards the maximum (Qt's slider has them
// the other way round). Left, Right, Home and End already agree.
std::optional<QAbstractSlider::SliderAction> TrackBarAction(int key) {
  switch (key) {
    case Qt::Key_Up:
      return QAbstractSlider::SliderSingleStepSub;
    case Qt::Key_Down:
      return QAbstractSlider::SliderSingleStepAdd;
    case Qt::Key_PageUp:
      return QAbstractSlider::SliderPageStepSub;
    case Qt::Key_PageDown:
      return QAbstractSlider::SliderPageStepAdd;
    default:
      return std::nullopt;
  }
}

bool FieldFocusChange(const QEvent* event) {
  return qt::IsTechniciansFocusChange(static_cast<const QFocusEvent*>(event)->reason());
}

}  // namespace

LightingTestWindow::LightingTestWindow(config::Settings& settings, config::ModulePath& module,
                                       const config::TextTable& texts, SharedStatus& status,
                                       link::PortConnection& port, QWidget* main_window)
    : ServiceTestWindow(status, port, main_window,
                        Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      settings_(settings),
      module_(module),
      texts_(texts) {
  setObjectName(QStringLiteral("Wjas"));
  setWindowTitle(qt::FromCp1250(texts_.Get(config::text::kLightingCaption)));
  resize(kOuterWidth, kOuterHeight);
  setAutoFillBackground(true);
  SetColours(this, qt::kLime, Qt::black);

  QWidget* content = AddScrollBox();
  for (int i = 0; i < kChannels; ++i) AddChannelGroup(content, i);
  for (int j = 0; j < kModemPanels; ++j) AddModemPanel(content, j);
  SetTabOrder();
}

LightingTestWindow::~LightingTestWindow() {
  // Its steps use this window's members: end it while they are here.
  StopWorker();
}

QWidget* LightingTestWindow::AddScrollBox() {
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
  return content;
}

void LightingTestWindow::AddChannelGroup(QWidget* content, int channel) {
  const auto k = static_cast<std::size_t>(channel);
  auto* group = new QGroupBox(content);
  group->setObjectName(QStringLiteral("Kan%1").arg(channel + 1));
  group->setGeometry(16, 16 + 80 * channel, 600, 72);
  group->setFont(Font("Arial", 13, true));
  group->setAutoFillBackground(true);
  SetColours(group, qt::kLime, Qt::black);
  group->installEventFilter(this);
  // A group that can hold the focus keeps it instead of passing it on to
  // its field; Tab still walks the fields, bars and buttons only.
  group->setFocusPolicy(Qt::ClickFocus);
  group_[k] = group;

  auto* label = new QLabel(group);
  label->setObjectName(QStringLiteral("Label%1").arg(channel + 1));
  label->setGeometry(208, 14, 200, 16);
  label->setAlignment(Qt::AlignCenter);
  label->setFont(Font("Arial", 13, false));
  SetColours(label, qt::kLime, Qt::black);
  level_label_[k] = label;

  auto* field = new QLineEdit(group);
  field->setObjectName(QStringLiteral("Edit%1").arg(channel + 1));
  field->setGeometry(16, 36, 40, 24);
  field->setFont(Font(nullptr, 13, false));
  field->installEventFilter(this);
  level_field_[k] = field;

  auto* bar = new QSlider(Qt::Horizontal, group);
  bar->setObjectName(QStringLiteral("Jas%1").arg(channel + 1));
  bar->setGeometry(68, 32, 480, 32);
  bar->setRange(0, kFullLevel);
  bar->setPageStep(16);
  bar->setTickInterval(16);
  bar->setTickPosition(QSlider::TicksAbove);
  bar->setTracking(true);
  bar->installEventFilter(this);
  connect(bar, &QSlider::valueChanged, this, [this, bar](int v) { OnLevelBarMoved(bar, v); });
  level_bar_[k] = bar;

  auto* toggle = new QPushButton(group);
  toggle->setObjectName(QStringLiteral("Tl%1").arg(channel + 1));
  toggle->setGeometry(560, 36, 24, 24);
  toggle->setFont(Font("Arial", 13, false));
  toggle->setAutoDefault(false);  // Enter is the button's own key, not the dialog's
  toggle->installEventFilter(this);
  connect(toggle, &QPushButton::clicked, this, [this, toggle] { OnChannelToggled(toggle); });
  toggle_[k] = toggle;
}

void LightingTestWindow::AddModemPanel(QWidget* content, int panel) {
  static constexpr std::array<const char*, kModemPanels> kNames = {"BMZ_TL1", "BMZ_TL2", "BMZ_TL3",
                                                                   "BMZ_TL4"};
  const auto k = static_cast<std::size_t>(panel);
  auto* p = new QLabel(content);
  p->setObjectName(QString::fromLatin1(kNames[k]));
  p->setGeometry(150 + 100 * panel, 2, 40, 20);
  p->setText(QString::fromLatin1(kModemPanelLooks[k].caption.data(),
                                 static_cast<qsizetype>(kModemPanelLooks[k].caption.size())));
  p->setAlignment(Qt::AlignCenter);
  p->setFrameStyle(QFrame::Panel | QFrame::Raised);
  p->setFont(Font(nullptr, 11, false));
  p->setAutoFillBackground(true);
  SetColours(p, Rgb(kOffBackground), Rgb(kOffText));  // the design look
  p->raise();
  panel_[k] = p;
}

void LightingTestWindow::SetTabOrder() {
  // Per channel the entry field, the track bar, the button.
  QWidget* prev = nullptr;
  for (int i = 0; i < kChannels; ++i) {
    const auto k = static_cast<std::size_t>(i);
    for (QWidget* w : {static_cast<QWidget*>(level_field_[k]), static_cast<QWidget*>(level_bar_[k]),
                       static_cast<QWidget*>(toggle_[k])}) {
      if (prev != nullptr) setTabOrder(prev, w);
      prev = w;
    }
  }
}

void LightingTestWindow::OnActivate() {
  // The size is the outer one, frame included.
  if (isVisible()) qt::SetOuterSize(this, {kOuterWidth, kOuterHeight});
  if (MainWindow() != nullptr) qt::PlaceFrame(this, {qt::FrameTopLeft(MainWindow()).x() + 4, 0});
  setWindowTitle(qt::FromCp1250(texts_.Get(config::text::kLightingCaption)));
  const std::string word = texts_.Get(config::text::kLightingBrightness);
  for (int i = 0; i < kChannels; ++i) {
    const auto k = static_cast<std::size_t>(i);
    group_[k]->setTitle(qt::FromCp1250(GroupCaption(word, static_cast<unsigned>(i + 1))));
    for (QObject* o :
         {static_cast<QObject*>(level_label_[k]), static_cast<QObject*>(level_field_[k]),
          static_cast<QObject*>(level_bar_[k]), static_cast<QObject*>(toggle_[k])}) {
      o->setProperty(kChannelProperty, i);
    }
    ShowChannel(i);
  }
  // The group itself, not its field: leaving a field counts as a change,
  // which would take the place of the technician's first click.
  if (isVisible()) group_[0]->setFocus(Qt::OtherFocusReason);
}

std::unique_ptr<PortStepWorker> LightingTestWindow::MakeWorker() {
  if (Status().flags.LightingDisplayActive.load() != 0) return nullptr;
  const auto address = static_cast<uint8_t>(settings_.record.ControllerAddress() & 0xFF);
  frame_sent_.store(false);
  return std::make_unique<LightingWorker>(
      Invoker(), Port().Device(), Status(), [this, address] { refresh_.Start(Status(), address); },
      [this] { RefreshStep(); }, [this] { return frame_sent_.load(); });
}

void LightingTestWindow::OnWorkerStarted() {
  Status().LightingSendCountdown.store(kSendAfterStart);
  Status().flags.OutputsChanged.store(1);
}

void LightingTestWindow::OnDeactivate() {
  StoreWaitingChanges();
  config::SaveSettings(module_, settings_.record);
}

int LightingTestWindow::ChannelOf(QObject* sender) {
  if (sender == nullptr) return -1;
  bool ok = false;
  const int channel = sender->property(kChannelProperty).toInt(&ok);
  return ok && channel >= 0 && channel < kChannels ? channel : -1;
}

void LightingTestWindow::ShowChannel(int channel) {
  if (channel < 0 || channel >= kChannels) return;
  const auto k = static_cast<std::size_t>(channel);
  const uint8_t v = settings_.record.Brightness[k];
  // A line edit repaints on every setText, also with the same text (labels
  // and buttons skip an unchanged text themselves).
  const QString text = QString::fromStdString(LevelText(v));
  if (level_field_[k]->text() != text) level_field_[k]->setText(text);
  {
    // Moving the bar would report the same level back; that changes nothing.
    const QSignalBlocker quiet(level_bar_[k]);
    level_bar_[k]->setValue(v);
  }
  const std::string_view caption = ButtonCaption(v);
  toggle_[k]->setText(QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())));
  level_label_[k]->setText(QString::fromStdString(service::LevelLabel(v)));
}

void LightingTestWindow::AcceptChange(int channel, uint8_t level) {
  if (channel < 0 || channel >= kChannels) return;
  const auto k = static_cast<std::size_t>(channel);
  if (AcceptLevelChange(settings_.record.Brightness, Status(), channel, level)) {
    waiting_[k].reset();
    ShowChannel(channel);
  } else {
    // The control keeps showing the new level, which is stored as soon as
    // the previous change has gone out.
    waiting_[k] = level;
  }
}

void LightingTestWindow::TakeWaitingChange() {
  for (int i = 0; i < kChannels; ++i) {
    if (Status().flags.OutputsChanged.load() != 0) return;
    if (const auto level = waiting_[static_cast<std::size_t>(i)]) AcceptChange(i, *level);
  }
}

void LightingTestWindow::StoreWaitingChanges() {
  // Nothing more goes out now; what the controls show is what is saved and
  // sent at the next opening.
  for (int i = 0; i < kChannels; ++i) {
    auto& waiting = waiting_[static_cast<std::size_t>(i)];
    if (!waiting) continue;
    settings_.record.Brightness[static_cast<std::size_t>(i)] = *waiting;
    waiting.reset();
    ShowChannel(i);
  }
}

void LightingTestWindow::OnLevelFieldEntered(QObject* sender) {
  if (const auto* edit = qobject_cast<QLineEdit*>(sender)) saved_entry_text_ = edit->text();
}

void LightingTestWindow::OnLevelFieldKey(QObject* sender, int key) {
  if (qt::IsEnter(key)) {
    OnLevelFieldLeft(sender);
    OnLevelFieldEntered(sender);
  } else if (key == Qt::Key_Escape) {
    if (auto* edit = qobject_cast<QLineEdit*>(sender)) edit->setText(saved_entry_text_);
  }
}

void LightingTestWindow::OnLevelFieldLeft(QObject* sender) {
  const int channel = ChannelOf(sender);
  const auto* edit = qobject_cast<QLineEdit*>(sender);
  if (channel < 0 || edit == nullptr) return;
  AcceptChange(channel, ParseLevel(core::Utf8ToCp1250(edit->text().toStdString())));
}

void LightingTestWindow::OnLevelBarMoved(QObject* sender, int position) {
  const int channel = ChannelOf(sender);
  if (channel < 0) return;
  AcceptChange(channel, static_cast<uint8_t>(std::clamp(position, 0, 255)));
}

void LightingTestWindow::OnChannelToggled(QObject* sender) {
  const int channel = ChannelOf(sender);
  if (channel < 0) return;
  // Taking the focus first lets a field being edited apply its text.
  if (auto* button = qobject_cast<QPushButton*>(sender); button != nullptr && isVisible()) {
    button->setFocus(Qt::OtherFocusReason);
  }
  const uint8_t now = settings_.record.Brightness[static_cast<std::size_t>(channel)];
  AcceptChange(channel, ToggledLevel(now));
}

void LightingTestWindow::RefreshStep() {
  const LightingView view = refresh_.Step(Port().Device(), Status(), settings_.record.Brightness);
  frame_sent_.store(view.frame_sent);
  for (int i = 0; i < kModemPanels; ++i) {
    if (const auto on = view.panels[static_cast<std::size_t>(i)]) PaintPanel(i, *on);
  }
  TakeWaitingChange();
}

void LightingTestWindow::PaintPanel(int i, bool on) {
  const auto k = static_cast<std::size_t>(i);
  const ModemPanelLook& look = kModemPanelLooks[k];
  SetColours(panel_[k], Rgb(on ? look.on_background : kOffBackground),
             Rgb(on ? look.on_text : kOffText));
  ++paints_[k];
}

void LightingTestWindow::keyPressEvent(QKeyEvent* event) {
  // The window has no keys of its own: Escape does not close it, Enter
  // presses no button.
  if (event->key() == Qt::Key_Escape || qt::IsEnter(event->key())) return;
  ServiceTestWindow::keyPressEvent(event);
}

bool LightingTestWindow::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (qobject_cast<QLineEdit*>(watched) != nullptr) {
        OnLevelFieldKey(watched, key);  // the key still reaches the field
      } else if (qobject_cast<QPushButton*>(watched) != nullptr && qt::IsEnter(key)) {
        OnChannelToggled(watched);
        return true;
      } else if (auto* bar = qobject_cast<QSlider*>(watched)) {
        if (const auto action = TrackBarAction(key)) {
          bar->triggerAction(*action);
          return true;
        }
      }
      break;
    }
    case QEvent::FocusIn:
      if (qobject_cast<QLineEdit*>(watched) != nullptr && FieldFocusChange(event)) {
        OnLevelFieldEntered(watched);
      }
      break;
    case QEvent::FocusOut:
      if (qobject_cast<QLineEdit*>(watched) != nullptr && FieldFocusChange(event) && Active()) {
        OnLevelFieldLeft(watched);
      }
      break;
    case QEvent::Shortcut: {
      // Alt+digit of a group's caption: into the group, at its entry field.
      const auto it = std::find(group_.begin(), group_.end(), watched);
      if (it != group_.end()) {
        level_field_[static_cast<std::size_t>(it - group_.begin())]->setFocus(
            Qt::ShortcutFocusReason);
        return true;
      }
      break;
    }
    default:
      break;
  }
  return ServiceTestWindow::eventFilter(watched, event);
}

}  // namespace m32::service
