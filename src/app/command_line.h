// The command line, read before anything else happens: --help and --version
// print and end the run, an unknown option ends it with a message and exit
// status 2, and only then are windows, the port and files touched.
//
// Qt's own options (-platform NAME, -style NAME, -reverse…) stay accepted and
// are left for QApplication. Arguments that are not options are ignored, as
// they always were. New options are added in Parser's constructor and read
// into CommandLine by Parse.
#pragma once

#include <QString>
#include <QStringList>

namespace m32::app {

struct CommandLine {
  enum class Outcome {
    kRun,      // go on and start the tool
    kHelp,     // print `text` to standard output, exit 0
    kVersion,  // print `text` to standard output, exit 0
    kError,    // print `text` to standard error, exit 2
  };
  Outcome outcome = Outcome::kRun;
  QString text;

  // The exit status of a run that ends here (kRun: none, returns -1).
  int ExitStatus() const;
};

// Reads `arguments` (the program's name first). Needs no application object;
// the application's name and version must be set before (QCoreApplication's
// static setters).
CommandLine ParseCommandLine(const QStringList& arguments);

// argv as the platform passed it.
QStringList ArgumentList(int argc, char** argv);

// Prints what a run ending here says (where the platform lets a window
// program print). Returns the exit status; 1 when help or the version could
// not be written.
int FinishEarly(const CommandLine& command_line);

}  // namespace m32::app
