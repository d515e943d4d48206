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

namespace m32 {
namespace {

constexpr int kClientWidth = 404;
constexpr int kClientHeight = 287;
constexpr int kFieldHeight = 24;

// Text table: group 7 holds the dialog's texts, group 5 the buttons.
constexpr int kGroup = 7;
constexpr int kCaption = 0;
constexpr int kPresets = 1;
constexpr int kPortBox = 2;
constexpr int kSpeedBox = 3;
constexpr int kFormatBox = 4;
constexpr int kButtonGroup = 5;
constexpr int kStorno = 0;
constexpr int kOk = 1;

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

TWkomunikace::TWkomunikace(config::Settings& settings, const config::TextTable& texts,
                           QWidget* main_window, std::function<void()> reopen_port, QWidget* parent)
    : FieldDialog("TWkomunikace", kClientWidth, kClientHeight, main_window, parent),
      settings_(settings),
      texts_(texts),
      reopen_port_(std::move(reopen_port)),
      wc_(settings.record) {
  setWindowTitle(qt::FromCp1250(texts_.Get(kGroup, kCaption)));
  const QFont caption_font = ArialBold(true);
  const QFont field_font = ArialBold(false);
  QFont list_font(QStringLiteral("Courier"));
  list_font.setStyleHint(QFont::TypeWriter);  // a fixed pitch keeps the speeds aligned
  list_font.setPixelSize(13);
  list_font.setBold(true);

  PortBox = MakeBox(this, "PortBox", 17, 12, 368, 61, caption_font);
  MakeLabel(PortBox, "Label6", "COM", 80, 28, field_font)->setAlignment(Qt::AlignRight);
  Ed_com = MakeEdit(PortBox, "Ed_com", 2, 113, 25, field_font);

  SpeedBox = MakeBox(this, "SpeedBox", 17, 80, 368, 73, caption_font);
  MakeLabel(SpeedBox, "Label5", "115 200 Bd /", 11, 17, field_font);
  Ed_BR = MakeEdit(SpeedBox, "Ed_BR", 6, 16, 33, field_font);
  MakeLabel(SpeedBox, "Label4", "[Bd]", 133, 17, field_font);
  Ed_Bd = MakeEdit(SpeedBox, "Ed_Bd", 6, 113, 33, field_font);
  Ed_rychl = MakeList(SpeedBox, "Ed_rychl", 200, 33, 153, list_font,
                      dialogs::SpeedListItems(texts_.Get(kGroup, kPresets)));

  FormatBox = MakeBox(this, "FormatBox", 17, 160, 368, 65, caption_font);
  MakeLabel(FormatBox, "Label1", "Databit:", 8, 32, field_font);
  Ed_dta = MakeList(FormatBox, "Ed_dta", 64, 28, 50, field_font, dialogs::DataBitsItems());
  MakeLabel(FormatBox, "Label2", "Stopbit:", 128, 32, field_font);
  Ed_stp = MakeList(FormatBox, "Ed_stp", 184, 28, 50, field_font, dialogs::StopBitsItems());
  MakeLabel(FormatBox, "Label3", "Parita:", 256, 32, field_font);
  Ed_par = MakeList(FormatBox, "Ed_par", 304, 28, 58, field_font, dialogs::ParityItems());

  PlaceButtons(67, 251, 246);

  AddEdit(Ed_com, [this] { Ed_comExit(); });
  AddEdit(Ed_BR, [this] { Ed_BRExit(); });
  AddEdit(Ed_Bd, [this] { Ed_BdExit(); });
  AddList(Ed_rychl, [this] { Ed_rychlExit(); });
  AddList(Ed_dta, [this] { Ed_dtaExit(); });
  AddList(Ed_stp, [this] { Ed_stpExit(); });
  AddList(Ed_par, [this] { Ed_parExit(); });
  SetChain({Tl_OK, Tl_storno, Ed_com, Ed_BR, Ed_Bd, Ed_rychl, Ed_dta, Ed_stp, Ed_par});
}

void TWkomunikace::FormActivate() {
  StartAt(Tl_storno);
  wc_ = settings_.record;

  setWindowTitle(qt::FromCp1250(texts_.Get(kGroup, kCaption)));
  CaptionButtons(qt::FromCp1250(texts_.Get(kButtonGroup, kOk)),
                 qt::FromCp1250(texts_.Get(kButtonGroup, kStorno)));
  Ed_rychl->setItemText(0, qt::FromCp1250(dialogs::BoxCaption(texts_.Get(kGroup, kPresets))));
  PortBox->setTitle(qt::FromCp1250(dialogs::BoxCaption(texts_.Get(kGroup, kPortBox))));
  SpeedBox->setTitle(qt::FromCp1250(dialogs::BoxCaption(texts_.Get(kGroup, kSpeedBox))));
  FormatBox->setTitle(qt::FromCp1250(dialogs::BoxCaption(texts_.Get(kGroup, kFormatBox))));

  const dialogs::PortView view = dialogs::ShowPortSettings(wc_);
  Ed_com->setText(Q(view.com));
  ShowSpeed(view.speed.divisor, view.speed.speed);
  Ed_par->setCurrentIndex(view.parity_index);
  Ed_dta->setCurrentIndex(view.data_bits_index);
  Ed_stp->setCurrentIndex(view.stop_bits_index);
}

void TWkomunikace::ShowSpeed(const std::string& divisor, const std::string& speed) {
  Ed_BR->setText(Q(divisor));
  Ed_Bd->setText(Q(speed));
  Ed_rychl->setCurrentIndex(0);
}

void TWkomunikace::Ed_comExit() {
  Ed_com->setText(Q(dialogs::CommitCom(wc_, Ed_com->text().toStdString())));
}

void TWkomunikace::Ed_BRExit() {
  const dialogs::SpeedView v = dialogs::CommitDivisor(wc_, Ed_BR->text().toStdString());
  ShowSpeed(v.divisor, v.speed);
}

void TWkomunikace::Ed_BdExit() {
  const dialogs::SpeedView v = dialogs::CommitSpeed(wc_, Ed_Bd->text().toStdString());
  ShowSpeed(v.divisor, v.speed);
}

void TWkomunikace::Ed_rychlExit() {
  const int item = Ed_rychl->currentIndex();
  Ed_rychl->setCurrentIndex(0);
  const dialogs::SpeedView v = dialogs::CommitPreset(wc_, item);
  ShowSpeed(v.divisor, v.speed);
}

void TWkomunikace::Ed_dtaExit() {
  Ed_dta->setCurrentIndex(dialogs::CommitDataBits(wc_, Ed_dta->currentIndex()));
}

void TWkomunikace::Ed_stpExit() {
  Ed_stp->setCurrentIndex(dialogs::CommitStopBits(wc_, Ed_stp->currentIndex()));
}

void TWkomunikace::Ed_parExit() {
  Ed_par->setCurrentIndex(dialogs::CommitParity(wc_, Ed_par->currentIndex()));
}

void TWkomunikace::Apply() {
  settings_.record = wc_;
  config::ClampSettings(settings_.record);
  if (reopen_port_) reopen_port_();
}

}  // namespace m32
