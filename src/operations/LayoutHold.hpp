#pragma once

#include <QHash>
#include <QList>
#include <QRect>
#include <QObject>
#include <QPointer>
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
// the layout has it; the widgets that are there already do not move. A floating dock whose answer leaves it off the
// rectangle that the load gave it is given that rectangle again, once.
class LayoutHold : public QObject {
public:
	LayoutHold();

	// Starts the hold over the window's laid out widgets, or starts it again for the full time.
	void hold(QMainWindow *window);
	void release();

	bool eventFilter(QObject *watched, QEvent *event) override;

private:
	void layOutAgain();

	// Plain QObject pointers: released while the window may be half destroyed.
	QPointer<QObject> window;
	QList<QPointer<QObject>> watched;
	QHash<QObject *, QRect> floatingPlaces;
	QTimer ends;
	bool queued = false;
};
