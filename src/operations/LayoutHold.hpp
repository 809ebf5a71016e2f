#pragma once

#include "operations/EventFilters.hpp"

#include <QHash>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QTimer>

class QMainWindow;
class QWidget;

// Holds the widgets that a main window lays out (docked docks, the central widget, the bars) to the layout for a
// while after a layout was put on.
// They are native child windows in OBS (its preview makes its siblings native), and under X11 the window system
// answers each of their moves and resizes later; Qt takes every answer as the widget's rectangle. A restore takes
// the docks through other rectangles on the way to the final ones, and an answer to one of those that comes after
// the last one leaves the dock there, overlapping its neighbours, until something lays the window out again. While
// the hold lasts, an answer of the window system lays the window out once more, which puts every widget back where
// the layout has it; the widgets that are there already do not move.
// A floating dock is the window system's and the user's to move. The first move or resize from the window system that
// takes one off the rectangle that the load gave it is judged alone: when its place and its size are each one that
// the dock had while the layout was put on, the dock is given that rectangle again. The window system's answers are
// not told from the moves that the user makes through the window manager during the hold: a dock that the user
// moves, without resizing it, back to where the load took it from is given the load's rectangle again too. Any other
// move or resize, and all after the first, stay.
class LayoutHold : public QObject {
public:
	// Notes, from now on, where the docks pass while a layout is put on.
	LayoutHold();

	// Starts the hold over the window's laid out widgets, or starts it again for the full time.
	void hold(QMainWindow *window);
	void release();

	bool eventFilter(QObject *watched, QEvent *event) override;

private:
	// The places and sizes that a dock had while a layout was put on.
	struct Passed {
		QList<QPoint> places;
		QList<QSize> sizes;
	};
	// Notes, from the application's events, the places and sizes of each dock while the last layout was put on.
	class Passage : public QObject {
	public:
		bool eventFilter(QObject *watched, QEvent *event) override;
		QHash<QObject *, Passed> docks;

	private:
		// Whether the next event seen while a layout is put on begins the record of a new one.
		bool ended = true;
	};
	// A floating dock's rectangle from the load, and where it passed during the load.
	struct FloatingPlace {
		QRect rect;
		Passed passed;
	};

	void layOutAgain();

	// A plain QObject pointer: released while the window may be half destroyed.
	QPointer<QObject> window;
	// The laid out widgets and the floating docks.
	EventFilters watched{this};
	QHash<QObject *, FloatingPlace> floatingPlaces;
	Passage passage;
	QTimer ends;
	bool queued = false;
};
