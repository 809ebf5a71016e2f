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

// Where a window with that frame goes so that it lies wholly on one of the screens: onto the screen that holds most
// of it, or else the nearest one, keeping its size unless it is larger than that screen. A frame that lies wholly
// on a screen already stays where it is.
QRect placeOnScreens(const QRect &frame, const QList<QRect> &screens);

// Moves the main window, unless it is minimized, maximized or full screen, and every shown floating dock that lie
// partly or wholly off the available screen area onto a screen, with a log line for each that moved or shrank. One
// held by its minimum size at more than the screen's size keeps that size, with its top left corner on the screen.
void keepWindowsOnScreens(QMainWindow *window);
