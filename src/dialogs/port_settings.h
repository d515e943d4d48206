// The serial port dialog's logic: the speed synchroniser, the list contents and
// the commit rule of every control, working on the dialog's working copy of the
// settings record. The window only shows the texts and indexes returned here.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"

namespace m32::dialogs {

// Preset speeds of the speed list, in this order (there is no 600).
inline constexpr std::array<uint32_t, 11> kPresetSpeeds = {150,   300,   1200,  2400,  4800,  9600,
                                                           19200, 28800, 38400, 57600, 115200};

// Parity names of the parity list; the record stores the first character.
inline constexpr std::array<std::string_view, 4> kParityNames = {"None", "Odd", "Even", "Mark"};

// Speed synchroniser. Divisor not 0: speed = 115200 / divisor. Otherwise a
// speed not 0 gives divisor = 115200 / speed and then speed = 115200 / divisor.
// Both 0: divisor 12, speed 9600. A speed above 115200 gives divisor 1 (115200
// Bd) rather than dividing by zero.
void SyncSpeed(uint32_t& divisor, uint32_t& speed);

// Items of the speed list: the heading item " %s:" and one "%6d Bd" per preset.
std::string HeadingItemText(std::string_view heading);
std::string PresetItemText(uint32_t speed);
std::vector<std::string> SpeedListItems(std::string_view heading);
// Box captions and the heading item as re-captioned at each opening: " %s: ".
std::string BoxCaption(std::string_view text);

// Items of the data bits list ("5".."8") and the stop bits list ("1", "2").
std::vector<std::string> DataBitsItems();
std::vector<std::string> StopBitsItems();
std::vector<std::string> ParityItems();

// Index of the first parity name whose first character is `parity`; 0 ("None")
// when none matches.
int ParityIndex(char parity);
// Parity character for a list index; an index outside the table counts as 0.
char ParityFromIndex(int index);

// What the speed fields show after a synchroniser run; the speed list then
// selects its heading item (index 0).
struct SpeedView {
  std::string divisor;  // Ed_BR
  std::string speed;    // Ed_Bd
};

// Everything the dialog shows after loading a working copy. A list index of
// -1 means no item is selected (a value that no item stands for).
struct PortView {
  std::string com;  // Ed_com: PortIndex + 1
  SpeedView speed;
  int preset_index = 0;  // Ed_rychl: always the heading item
  int data_bits_index = -1;
  int stop_bits_index = -1;
  int parity_index = 0;
};

// Shows a freshly loaded working copy. Runs the synchroniser on its
// BaudDivisor with speed 0, so a divisor of 0 becomes 12.
PortView ShowPortSettings(config::SettingsRecord& wc);

// Commit rules, one per control, each run when the control loses the focus.
// Ed_com: number limited to 1..64, PortIndex = number - 1; returns the text shown.
std::string CommitCom(config::SettingsRecord& wc, std::string_view text);
// Ed_BR: number limited to 1..115200 becomes the divisor.
SpeedView CommitDivisor(config::SettingsRecord& wc, std::string_view text);
// Ed_Bd: number limited to 1..115200 is the requested speed.
SpeedView CommitSpeed(config::SettingsRecord& wc, std::string_view text);
// Ed_rychl: item k >= 1 picks preset k - 1; item 0 (or an index outside the
// list) rewrites the speed fields unchanged. The list then shows item 0 again.
SpeedView CommitPreset(config::SettingsRecord& wc, int item);
// Ed_dta: DataBits = index + 5, outside 5..8 becomes 8. Returns the index shown.
int CommitDataBits(config::SettingsRecord& wc, int index);
// Ed_stp: StopBits = index + 1, outside 1..2 becomes 1. Returns the index shown.
int CommitStopBits(config::SettingsRecord& wc, int index);
// Ed_par: an index outside the table counts as 0. Returns the index shown.
int CommitParity(config::SettingsRecord& wc, int index);

}  // namespace m32::dialogs
