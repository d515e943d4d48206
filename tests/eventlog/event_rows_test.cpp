// The event log's text: CSV quoting, the rows a record gives, the time texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "eventlog/csv.h"
#include "eventlog/event_rows.h"

namespace {

using m32::eventlog::EventRecord;
using m32::eventlog::RowFormatter;
using m32::link::LineEventKind;

TEST(Csv, FieldsAreQuotedOnlyWhenTheyMustBe) {
  struct Row {
    const char* field;
    const char* written;
  };
  // legend: field as given -> as written
  const Row rows[] = {
      {"", ""},
      {"COM1 9600 8E1", "COM1 9600 8E1"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\nlines", "\"two\nlines\""},
      {"cr\r", "\"cr\r\""},
      {"čeština", "čeština"},  // UTF-8 bytes pass as they are
  };
  for (const Row& r : rows) {
    std::string out;
    m32::eventlog::AppendCsvField(out, r.field);
    EXPECT_EQ(out, r.written) << r.field;
  }
  std::string line;
  m32::eventlog::AppendCsvRow(line, {"a", "b,c", ""});
  EXPECT_EQ(line, "a,\"b,c\",\r\n");
}

// Everything after the wall-clock time of each row (the time is checked below).
std::string Tails(const std::string& text) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    const std::size_t comma = text.find(',', at);
    out += text.substr(comma + 1, end - comma - 1) + "|";
    at = end + 2;
  }
  return out;
}

TEST(EventRows, EachRecordGivesOneRowPerChangedChannel) {
  struct Row {
    const char* what;
    LineEventKind kind;
    int16_t ad_mode;
    std::array<uint8_t, 4> old_bytes, new_bytes;
    uint32_t count;
    const char* detail;
    const char* rows;  // monotonic_ms,frame,event,channel,old,new,detail | ...
  };
  const Row table[] = {
      {"out5 on",
       LineEventKind::kOutputsSent,
       0,
       {0, 0, 0, 0},
       {0x10, 0, 0, 0},
       0,
       "",
       "1.234,7,output,out5,0,1,|"},
      {"out1 off, out32 on",
       LineEventKind::kOutputsSent,
       0,
       {1, 0, 0, 0},
       {0, 0, 0, 0x80},
       0,
       "",
       "1.234,7,output,out1,1,0,|1.234,7,output,out32,0,1,|"},
      {"in9 and in32, no A/D",
       LineEventKind::kInputsAccepted,
       0,
       {0, 0, 0, 0},
       {0, 1, 0, 0x80},
       0,
       "",
       "1.234,7,input,in9,0,1,|1.234,7,input,in32,0,1,|"},
      {"A/D mode 1: in25.. is the value",
       LineEventKind::kInputsAccepted,
       1,
       {0, 0, 0, 7},
       {0, 0, 0x80, 255},
       0,
       "",
       "1.234,7,input,in24,0,1,|1.234,7,input,adc,7,255,|"},
      {"A/D mode 2: in17.. is the signed value",
       LineEventKind::kInputsAccepted,
       2,
       {0, 0, 0x34, 0x12},
       {0, 0, 0x00, 0x80},
       0,
       "",
       "1.234,7,input,adc,4660,-32768,|"},
      {"A/D mode 2, same value: no row",
       LineEventKind::kInputsAccepted,
       2,
       {0, 0, 1, 0},
       {0, 0, 1, 0},
       0,
       "",
       ""},
      {"port opened, a comma in the path",
       LineEventKind::kPortOpened,
       0,
       {},
       {},
       0,
       "/tmp/a,b/COM1 9600 8E1",
       "1.234,,port_opened,,,,\"/tmp/a,b/COM1 9600 8E1\"|"},
      {"frames dropped, counted",
       LineEventKind::kFramesDropped,
       0,
       {},
       {},
       12,
       "",
       "1.234,,frames_dropped,,,,12|"},
      {"close all-off frame",
       LineEventKind::kCloseAllOff,
       0,
       {},
       {},
       0,
       "",
       "1.234,7,close_all_off,,,,|"},
      {"line silent", LineEventKind::kLineSilent, 0, {}, {}, 0, "", "1.234,,line_silent,,,,|"},
  };
  for (const Row& r : table) {
    EventRecord rec;
    rec.unix_ms = 0;
    rec.since_open_us = 1234;
    rec.ad_mode = r.ad_mode;
    rec.event.kind = r.kind;
    rec.event.frame = 7;
    rec.event.old_bytes = r.old_bytes;
    rec.event.new_bytes = r.new_bytes;
    rec.event.count = r.count;
    rec.event.detail = r.detail;
    RowFormatter f;
    std::string out;
    f.Append(out, rec);
    EXPECT_EQ(Tails(out), r.rows) << r.what;
  }
}

TEST(EventRows, WallClockIsIsoLocalTimeToTheMillisecondWithItsOffset) {
  struct Row {
    int64_t offset_s;
    const char* text;
  };
  const Row offsets[] = {{0, "+00:00"}, {3600, "+01:00"}, {-12600, "-03:30"}, {20700, "+05:45"}};
  for (const Row& r : offsets) EXPECT_EQ(m32::eventlog::UtcOffsetText(r.offset_s), r.text);

  // Central European time, winter and summer (a POSIX rule, no zone files needed).
  ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  ::tzset();
  struct Moment {
    int64_t unix_ms;
    const char* text;
  };
  const Moment moments[] = {{1'765'000'000'007, "2025-12-06T06:46:40.007+01:00"},
                            {1'751'000'000'999, "2025-06-27T06:53:20.999+02:00"}};
  for (const Moment& m : moments) {
    m32::eventlog::WallClockText zoned;
    std::string text;
    zoned.Append(text, m.unix_ms);
    EXPECT_EQ(text, m.text);
  }
  ::unsetenv("TZ");
  ::tzset();

  // In the zone the test runs in: the pattern, and the same second twice.
  m32::eventlog::WallClockText clock;
  std::string a, b;
  clock.Append(a, 1'765'000'000'007);
  clock.Append(b, 1'765'000'000'999);
  ASSERT_EQ(a.size(), 29U) << a;
  EXPECT_EQ(a.substr(19, 4), ".007");
  EXPECT_EQ(b.substr(19, 4), ".999");
  EXPECT_EQ(a.substr(0, 19), b.substr(0, 19));
  EXPECT_EQ(a[10], 'T');
  EXPECT_TRUE(a[23] == '+' || a[23] == '-') << a;
}

}  // namespace
