// Everything the windows share for the whole run: the status bytes and flags,
// the settings with the file naming, the texts, and the serial port.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/shared_status.h"
#include "config/settings.h"
#include "config/text_table.h"

namespace m32 {

struct AppContext {
  SharedStatus status;
  config::ModulePath module;
  config::Settings settings;
  config::TextTable texts;
  // The executable's path; empty means the platform's (tests point it into a
  // temporary folder).
  std::string exe_path;
};

}  // namespace m32
