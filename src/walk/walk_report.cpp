#include "walk/walk_report.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace m32::walk {
namespace {

// Channels in report order: failures first, each group by channel.
std::vector<const ChannelResult*> FailuresFirst(const WalkResult& result) {
  std::vector<const ChannelResult*> order;
  for (const auto& c : result.channels) order.push_back(&c);
  std::stable_partition(order.begin(), order.end(),
                        [](const ChannelResult* c) { return !c->Passed(); });
  return order;
}

std::string Seconds(double s) {
  char buf[32];
  (void)std::snprintf(buf, sizeof buf, "%.3f", s);
  return buf;
}

std::string AdcText(const AdcResult& a) {
  std::string text = "A/D " + std::to_string(a.range.low) + ".." + std::to_string(a.range.high) +
                     ": " + (a.Passed() ? "pass" : "out of range");
  if (a.readings == 0) return text + " (no readings)";
  text += " (min " + std::to_string(a.min) + ", max " + std::to_string(a.max) + ", " +
          std::to_string(a.outside) + " of " + std::to_string(a.readings) + " readings outside)";
  return text;
}

std::string Summary(const WalkResult& result) {
  int failed = 0;
  for (const auto& c : result.channels) failed += c.Passed() ? 0 : 1;
  std::string text = failed == 0 ? "all " + std::to_string(kChannels) + " channels passed"
                                 : std::to_string(failed) + " of " + std::to_string(kChannels) +
                                       " channels failed";
  if (result.adc) text += result.adc->Passed() ? ", A/D in range" : ", A/D out of range";
  return text;
}

// Drops what XML 1.0 cannot carry (control characters other than tab, line
// feed, carriage return) and escapes the rest.
std::string Xml(const std::string& s) {
  std::string out;
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') continue;
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += ch;
    }
  }
  return out;
}

// One CSV field: quoted when it holds a comma, a quote or a line break.
std::string Csv(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char ch : s) {
    if (ch == '"') out += '"';
    out += ch;
  }
  return out + "\"";
}

std::string Padded(std::string s, std::size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

}  // namespace

std::string ChannelLabel(const ChannelResult& r) {
  std::string label = "out" + std::to_string(r.channel) + " -> ";
  label += r.input != 0 ? "in" + std::to_string(r.input) : "none";
  if (r.constant) label += ", in" + std::to_string(r.channel) + " = " + (*r.constant ? "1" : "0");
  return label;
}

std::string HumanReport(const WalkResult& result, const ReportInfo& info) {
  std::string out;
  for (const ChannelResult* c : FailuresFirst(result)) {
    out += Padded(ChannelLabel(*c), 24) + VerdictText(*c) + "\n";
  }
  if (result.adc) out += AdcText(*result.adc) + "\n";
  out += Summary(result) + " (" + std::to_string(result.runs) +
         (result.runs == 1 ? " run" : " runs") + ", hold " + std::to_string(result.hold_frames) +
         " frames, " + info.line + ", " + Seconds(info.seconds) + " s)\n";
  return out;
}

std::string CsvReport(const WalkResult& result, const ReportInfo& info) {
  static_cast<void>(info);
  std::string out = "channel,output,input,constant,verdict,detail,flickers\r\n";
  for (const auto& c : result.channels) {
    out += std::to_string(c.channel) + ",out" + std::to_string(c.channel) + "," +
           (c.input != 0 ? "in" + std::to_string(c.input) : std::string("none")) + "," +
           (c.constant ? (*c.constant ? "1" : "0") : "") + "," + Csv(VerdictName(c.verdict)) + "," +
           Csv(VerdictText(c)) + "," + std::to_string(c.flickers) + "\r\n";
  }
  if (result.adc) {
    out += "adc,,,," + std::string(result.adc->Passed() ? "pass" : "out of range") + "," +
           Csv(AdcText(*result.adc)) + ",\r\n";
  }
  return out;
}

