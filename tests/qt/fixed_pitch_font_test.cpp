#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>

#include "qt/window_support.h"

namespace {

// Legend: the family a fixed-pitch field asks for; whether it is kept. Either
// way the font shown has a fixed pitch.
TEST(FixedPitchFont, KeepsAFixedPitchFamilyAndReplacesOneThatIsNot) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int argc = 1;
  char name[] = "test_qt";
  char* argv[] = {name, nullptr};
  const QGuiApplication app(argc, argv);
  if (!QFontDatabase::hasFamily(QStringLiteral("DejaVu Sans")))
    GTEST_SKIP() << "needs the DejaVu fonts";
  struct Case {
    const char* family;
    bool kept;
  } const cases[] = {
      {"DejaVu Sans Mono", true},
      {"DejaVu Sans", false},  // there, but proportional: as a serif stand-in would be
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family);
    const QFont font = m32::qt::FixedPitchFont(QString::fromLatin1(c.family));
    const QFontInfo shown(font);
    EXPECT_TRUE(m32::qt::HasFixedPitch(font)) << shown.family().toStdString();
    const QFontMetrics metrics(font);
    EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("0123456789")),
              metrics.horizontalAdvance(QStringLiteral("WWWWWiiiii")))
        << shown.family().toStdString();
    EXPECT_EQ(shown.family() == QLatin1String(c.family), c.kept) << shown.family().toStdString();
  }
}

}  // namespace
