// The about window: the logo, the product banner, the maker's address block
// and the line naming the tool's purpose, on yellow.
#pragma once

#include <QDialog>

#include "config/text_table.h"

class QLabel;
class QTextEdit;

namespace m32::info {

class AboutWindow : public QDialog {
  Q_OBJECT

 public:
  // The text is built here, once; `main_window` places the window at each
  // opening (top + 32, left + 4) and owns it. `texts` must outlive the window.
  AboutWindow(const config::TextTable& texts, QWidget* main_window);

  QLabel* Logo() const { return logo_; }
  QTextEdit* TextView() const { return text_view_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildText();
  void OnActivated();
  bool HandleKey(const QKeyEvent& event);

  const config::TextTable& texts_;
  QWidget* main_window_;
  QLabel* logo_;
  QTextEdit* text_view_;
};

}  // namespace m32::info
