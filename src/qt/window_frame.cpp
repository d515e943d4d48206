#include "qt/window_frame.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <optional>

namespace m32::qt {
namespace {

// The frame margins of the window shown last; they stand in for the frame of
// a window that has not been shown yet.
std::optional<QMargins> g_seen;

QSize Extra(const QMargins& m) {
  return {m.left() + m.right(), m.top() + m.bottom()};
}

QSize ClientFor(QSize outer, const QMargins& m) {
  const QSize client = outer - Extra(m);
  return {std::max(1, client.width()), std::max(1, client.height())};
}

// Remembers what was asked of one window, so that the first exposure, when the
// real frame is known, can apply it again.
class FrameKeeper : public QObject {
  Q_OBJECT

 public:
  explicit FrameKeeper(QWidget* window) : QObject(window), window_(window) {
    window->installEventFilter(this);
    Watch();
  }

  static FrameKeeper* Of(QWidget* window) {
    auto* keeper = window->findChild<FrameKeeper*>(QString(), Qt::FindDirectChildrenOnly);
    return keeper != nullptr ? keeper : new FrameKeeper(window);
  }
  static const FrameKeeper* Find(const QWidget* window) {
    return window->findChild<const FrameKeeper*>(QString(), Qt::FindDirectChildrenOnly);
  }

  QMargins Margins() const {
    if (known_) return *known_;
    return g_seen.value_or(QMargins());
  }

  void Place(QPoint frame_top_left) {
    pos_ = frame_top_left;
    Apply();
  }
  void Size(QSize outer, bool fixed) {
    outer_ = outer;
    fixed_ = fixed;
    Apply();
  }
  void MinimumSize(QSize outer) {
    min_outer_ = outer;
    Apply();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::Show) Watch();
    if (watched == handle_ && event->type() == QEvent::Expose && handle_->isExposed()) {
      Exposed();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  // The native window exists from the first showing on; its exposures tell
  // when the window system has put its frame around it.
  void Watch() {
    QWindow* handle = window_->windowHandle();
    if (handle == nullptr || handle == handle_) return;
    if (handle_ != nullptr) handle_->removeEventFilter(this);
    handle_ = handle;
    handle_->installEventFilter(this);
  }

  void Exposed() {
    const QMargins now = handle_->frameMargins();
    // Where other windows have a frame, a null one means it is not drawn yet.
    if (now.isNull() && g_seen) return;
    known_ = now;
    if (!now.isNull()) g_seen = now;
    if (now != applied_with_ && (pos_ || outer_ || min_outer_)) Apply();
    pos_.reset();
    outer_.reset();
  }

  void Apply() {
    const QMargins m = Margins();
    applied_with_ = m;
    if (min_outer_) window_->setMinimumSize(ClientFor(*min_outer_, m));
    if (outer_ && fixed_) window_->setFixedSize(ClientFor(*outer_, m));
    if (outer_ && !fixed_) window_->resize(ClientFor(*outer_, m));
    if (!pos_) return;
    if (!window_->testAttribute(Qt::WA_WState_Created)) {
      // Before its native window exists, a window's position is that of its
      // frame, and the window system keeps the frame there.
      window_->move(*pos_);
    } else {
      // Once it exists, the position given is the client area's.
      window_->setGeometry(QRect(*pos_ + QPoint(m.left(), m.top()), window_->size()));
    }
  }

  QWidget* window_;
  QPointer<QWindow> handle_;
  std::optional<QMargins> known_;
  QMargins applied_with_;
  std::optional<QPoint> pos_;
  std::optional<QSize> outer_;
  bool fixed_ = false;
  std::optional<QSize> min_outer_;
};

}  // namespace

void PlaceFrame(QWidget* window, QPoint frame_top_left) {
  FrameKeeper::Of(window)->Place(frame_top_left);
}

QPoint FrameTopLeft(const QWidget* window) {
  // A window never shown is where it was moved to.
  if (!window->testAttribute(Qt::WA_WState_Created)) return window->pos();
  const QMargins m = FrameMargins(window);
  return window->geometry().topLeft() - QPoint(m.left(), m.top());
}

void PlaceBeside(QWidget* window, const QWidget* main_window) {
  if (main_window != nullptr) PlaceFrame(window, FrameTopLeft(main_window) + QPoint(4, 32));
}

void SetOuterSize(QWidget* window, QSize outer) {
  FrameKeeper::Of(window)->Size(outer, false);
}

void SetOuterFixedSize(QWidget* window, QSize outer) {
  FrameKeeper::Of(window)->Size(outer, true);
}

void SetOuterMinimumSize(QWidget* window, QSize outer) {
  FrameKeeper::Of(window)->MinimumSize(outer);
}

QMargins FrameMargins(const QWidget* window) {
  if (const FrameKeeper* keeper = FrameKeeper::Find(window)) return keeper->Margins();
  if (const QWindow* handle = window->windowHandle(); handle != nullptr && handle->isExposed()) {
    return handle->frameMargins();
  }
  return g_seen.value_or(QMargins());
}

}  // namespace m32::qt

#include "window_frame.moc"
