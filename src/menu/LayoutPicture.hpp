#pragma once

#include "store/SnapshotDocument.hpp"

#include <QFont>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPalette>
#include <QRect>
#include <QRectF>
#include <QString>

#include <optional>

// Where a snapshot puts the main window, its preview and its shown docks, with the window at 0,0: docked docks
// inside it, floating ones where they float relative to it.
struct LayoutPictureBox {
	QString title;
	QRect rect;
	bool floating = false;
	// The snapshot shows the dock, but OBS has no dock of that name now.
	bool missing = false;
};

struct LayoutPictureGeometry {
	QRect window;
	// The central area, where OBS has its preview.
	QRect preview;
	QList<LayoutPictureBox> docks;
};

// More docks than this and no picture is drawn: no layout of a person's has as many.
constexpr qsizetype kMaxPictureDocks = 256;

// Restores the snapshot onto a stand-in main window that holds a dock for each name that the dock state places
// and that is never shown on screen, nor is any window that the state makes float. A snapshot saved maximized or
// full screen is laid out at that size, up to kMaxStandInExtent pixels on each side (beyond the maximized window of
// any screen). `titles` gives the title of each dock that OBS has now, by object name; the others are marked
// missing. Nothing when the load would refuse the snapshot, when the stand-in refuses it, or when it places more
// than kMaxPictureDocks docks.
constexpr int kMaxStandInExtent = 16384;
std::optional<LayoutPictureGeometry> layoutPictureGeometry(const SnapshotData &data,
							   const QHash<QString, QString> &titles);

// The picture's size in logical pixels and where it draws the window, the preview and each dock (in the order of
// `geometry.docks`): at the snapshot's own proportions, at least kMinPictureWidth wide, and large enough that every
// dock's box is at least kMinPictureBox wide and high, but never beyond kMaxPictureExtent on either side, which wins
// over the other two. Neighbouring boxes keep a gap.
constexpr int kMinPictureWidth = 360;
constexpr int kMaxPictureExtent = 720;
constexpr QSize kMinPictureBox(24, 16);
struct LayoutPicturePlan {
	QSize size;
	QRectF window;
	QRectF preview;
	QList<QRectF> docks;
};
LayoutPicturePlan planLayoutPicture(const LayoutPictureGeometry &geometry);

// What the picture is drawn with: the theme's colours, the tool tip's font and the texts of its labels.
struct LayoutPictureStyle {
	QPalette palette;
	QFont font;
	QString previewText = QStringLiteral("Preview");
	// %1 is the dock's name.
	QString missingText = QStringLiteral("%1 (missing)");
	qreal devicePixelRatio = 1;
};

// The window with its preview and a filled, titled box per dock, floating docks with a dashed outline and a shadow,
// missing ones hatched; at the style's pixel ratio, taken from 1 to kMaxPictureRatio (1 when it is not finite).
constexpr qreal kMaxPictureRatio = 4;
QImage drawLayoutPicture(const LayoutPictureGeometry &geometry, const LayoutPictureStyle &style);
