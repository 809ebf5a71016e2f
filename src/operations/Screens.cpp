#include "base/Log.hpp"
#include "operations/LayoutCapture.hpp"
#include "operations/Screens.hpp"

#include <QDockWidget>
#include <QGuiApplication>
#include <QMainWindow>
#include <QRegion>
#include <QScreen>

#include <algorithm>
#include <limits>
#include <optional>

namespace {

qint64 overlapArea(const QRect &a, const QRect &b)
{
	const QRect common = a.intersected(b);
	return common.isEmpty() ? 0 : qint64(common.width()) * common.height();
}

// The square of the gap between two rectangles, counted in pixels that lie between them; 0 when they touch or
// overlap.
qint64 gapSquared(const QRect &a, const QRect &b)
{
	const qint64 dx = std::max({0, b.left() - a.right() - 1, a.left() - b.right() - 1});
	const qint64 dy = std::max({0, b.top() - a.bottom() - 1, a.top() - b.bottom() - 1});
	return dx * dx + dy * dy;
}

QString rectText(const QRect &rect)
{
	return QStringLiteral("%1,%2 %3x%4").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
}

// Moves a window onto the screens by its outer rectangle, and logs the rectangle that it then has; nothing when it
// lies wholly within the screens already, or when it cannot change at all. A window whose minimum size is larger
// than the screen keeps that size, with its top left corner on the screen.
// The outer rectangle comes by value: a widget's geometry() is a reference to the rectangle that moving it changes.
void keepOnScreens(QWidget *window, const QRect outer, const QString &name, const QList<QRect> &screens)
{
	const QRect placed = placeOnScreens(outer, screens);
	if (placed == outer) {
		return;
	}
	const QMargins frame = marginsAround(window->geometry(), outer);
	window->setGeometry(placed.marginsRemoved(frame));
	// What the window really got: Qt holds it at its minimum size, whatever was asked.
	const QRect got = window->geometry().marginsAdded(frame);
	if (got == outer) {
		return;
	}
	QString held;
	if (got.width() > placed.width() || got.height() > placed.height()) {
		const QSize minimum = window->minimumSize();
		held = QStringLiteral(" (held at its minimum size %1x%2)").arg(minimum.width()).arg(minimum.height());
	}
	velkinLog(LOG_WARNING, "Moved %s onto the screen: %s -> %s%s", name.toUtf8().constData(),
		  rectText(outer).toUtf8().constData(), rectText(got).toUtf8().constData(), held.toUtf8().constData());
}

} // namespace

QMargins marginsAround(const QRect &inner, const QRect &outer)
{
	return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
			outer.bottom() - inner.bottom());
}

QList<QRect> availableScreenAreas()
{
	QList<QRect> areas;
	for (const QScreen *screen : QGuiApplication::screens()) {
		areas.append(screen->availableGeometry());
	}
	return areas;
}

bool onScreens(const QRect &frame, const QList<QRect> &screens)
{
	QRegion covered;
	for (const QRect &screen : screens) {
		covered += screen;
	}
	return QRegion(frame).subtracted(covered).isEmpty();
}

QRect placeOnScreens(const QRect &frame, const QList<QRect> &screens)
{
	if (frame.isEmpty() || onScreens(frame, screens)) {
		return frame;
	}
	// The nearest place within the screens keeps each coordinate of the frame, or puts one of its edges onto the
	// same edge of a screen: one step from any other place towards the frame stays within the screens.
	QList<int> lefts = {frame.left()};
	QList<int> tops = {frame.top()};
	for (const QRect &screen : screens) {
		if (!screen.isEmpty()) {
			lefts << screen.left() << screen.right() - frame.width() + 1;
			tops << screen.top() << screen.bottom() - frame.height() + 1;
		}
	}
	std::optional<QRect> nearest;
	qint64 nearestDistance = 0;
	for (const int left : lefts) {
		for (const int top : tops) {
			const QRect moved(QPoint(left, top), frame.size());
			const qint64 dx = left - frame.left();
			const qint64 dy = top - frame.top();
			if ((!nearest || dx * dx + dy * dy < nearestDistance) && onScreens(moved, screens)) {
				nearest = moved;
				nearestDistance = dx * dx + dy * dy;
			}
		}
	}
	if (nearest) {
		return *nearest;
	}
	// Too large for the screens at its size: onto the screen that holds most of it, or else the nearest one.
	const QRect *best = nullptr;
	qint64 bestOverlap = 0;
	qint64 bestGap = std::numeric_limits<qint64>::max();
	for (const QRect &screen : screens) {
		if (screen.isEmpty()) {
			continue;
		}
		const qint64 overlap = overlapArea(frame, screen);
		const qint64 gap = gapSquared(frame, screen);
		if (overlap > bestOverlap || (overlap == 0 && bestOverlap == 0 && gap < bestGap)) {
			best = &screen;
			bestOverlap = overlap;
			bestGap = gap;
		}
	}
	if (!best) {
		return frame;
	}
	QRect placed(frame.topLeft(), frame.size().boundedTo(best->size()));
	placed.moveLeft(std::clamp(placed.left(), best->left(), best->right() - placed.width() + 1));
	placed.moveTop(std::clamp(placed.top(), best->top(), best->bottom() - placed.height() + 1));
	return placed;
}

void keepWindowsOnScreens(QMainWindow *window)
{
	// On Wayland the compositor places every top-level window: a program can neither learn nor choose where.
	if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
		return;
	}
	const QList<QRect> screens = availableScreenAreas();
	// A maximized, full-screen or minimized window is where the window manager puts it. Other flags may be set on a
	// normal window: OBS sets Qt::WindowActive when it brings the window back from the tray, and Qt keeps it.
	if (!(window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
		keepOnScreens(window, window->frameGeometry(), QStringLiteral("the main window"), screens);
	}
	// A dock that has just floated out has no frame yet, and the frame that the system reports for it until it
	// has one is far off: its own rectangle is what counts.
	const QList<QDockWidget *> docks = ownDocks(window);
	for (QDockWidget *dock : docks) {
		if (dock->isFloating() && dock->isVisible()) {
			keepOnScreens(dock, dock->geometry(), QStringLiteral("the dock \"%1\"").arg(dock->objectName()),
				      screens);
		}
	}
}
