#pragma once

#include "store/SnapshotDocument.hpp"

#include <QHash>
#include <QImage>
#include <QList>
#include <QRect>
#include <QString>

#include <optional>

// Where a snapshot puts the main window and its shown docks, with the window at 0,0: docked docks inside it,
// floating ones where they float relative to it.
struct LayoutPictureBox {
	QString title;
	QRect rect;
	bool floating = false;
};

struct LayoutPictureGeometry {
	QRect window;
	QList<LayoutPictureBox> docks;
};

// Restores the snapshot onto a stand-in main window of the saved size that holds docks of the same object names
// and never shows on screen. `titles` gives each dock's title by object name, as OBS shows it. Nothing when the
// stand-in refuses the snapshot.
std::optional<LayoutPictureGeometry> layoutPictureGeometry(const SnapshotData &data,
							   const QHash<QString, QString> &titles);

// The window's outline and a labelled box per dock, about `width` pixels wide.
QImage drawLayoutPicture(const LayoutPictureGeometry &geometry, int width = 240);
