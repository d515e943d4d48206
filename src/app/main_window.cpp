#include "app/main_window.h"
namespace m32 {
TWmenu::TWmenu(QWidget* parent) : QMainWindow(parent) {}
}  // namespace m32
