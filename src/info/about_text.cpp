#include "info/about_text.h"

namespace m32::info {

const std::array<std::string_view, 3> kMakerAddress = {
    "Merkat Example s.r.o., Vzorová 12, 999 01 Ukázkov",
    "tel. +420 555 010 100   fax +420 555 010 199",
    "servis@merkat.example.com   www.merkat.example.com",
};

std::string AboutText(std::string_view banner_utf8) {
  std::string text(banner_utf8);
  text += "\n";
  for (std::string_view line : kMakerAddress) {
    text += line;
    text += "\n";
  }
  text += "\n\n";
  text += "\n\n\nTest vstupů a výstupů.\n";
  return text;
}

}  // namespace m32::info
