#include "menu/LayoutPicture.hpp"
#include "operations/LayoutRecord.hpp"

#include <QApplication>
#include <QDockWidget>
#include <QEvent>
#include <QFontMetricsF>
#include <QLayout>
#include <QMainWindow>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

// While it lives, every window that comes out of `root` (a dock that floats, the window of a floating tab group that
// Qt makes and shows by itself) is marked not to show on screen, as it is about to be shown.
class OffScreen : public QObject {
public:
	explicit OffScreen(QWidget *root) : root(root) { qApp->installEventFilter(this); }
	~OffScreen() override { qApp->removeEventFilter(this); }
	OffScreen(const OffScreen &) = delete;
	OffScreen &operator=(const OffScreen &) = delete;

protected:
	bool eventFilter(QObject *watched, QEvent *event) override
	{
		// Qt sends the show event before it maps the window, and maps none that carries the attribute.
		if (event->type() == QEvent::Show && watched->isWidgetType()) {
			auto *widget = static_cast<QWidget *>(watched);
			if (widget->isWindow() && descends(widget)) {
				widget->setAttribute(Qt::WA_DontShowOnScreen);
			}
		}
		return false;
	}

private:
	bool descends(const QObject *object) const
	{
		for (; object; object = object->parent()) {
			if (object == root) {
				return true;
			}
		}
		return false;
	}

	QWidget *root;
};

} // namespace

std::optional<LayoutPictureGeometry> layoutPictureGeometry(const SnapshotData &data,
							   const QHash<QString, QString> &titles)
{
	// What a load would refuse is never given to Qt here either.
	const LayoutRecord record = readLayout(data.geometry, data.state);
	const std::optional<SavedWindowGeometry> &saved = record.window;
	if (!saved || data.state.isEmpty() || !record.safe) {
		return std::nullopt;
	}
	// A dock for each name that the state places, not for each name that the document lists.
	const QStringList names = record.names();
	if (names.size() > kMaxPictureDocks) {
		return std::nullopt;
	}

	QMainWindow standIn;
	standIn.setAttribute(Qt::WA_DontShowOnScreen);
	const OffScreen offScreen(&standIn);
	standIn.setCentralWidget(new QWidget);
	for (const QString &name : names) {
		auto *dock = new QDockWidget(titles.value(name, name), &standIn);
		dock->setObjectName(name);
		dock->setAttribute(Qt::WA_DontShowOnScreen);
		dock->setWidget(new QWidget);
		standIn.addDockWidget(Qt::LeftDockWidgetArea, dock);
	}
	// The stand-in is never shown: showing a window would close a menu that is open, and the docks are laid out
	// all the same when the layout is given the window's rectangle. A hidden window keeps its normal size when it
	// takes a maximized or full-screen geometry: it gets the size that it was saved at instead.
	if (!standIn.restoreGeometry(data.geometry)) {
		return std::nullopt;
	}
	if (saved->maximized || saved->fullScreen) {
		const QRect size = saved->client.isValid() ? saved->client : saved->frame;
		standIn.setWindowState(Qt::WindowNoState);
		// Laying out a window of millions of pixels costs time of its own.
		standIn.resize(size.size().boundedTo(QSize(kMaxStandInExtent, kMaxStandInExtent)));
	}
	if (!standIn.restoreState(data.state, 0)) {
		return std::nullopt;
	}
	const QRect window(QPoint(0, 0), standIn.size());
	if (QLayout *layout = standIn.layout()) {
		layout->setGeometry(window);
	}

	LayoutPictureGeometry geometry;
	geometry.window = window;
	geometry.preview = standIn.centralWidget()->geometry();
	const QPoint origin = standIn.geometry().topLeft();
	for (const QDockWidget *dock : standIn.findChildren<QDockWidget *>()) {
		if (dock->isHidden()) {
			continue;
		}
		const bool missing = !titles.contains(dock->objectName());
		const QWidget *own = dock->window();
		if (own == &standIn) {
			// A tab behind another in its group is moved out of the window.
			if (window.contains(dock->geometry())) {
				geometry.docks.append({dock->windowTitle(), dock->geometry(), false, missing});
			}
			continue;
		}
		// A dock that floats alone is its own window; one of a floating tab group lies inside the group's.
		const QRect inside(dock->mapTo(own, QPoint(0, 0)), dock->size());
		if (own == dock || own->rect().contains(inside)) {
			geometry.docks.append({dock->windowTitle(),
					       inside.translated(own->geometry().topLeft() - origin), true, missing});
		}
	}
	return geometry;
}

namespace {

// Half the gap that every box keeps from its neighbours.
constexpr qreal kInset = 1.5;

} // namespace

