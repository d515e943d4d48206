#include "app/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "eventlog/event_log.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace m32::app {

namespace {

// The options QApplication takes for itself: accepted here, left to it.
// With a value:
constexpr const char* kQtValueOptions[] = {"platform",        "platformpluginpath",
                                           "platformtheme",   "plugin",
                                           "qmljsdebugger",   "style",
                                           "stylesheet",      "session",
                                           "display",         "geometry",
                                           "title",           "name",
                                           "qwindowgeometry", "qwindowicon",
                                           "qwindowtitle",    "qwindowsecure"};
// Without:
constexpr const char* kQtFlagOptions[] = {"reverse", "widgetcount", "sync", "nograb", "dograb"};

}  // namespace

int CommandLine::ExitStatus() const {
  switch (outcome) {
    case Outcome::kRun:
      return -1;
    case Outcome::kHelp:
    case Outcome::kVersion:
      return 0;
    case Outcome::kError:
      return 2;
  }
  return 2;
}

CommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  // "-platform offscreen" is one option with its value, not -p -l -a …
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.setApplicationDescription(
      QStringLiteral("Tests the 32 outputs and 32 inputs of a controller board on a serial line."));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  for (const char* name : kQtValueOptions) {
    QCommandLineOption o(QString::fromLatin1(name), QString(), QStringLiteral("value"));
    o.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(o);
  }
  for (const char* name : kQtFlagOptions) {
    QCommandLineOption o(QString::fromLatin1(name));
    o.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(o);
  }

  // --log takes its file only when one follows, which the parser cannot
  // say: its words are taken out first and the option is listed for --help.
  QCommandLineOption log(QStringLiteral("log"),
                         QStringLiteral("Write every change of the outputs and inputs and the "
                                        "line's events to FILE (CSV), or to a file named by the "
                                        "date and time in the logs folder beside the settings."),
                         QStringLiteral("[FILE]"));
  parser.addOption(log);
  std::vector<std::string> words;
  words.reserve(static_cast<std::size_t>(arguments.size()));
  for (const QString& a : arguments) words.push_back(a.toStdString());
  const std::vector<std::size_t> taken = eventlog::FindLogRequest(words).consumed;
  QStringList rest;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    if (std::find(taken.begin(), taken.end(), static_cast<std::size_t>(i)) == taken.end()) {
      rest.append(arguments[i]);
    }
  }

  CommandLine result;
  const QString program = QCoreApplication::applicationName();
  if (!parser.parse(rest)) {
    result.outcome = CommandLine::Outcome::kError;
    result.text = program + QStringLiteral(": ") + parser.errorText() + QStringLiteral("\nTry '") +
                  program + QStringLiteral(" --help'.\n");
  } else if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
    result.outcome = CommandLine::Outcome::kHelp;
    result.text = parser.helpText();
  } else if (parser.isSet(version)) {
    result.outcome = CommandLine::Outcome::kVersion;
    result.text =
        program + QLatin1Char(' ') + QCoreApplication::applicationVersion() + QLatin1Char('\n');
  }
  return result;
}

QStringList ArgumentList(int argc, char** argv) {
  QStringList list;
  list.reserve(argc);
  for (int i = 0; i < argc; ++i) list.append(QString::fromLocal8Bit(argv[i]));
  return list;
}

int FinishEarly(const CommandLine& command_line) {
#ifdef _WIN32
  // A window program has no console of its own: print into the one it was
  // started from, if any (otherwise the text goes nowhere, as for any
  // window program).
  if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
    (void)std::freopen("CONOUT$", "w", stdout);
    (void)std::freopen("CONOUT$", "w", stderr);
  }
#endif
  std::FILE* out = command_line.outcome == CommandLine::Outcome::kError ? stderr : stdout;
  const QByteArray bytes = command_line.text.toLocal8Bit();
  const auto size = static_cast<std::size_t>(bytes.size());
  const bool printed =
      std::fwrite(bytes.constData(), 1, size, out) == size && std::fflush(out) == 0;
  // Help or version that could not be printed (a full disk, a closed pipe) is no success.
  if (!printed && command_line.ExitStatus() == 0) return 1;
  return command_line.ExitStatus();
}

}  // namespace m32::app
