#include "dialog/LayoutPicture.hpp"

#include <QApplication>
#include <QDockWidget>
#include <QLayout>
#include <QMainWindow>
#include <QPainter>
#include <QPalette>

#include <algorithm>

std::optional<LayoutPictureGeometry> layoutPictureGeometry(const SnapshotData &data,
							   const QHash<QString, QString> &titles)
{
	// Laid out like a window on screen, but never on screen: neither the stand-in nor a dock that floats out of
	// it is ever mapped.
	QMainWindow standIn;
	standIn.setAttribute(Qt::WA_DontShowOnScreen);
	standIn.setCentralWidget(new QWidget);
	for (const QString &name : data.docks) {
		auto *dock = new QDockWidget(titles.value(name, name), &standIn);
		dock->setObjectName(name);
		dock->setAttribute(Qt::WA_DontShowOnScreen);
		dock->setWidget(new QWidget);
		standIn.addDockWidget(Qt::LeftDockWidgetArea, dock);
	}
	// The stand-in is never shown: showing a window would close a menu that is open, and the docks are laid out
	// all the same when the layout is given the window's rectangle.
	if (!standIn.restoreGeometry(data.geometry) || !standIn.restoreState(data.state, 0)) {
		return std::nullopt;
	}
	const QRect window(QPoint(0, 0), standIn.size());
	if (QLayout *layout = standIn.layout()) {
		layout->setGeometry(window);
	}

	LayoutPictureGeometry geometry;
	geometry.window = window;
	const QPoint origin = standIn.geometry().topLeft();
	for (const QDockWidget *dock : standIn.findChildren<QDockWidget *>()) {
		if (dock->isHidden()) {
			continue;
		}
		if (dock->isFloating()) {
			geometry.docks.append({dock->windowTitle(), dock->geometry().translated(-origin), true});
		} else if (window.contains(dock->geometry())) {
			// A tab behind another in its group is moved out of the window.
			geometry.docks.append({dock->windowTitle(), dock->geometry(), false});
		}
	}
	return geometry;
}

QImage drawLayoutPicture(const LayoutPictureGeometry &geometry, int width)
{
	QRect all = geometry.window;
	for (const LayoutPictureBox &box : geometry.docks) {
		all |= box.rect;
	}
	if (all.isEmpty()) {
		return QImage();
	}
	// About `width` wide, and never taller than that.
	const qreal scale = std::min(qreal(width) / all.width(), qreal(width) / all.height());
	QImage image(QSize(qRound(all.width() * scale), qRound(all.height() * scale)) + QSize(1, 1),
		     QImage::Format_ARGB32_Premultiplied);
	image.fill(Qt::transparent);
	const QPalette palette = QApplication::palette();
	QPainter painter(&image);
	QFont font = painter.font();
	font.setPixelSize(std::max(7, qRound(9 * std::min<qreal>(1, scale * 4))));
	painter.setFont(font);
	const auto place = [&](const QRect &rect) {
		return QRectF((rect.x() - all.x()) * scale, (rect.y() - all.y()) * scale, rect.width() * scale,
			      rect.height() * scale);
	};
	painter.setPen(palette.color(QPalette::WindowText));
	painter.setBrush(palette.color(QPalette::Window));
	painter.drawRect(place(geometry.window));
	for (const LayoutPictureBox &box : geometry.docks) {
		const QRectF rect = place(box.rect).adjusted(1, 1, -1, -1);
		painter.setPen(
			QPen(palette.color(QPalette::Highlight), 1, box.floating ? Qt::DashLine : Qt::SolidLine));
		painter.setBrush(palette.color(box.floating ? QPalette::AlternateBase : QPalette::Base));
		painter.drawRect(rect);
		painter.setPen(palette.color(QPalette::Text));
		const QRectF text = rect.adjusted(2, 1, -2, -1);
		painter.drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
				 painter.fontMetrics().elidedText(box.title, Qt::ElideRight, int(text.width())));
	}
	return image;
}
