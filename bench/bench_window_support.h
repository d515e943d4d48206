// What the in-process window benchmarks share: the display they show on and
// a wait that keeps the event loop running.
#pragma once

#include <QByteArray>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <chrono>
#include <string>

#include "bench_support.h"

namespace m32::bench {

// Shows the windows on the X server of --display (or DISPLAY), offscreen
// when there is none; returns that display (empty for none). Call before the
// QApplication is made.
inline std::string ChooseDisplay(int argc, char** argv) {
  std::string display =
      StrArg(argc, argv, "--display", qEnvironmentVariable("DISPLAY").toStdString());
  if (display.empty()) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  } else {
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DISPLAY", QByteArray::fromStdString(display));
  }
  return display;
}

// Runs the event loop for `d`.
inline void PumpFor(std::chrono::milliseconds d) {
  QEventLoop loop;
  QTimer::singleShot(d, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace m32::bench