std::string JunitReport(const WalkResult& result, const ReportInfo& info) {
  const int tests = kChannels + (result.adc ? 1 : 0);
  const std::string counts = " tests=\"" + std::to_string(tests) + "\" failures=\"" +
                             std::to_string(result.Failures()) + "\" errors=\"0\"";
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out +=
      "<testsuites name=\"merkat32-walk\"" + counts + " time=\"" + Seconds(info.seconds) + "\">\n";
  out += "  <testsuite name=\"walk " + Xml(info.serial) + "\"" + counts + " skipped=\"0\" time=\"" +
         Seconds(info.seconds) + "\" timestamp=\"" + Xml(info.timestamp) + "\">\n";
  out += "    <properties>\n";
  const std::pair<const char*, const std::string*> props[] = {{"serial", &info.serial},
                                                              {"operator", &info.operator_name},
                                                              {"line", &info.line},
                                                              {"version", &info.tool_version}};
  for (const auto& [name, value] : props) {
    out += "      <property name=\"" + std::string(name) + "\" value=\"" + Xml(*value) + "\"/>\n";
  }
  out += "    </properties>\n";
  for (const auto& c : result.channels) {
    char name[16];
    (void)std::snprintf(name, sizeof name, "channel %02d", c.channel);
    out += "    <testcase classname=\"merkat32-walk\" name=\"" + std::string(name) + " (" +
           Xml(ChannelLabel(c)) + ")\" time=\"0\"";
    if (c.Passed()) {
      out += "/>\n";
      continue;
    }
    out += ">\n      <failure type=\"" + Xml(VerdictName(c.verdict)) + "\" message=\"" +
           Xml(VerdictText(c)) + "\">" + Xml(ChannelLabel(c) + ": " + VerdictText(c)) +
           "</failure>\n    </testcase>\n";
  }
  if (result.adc) {
    out += "    <testcase classname=\"merkat32-walk\" name=\"A/D range\" time=\"0\"";
    if (result.adc->Passed()) {
      out += "/>\n";
    } else {
      out += ">\n      <failure type=\"out of range\" message=\"" + Xml(AdcText(*result.adc)) +
             "\"/>\n    </testcase>\n";
    }
  }
  out += "  </testsuite>\n</testsuites>\n";
  return out;
}

std::string HtmlReport(const WalkResult& result, const ReportInfo& info) {
  std::string out = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Walk test " +
                    Xml(info.serial) +
                    "</title>\n<style>\n"
                    "@page { size: A4; margin: 15mm; }\n"
                    "body { font-family: sans-serif; font-size: 10pt; }\n"
                    "h1 { font-size: 14pt; margin: 0 0 4pt 0; }\n"
                    "table { border-collapse: collapse; }\n"
                    "td, th { border: 1px solid #888; padding: 1pt 6pt; text-align: left; }\n"
                    ".fail { color: #c00000; font-weight: bold; }\n"
                    "</style></head><body>\n";
  out += "<h1>Walk test: " + std::string(result.Passed() ? "PASSED" : "FAILED") + "</h1>\n";
  out += "<table class=\"info\" cellspacing=\"0\" cellpadding=\"3\">\n";
  const std::pair<const char*, std::string> rows[] = {
      {"Board serial", info.serial}, {"Operator", info.operator_name},
      {"Date", info.date},           {"Program", info.tool_version},
      {"Line", info.line},           {"Result", Summary(result)},
  };
  for (const auto& [name, value] : rows) {
    out += "<tr><th>" + std::string(name) + "</th><td>" + Xml(value) + "</td></tr>\n";
  }
  out +=
      "</table>\n<p></p>\n<table width=\"100%\" cellspacing=\"0\" cellpadding=\"2\">\n"
      "<tr><th>Channel</th><th>Wiring</th><th>Result</th></tr>\n";
  for (const auto& c : result.channels) {
    const char* cls = c.Passed() ? "" : " class=\"fail\"";
    // The colour is repeated on the cells: not every renderer applies a row's.
    const std::string open = c.Passed() ? "<td>" : "<td class=\"fail\"><font color=\"#c00000\">";
    const std::string close = c.Passed() ? "</td>" : "</font></td>";
    out += "<tr";
    out += cls;
    out += ">";
    for (const std::string& cell :
         {std::to_string(c.channel), Xml(ChannelLabel(c)), Xml(VerdictText(c))}) {
      out += open;
      out += cell;
      out += close;
    }
    out += "</tr>\n";
  }
  out += "</table>\n";
  if (result.adc) {
    out += std::string("<p") + (result.adc->Passed() ? "" : " class=\"fail\"") + ">" +
           Xml(AdcText(*result.adc)) + "</p>\n";
  }
  out += "</body></html>\n";
  return out;
}

}  // namespace m32::walk
