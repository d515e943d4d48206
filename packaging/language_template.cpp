// Writes the language template (the built-in Czech texts, as the tool writes
// merkat32.MNU when it is missing) to the file named, so that an install the
// user may not write still has language 0 to offer.
#include <cstdio>

#include "config/file_io.h"
#include "config/text_table.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: merkat32-language-template FILE\n", stderr);
    return 2;
  }
  const m32::config::TextTable texts;
  return m32::config::SaveFile(argv[1], texts.TemplateText()) ? 0 : 1;
}