LayoutPicturePlan planLayoutPicture(const LayoutPictureGeometry &geometry)
{
	QRect all = geometry.window;
	for (const LayoutPictureBox &box : geometry.docks) {
		all |= box.rect;
	}
	LayoutPicturePlan plan;
	if (all.isEmpty()) {
		return plan;
	}
	// At least the least width, and more where a dock would be drawn smaller than the least box; never beyond the
	// largest extent on either axis, whatever those ask for.
	qreal scale = qreal(kMinPictureWidth) / all.width();
	for (const LayoutPictureBox &box : geometry.docks) {
		if (!box.rect.isEmpty()) {
			scale = std::max({scale, (kMinPictureBox.width() + 2 * kInset) / box.rect.width(),
					  (kMinPictureBox.height() + 2 * kInset) / box.rect.height()});
		}
	}
	scale = std::min({scale, qreal(kMaxPictureExtent) / all.width(), qreal(kMaxPictureExtent) / all.height()});
	const auto place = [&](const QRect &rect) {
		return QRectF((rect.x() - all.x()) * scale, (rect.y() - all.y()) * scale, rect.width() * scale,
			      rect.height() * scale);
	};
	// Rounding up never passes the largest extent.
	plan.size = QSize(qCeil(all.width() * scale), qCeil(all.height() * scale))
			    .boundedTo(QSize(kMaxPictureExtent, kMaxPictureExtent));
	plan.window = place(geometry.window);
	plan.preview = place(geometry.preview).adjusted(kInset, kInset, -kInset, -kInset);
	for (const LayoutPictureBox &box : geometry.docks) {
		plan.docks.append(place(box.rect).adjusted(kInset, kInset, -kInset, -kInset));
	}
	return plan;
}

namespace {

QColor withAlpha(QColor color, int alpha)
{
	color.setAlpha(alpha);
	return color;
}

// The least pixel size of a title, in a box lower than the style's font.
constexpr qreal kLeastTitlePixels = 7;

// The title in the middle of the box, in the style's font: on one line where it fits, else on as many as the box
// has room for when each word fits its width, else elided; in a smaller size only when the box is too low for the
// font.
void drawTitle(QPainter &painter, const QRectF &box, const QString &title, const QColor &color)
{
	const QRectF room = box.adjusted(3, 1, -3, -1);
	const QFont font = painter.font();
	QFont fitted = font;
	if (QFontMetricsF(font).height() > room.height()) {
		fitted.setPixelSize(qMax(1, qFloor(std::max(kLeastTitlePixels, room.height() * 0.8))));
	}
	const QFontMetricsF metrics(fitted);
	painter.setFont(fitted);
	painter.setPen(color);
	const QStringList words = title.split(QLatin1Char(' '), Qt::SkipEmptyParts);
	const bool wordsFit = std::all_of(words.cbegin(), words.cend(), [&](const QString &word) {
		return metrics.horizontalAdvance(word) <= room.width();
	});
	const QRectF wrapped =
		metrics.boundingRect(QRectF(0, 0, room.width(), 1e6), Qt::AlignCenter | Qt::TextWordWrap, title);
	if (metrics.horizontalAdvance(title) > room.width() && wordsFit && wrapped.height() <= room.height()) {
		painter.drawText(room, Qt::AlignCenter | Qt::TextWordWrap, title);
	} else {
		painter.drawText(room, Qt::AlignCenter | Qt::TextSingleLine,
				 metrics.elidedText(title, Qt::ElideRight, room.width()));
	}
	painter.setFont(font);
}

} // namespace

QImage drawLayoutPicture(const LayoutPictureGeometry &geometry, const LayoutPictureStyle &style)
{
	const LayoutPicturePlan plan = planLayoutPicture(geometry);
	if (plan.size.isEmpty()) {
		return QImage();
	}
	const qreal ratio =
		qIsFinite(style.devicePixelRatio) ? std::clamp<qreal>(style.devicePixelRatio, 1, kMaxPictureRatio) : 1;
	QImage image((QSizeF(plan.size) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
	image.setDevicePixelRatio(ratio);
	image.fill(Qt::transparent);
	const QPalette &palette = style.palette;
	QPainter painter(&image);
	painter.setRenderHint(QPainter::Antialiasing);
	painter.setFont(style.font);

	// The window, and its preview.
	painter.setPen(QPen(palette.color(QPalette::Mid), 1));
	painter.setBrush(palette.color(QPalette::Window));
	painter.drawRect(plan.window.adjusted(0.5, 0.5, -0.5, -0.5));
	const QColor highlight = palette.color(QPalette::Highlight);
	painter.setPen(QPen(highlight, 1.5));
	painter.setBrush(withAlpha(highlight, 60));
	painter.drawRoundedRect(plan.preview, 2, 2);
	drawTitle(painter, plan.preview, style.previewText, palette.color(QPalette::WindowText));

	// The docked docks, then the floating ones above them.
	for (const bool floating : {false, true}) {
		for (qsizetype i = 0; i < geometry.docks.size(); ++i) {
			const LayoutPictureBox &box = geometry.docks.at(i);
			if (box.floating != floating) {
				continue;
			}
			const QRectF rect = plan.docks.at(i);
			if (floating) {
				painter.setPen(Qt::NoPen);
				painter.setBrush(withAlpha(palette.color(QPalette::Shadow), 110));
				painter.drawRoundedRect(rect.translated(3, 3), 2, 2);
			}
			painter.setPen(QPen(floating ? highlight : palette.color(QPalette::Dark), floating ? 1.5 : 1,
					    floating ? Qt::DashLine : Qt::SolidLine));
			painter.setBrush(palette.color(QPalette::Button));
			painter.drawRoundedRect(rect, 2, 2);
			QString title = box.title;
			if (box.missing) {
				painter.setPen(Qt::NoPen);
				painter.setBrush(
					QBrush(withAlpha(palette.color(QPalette::ButtonText), 70), Qt::BDiagPattern));
				painter.drawRoundedRect(rect, 2, 2);
				title = style.missingText.arg(box.title);
			}
			drawTitle(painter, rect, title, palette.color(QPalette::ButtonText));
		}
	}
	return image;
}
