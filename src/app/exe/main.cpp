#include <QApplication>
#include "app/main_window.h"
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  m32::TWmenu w;
  w.show();
  return QApplication::exec();
}
