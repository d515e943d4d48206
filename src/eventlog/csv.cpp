#include "eventlog/csv.h"

namespace m32::eventlog {

void AppendCsvField(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += field;
    return;
  }
  out += '"';
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendCsvRow(std::string& out, std::initializer_list<std::string_view> fields) {
  bool first = true;
  for (std::string_view f : fields) {
    if (!first) out += ',';
    first = false;
    AppendCsvField(out, f);
  }
  out += "\r\n";
}

}  // namespace m32::eventlog
