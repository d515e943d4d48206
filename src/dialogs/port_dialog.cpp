#include "dialogs/port_dialog.h"

#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/port_settings.h"
#include "qt/window_support.h"

namespace m32::dialogs {
namespace {

constexpr int kClientWidth = 404;
constexpr int kClientHeight = 287;
constexpr int kFieldHeight = 24;

// Text table: group 7 holds the dialog's texts (0 its caption).

QString Q(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

QLabel* MakeLabel(QWidget* box, const char* name, const char* text, int left, int top,
                  const QFont& font) {
  auto* label = new QLabel(QString::fromLatin1(text), box);
  label->setObjectName(QString::fromLatin1(name));
  label->setFont(font);
  label->adjustSize();
  label->move(left, top);
  return label;
}

QLineEdit* MakeEdit(QWidget* box, const char* name, int max_length, int left, int top,
                    const QFont& font) {
  auto* edit = new QLineEdit(box);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setFont(font);
  edit->setMaxLength(max_length);
  edit->setGeometry(left, top, 64, kFieldHeight);
  return edit;
}

QComboBox* MakeList(QWidget* box, const char* name, int left, int top, int width, const QFont& font,
                    const std::vector<std::string>& items) {
  auto* list = new QComboBox(box);
  list->setObjectName(QString::fromLatin1(name));
  list->setEditable(false);
  list->setFont(font);
  for (const std::string& item : items) list->addItem(qt::FromCp1250(item));
  // The open list shows every item without scrolling.
  list->setMaxVisibleItems(list->count());
  list->setGeometry(left, top, width, kFieldHeight);
  return list;
}

QGroupBox* MakeBox(QWidget* form, const char* name, int left, int top, int width, int height,
                   const QFont& font) {
  auto* box = new QGroupBox(form);
  box->setObjectName(QString::fromLatin1(name));
  box->setFont(font);
  box->setGeometry(left, top, width, height);
  return box;
}

}  // namespace

PortDialog::PortDialog(config::Settings& settings, const config::TextTable& texts,
                       QWidget* main_window, std::function<void()> reopen_port, QWidget* parent)
    : FieldDialog("TWkomunikace", kClientWidth, kClientHeight, settings, texts,
                  config::text::kPortCaption, main_window, parent),
      reopen_port_(std::move(reopen_port)) {
  const QFont caption_font = ArialBold(true);
  const QFont field_font = ArialBold(false);
  // A fixed pitch keeps the speeds aligned.
  QFont list_font = qt::FixedPitchFont(QStringLiteral("Courier"));
  list_font.setPixelSize(13);
  list_font.setBold(true);
  list_font.setItalic(false);  // set, not inherited from the group box's italic captions

  port_box_ = MakeBox(this, "PortBox", 17, 12, 368, 61, caption_font);
  MakeLabel(port_box_, "Label6", "COM", 80, 28, field_font)->setAlignment(Qt::AlignRight);
  port_field_ = MakeEdit(port_box_, "Ed_com", 2, 113, 25, field_font);

  speed_box_ = MakeBox(this, "SpeedBox", 17, 80, 368, 73, caption_font);
  MakeLabel(speed_box_, "Label5", "115 200 Bd /", 11, 17, field_font);
  divisor_field_ = MakeEdit(speed_box_, "Ed_BR", 6, 16, 33, field_font);
  MakeLabel(speed_box_, "Label4", "[Bd]", 133, 17, field_font);
  speed_field_ = MakeEdit(speed_box_, "Ed_Bd", 6, 113, 33, field_font);
  preset_list_ = MakeList(speed_box_, "Ed_rychl", 200, 33, 153, list_font,
                          SpeedListItems(Texts().Get(config::text::kPortPresets)));

  format_box_ = MakeBox(this, "FormatBox", 17, 160, 368, 65, caption_font);
  MakeLabel(format_box_, "Label1", "Databit:", 8, 32, field_font);
  data_bits_list_ = MakeList(format_box_, "Ed_dta", 64, 28, 50, field_font, DataBitsItems());
  MakeLabel(format_box_, "Label2", "Stopbit:", 128, 32, field_font);
  stop_bits_list_ = MakeList(format_box_, "Ed_stp", 184, 28, 50, field_font, StopBitsItems());
  MakeLabel(format_box_, "Label3", "Parita:", 256, 32, field_font);
  parity_list_ = MakeList(format_box_, "Ed_par", 304, 28, 58, field_font, ParityItems());

  PlaceButtons(67, 251, 246);

  AddEdit(port_field_, [this] { OnPortFieldLeft(); });
  AddEdit(divisor_field_, [this] { OnDivisorFieldLeft(); });
  AddEdit(speed_field_, [this] { OnSpeedFieldLeft(); });
  AddList(preset_list_, [this] { OnPresetListLeft(); });
  AddList(data_bits_list_, [this] { OnDataBitsListLeft(); });
  AddList(stop_bits_list_, [this] { OnStopBitsListLeft(); });
  AddList(parity_list_, [this] { OnParityListLeft(); });
  SetChain({ok_button_, storno_button_, port_field_, divisor_field_, speed_field_, preset_list_,
            data_bits_list_, stop_bits_list_, parity_list_});
}

void PortDialog::ShowWorkingCopy() {
  preset_list_->setItemText(0, qt::FromCp1250(BoxCaption(Texts().Get(config::text::kPortPresets))));
  port_box_->setTitle(qt::FromCp1250(BoxCaption(Texts().Get(config::text::kPortBox))));
  speed_box_->setTitle(qt::FromCp1250(BoxCaption(Texts().Get(config::text::kPortSpeedBox))));
  format_box_->setTitle(qt::FromCp1250(BoxCaption(Texts().Get(config::text::kPortFormatBox))));

  const PortView view = ShowPortSettings(Working());
  port_field_->setText(Q(view.com));
  ShowSpeed(view.speed.divisor, view.speed.speed);
  parity_list_->setCurrentIndex(view.parity_index);
  data_bits_list_->setCurrentIndex(view.data_bits_index);
  stop_bits_list_->setCurrentIndex(view.stop_bits_index);
}

void PortDialog::ShowSpeed(const std::string& divisor, const std::string& speed) {
  divisor_field_->setText(Q(divisor));
  speed_field_->setText(Q(speed));
  preset_list_->setCurrentIndex(0);
}

void PortDialog::OnPortFieldLeft() {
  port_field_->setText(Q(CommitCom(Working(), port_field_->text().toStdString())));
}

void PortDialog::OnDivisorFieldLeft() {
  const SpeedView v = CommitDivisor(Working(), divisor_field_->text().toStdString());
  ShowSpeed(v.divisor, v.speed);
}

void PortDialog::OnSpeedFieldLeft() {
  const SpeedView v = CommitSpeed(Working(), speed_field_->text().toStdString());
  ShowSpeed(v.divisor, v.speed);
}

void PortDialog::OnPresetListLeft() {
  const int item = preset_list_->currentIndex();
  preset_list_->setCurrentIndex(0);
  const SpeedView v = CommitPreset(Working(), item);
  ShowSpeed(v.divisor, v.speed);
}

void PortDialog::OnDataBitsListLeft() {
  data_bits_list_->setCurrentIndex(CommitDataBits(Working(), data_bits_list_->currentIndex()));
}

void PortDialog::OnStopBitsListLeft() {
  stop_bits_list_->setCurrentIndex(CommitStopBits(Working(), stop_bits_list_->currentIndex()));
}

void PortDialog::OnParityListLeft() {
  parity_list_->setCurrentIndex(CommitParity(Working(), parity_list_->currentIndex()));
}

void PortDialog::Clamp(config::SettingsRecord& record) {
  config::ClampSettings(record);
}

void PortDialog::Applied() {
  if (reopen_port_) reopen_port_();
}

}  // namespace m32::dialogs
