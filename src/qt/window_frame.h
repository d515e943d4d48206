// The outer geometry of top-level windows: positions and sizes that include
// the frame the window system draws around the client area (title bar and
// borders).
//
// The frame is known only once the window system has shown a window. Until
// then the frame of a window shown before stands in for it (every window of
// the tool has the same kind of frame), and the window's first exposure puts
// right whatever the real frame turns out to change. Without a window system
// frame (offscreen) the outer geometry is the client geometry.
#pragma once

#include <QMargins>
#include <QPoint>
#include <QSize>

class QWidget;

namespace m32::qt {

// The top-left corner of the window's frame.
QPoint FrameTopLeft(const QWidget* window);

// Puts the top-left corner of the window's frame at `frame_top_left`.
void PlaceFrame(QWidget* window, QPoint frame_top_left);

// The place of a window opened from the main window: its frame 4 px right of
// and 32 px below the top-left corner of the main window's frame.
void PlaceBeside(QWidget* window, const QWidget* main_window);

// Sizes the window so that its frame measures `outer`.
void SetOuterSize(QWidget* window, QSize outer);

// Sizes the window as SetOuterSize does and keeps it at that size.
void SetOuterFixedSize(QWidget* window, QSize outer);

// The frame of the window never gets smaller than `outer`.
void SetOuterMinimumSize(QWidget* window, QSize outer);

// The window's frame margins: its own where known, else those of the last
// window shown, else none.
QMargins FrameMargins(const QWidget* window);

}  // namespace m32::qt
