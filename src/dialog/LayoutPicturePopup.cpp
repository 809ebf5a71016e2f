#include "dialog/LayoutPicturePopup.hpp"

#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QToolTip>

#include <algorithm>

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
    : QLabel(menu, Qt::ToolTip), menu(menu), textOf(std::move(textOf))
{
	setObjectName(QStringLiteral("velkinLayoutPicture"));
	// Looks like a tool tip of the theme.
	setPalette(QToolTip::palette());
	setFont(QToolTip::font());
	setForegroundRole(QPalette::ToolTipText);
	setBackgroundRole(QPalette::ToolTipBase);
	setAutoFillBackground(true);
	setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
	setMargin(1 + style()->pixelMetric(QStyle::PM_ToolTipLabelFrameWidth, nullptr, this));
	setTextFormat(Qt::RichText);
	setAttribute(Qt::WA_TransparentForMouseEvents);
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
		hide();
	});
}

void LayoutPicturePopup::hoverOn(QAction *action)
{
	if (action == resting && isVisible()) {
		return;
	}
	hide();
	resting = action;
	rest.start();
}

void LayoutPicturePopup::showBeside(QAction *action)
{
	const QString html = textOf(action);
	if (html.isEmpty()) {
		return;
	}
	setText(html);
	adjustSize();
	const QRect row = menu->actionGeometry(action);
	const QRect global(menu->mapToGlobal(QPoint(0, 0)), menu->size());
	const QScreen *screen = menu->screen();
	const QRect area = screen ? screen->availableGeometry() : global;
	move(placeBesideMenu(global, global.top() + row.top(), size(), area));
	show();
	raise();
}
