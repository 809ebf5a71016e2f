#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QAction;
class QMenu;

// Where a window of `size` goes beside a menu (both in global coordinates), level with the row at `rowTop`, within
// `screen`: right of the menu where there is room, else left of it; where neither side has room, on the side with
// more, held within the screen.
QPoint placeBesideMenu(const QRect &menu, int rowTop, const QSize &size, const QRect &screen);

// Shows the rich text of the menu's hovered row in the theme's own tool tip, moved beside the menu so that it never
// covers the menu's entries, once the pointer has rested on the row for a moment. It is a child of the menu; the tip
// hides when the menu hides or another row is hovered.
class LayoutPicturePopup : public QObject {
public:
	// `textOf` gives the rich text for a row, or nothing for a row that has none.
	LayoutPicturePopup(QMenu *menu, std::function<QString(QAction *)> textOf);

	// The tool tip's window while one shows, else null.
	static QWidget *shownToolTip();

private:
	void hoverOn(QAction *action);
	void showBeside(QAction *action);

	QMenu *menu;
	std::function<QString(QAction *)> textOf;
	QTimer rest;
	QPointer<QAction> resting;
	bool showing = false;
};
