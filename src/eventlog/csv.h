// CSV text as RFC 4180 has it: fields separated by commas, lines ended by
// CR LF, a field holding a comma, a double quote, CR or LF enclosed in double
// quotes with its double quotes doubled. Bytes pass through as they are
// (the event log writes UTF-8).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace m32::eventlog {

void AppendCsvField(std::string& out, std::string_view field);
// The fields, comma-separated, and the line end.
void AppendCsvRow(std::string& out, std::initializer_list<std::string_view> fields);

}  // namespace m32::eventlog
