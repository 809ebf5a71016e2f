#pragma once

// The screens' available areas, and windows brought onto them.
#include <QList>
#include <QMargins>
#include <QRect>

class QMainWindow;

// The margins between a window's inner rectangle and its frame.
QMargins marginsAround(const QRect &inner, const QRect &outer);

// The available area of every screen there is now.
QList<QRect> availableScreenAreas();

// Whether the frame lies wholly within the screens taken together: every pixel of it on one screen or another, so
// a window may span two screens side by side, but not stick into the gap of an L-shaped desk.
bool onScreens(const QRect &frame, const QList<QRect> &screens);

// Where a window with that frame goes so that it lies wholly within the screens: a frame that does already stays;
// else the smallest move that brings it there at its size. A frame that fits nowhere at its size goes onto the
// screen that holds most of it, or else the nearest one, cut down to that screen's size where it is larger.
QRect placeOnScreens(const QRect &frame, const QList<QRect> &screens);

// Moves the main window, unless it is minimized, maximized or full screen, and every shown floating dock that lie
// partly or wholly outside the screens as placeOnScreens says, with a log line for each that moved or shrank; a
// window within them, on one screen or across several, stays as it is. One held by its minimum size at more than
// the screen's size keeps that size, with its top left corner on the screen. Nothing moves on Wayland.
void keepWindowsOnScreens(QMainWindow *window);
