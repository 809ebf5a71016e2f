#include "menu/LayoutPicturePopup.hpp"

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QToolTip>

#include <algorithm>
#include <utility>

namespace {

// The space between the menu and the picture.
constexpr int kGap = 4;
// How long the pointer rests on a row before its picture shows.
constexpr int kRestMilliseconds = 400;

} // namespace

QPoint placeBesideMenu(const QRect &menu, int rowTop, const QSize &size, const QRect &screen)
{
	const int right = menu.right() + 1 + kGap;
	const int left = menu.left() - kGap - size.width();
	int x = right;
	if (right + size.width() - 1 > screen.right()) {
		if (left >= screen.left()) {
			x = left;
		} else {
			// No room on either side: the side with more, held within the screen.
			const int roomRight = screen.right() - menu.right();
			const int roomLeft = menu.left() - screen.left();
			x = roomRight >= roomLeft ? std::max(screen.left(), screen.right() - size.width() + 1)
						  : screen.left();
		}
	}
	const int y = std::clamp(rowTop, screen.top(), std::max(screen.top(), screen.bottom() - size.height() + 1));
	return QPoint(x, y);
}

LayoutPicturePopup::LayoutPicturePopup(QMenu *menu, std::function<QString(QAction *)> textOf)
    : QObject(menu), menu(menu), textOf(std::move(textOf))
{
	rest.setSingleShot(true);
	rest.setInterval(kRestMilliseconds);
	QObject::connect(&rest, &QTimer::timeout, this, [this] {
		if (resting && this->menu->isVisible() && this->menu->activeAction() == resting) {
			showBeside(resting);
		}
	});
	QObject::connect(menu, &QMenu::hovered, this, [this](QAction *action) { hoverOn(action); });
	QObject::connect(menu, &QMenu::aboutToHide, this, [this] {
		rest.stop();
		resting = nullptr;
		if (std::exchange(showing, false)) {
			QToolTip::hideText();
		}
	});
}

QWidget *LayoutPicturePopup::shownToolTip()
{
	// Qt's tool tip is a top-level label of its own class; the theme's style sheet styles it as QToolTip.
	const QList<QWidget *> windows = QApplication::topLevelWidgets();
	for (QWidget *window : windows) {
		if (window->inherits("QTipLabel") && window->isVisible()) {
			return window;
		}
	}
	return nullptr;
}

void LayoutPicturePopup::hoverOn(QAction *action)
{
	if (action == resting && showing && shownToolTip()) {
		return;
	}
	if (std::exchange(showing, false)) {
		QToolTip::hideText();
	}
	resting = action;
	rest.start();
}

void LayoutPicturePopup::showBeside(QAction *action)
{
	const QString html = textOf(action);
	if (html.isEmpty()) {
		return;
	}
	const QRect row = menu->actionGeometry(action);
	const QRect global(menu->mapToGlobal(QPoint(0, 0)), menu->size());
	// Qt places its tip below the pointer and keeps it while the pointer stays on the row; then it goes beside.
	QToolTip::showText(menu->mapToGlobal(row.center()), html, menu, row);
	QWidget *tip = shownToolTip();
	if (!tip) {
		return;
	}
	showing = true;
	const QScreen *screen = menu->screen();
	const QRect area = screen ? screen->availableGeometry() : global;
	tip->move(placeBesideMenu(global, global.top() + row.top(), tip->size(), area));
}
