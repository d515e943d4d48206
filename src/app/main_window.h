#pragma once
#include <QMainWindow>
namespace m32 {
class TWmenu : public QMainWindow {
  Q_OBJECT
 public:
  explicit TWmenu(QWidget* parent = nullptr);
};
}  // namespace m32
