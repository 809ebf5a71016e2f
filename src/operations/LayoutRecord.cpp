// A saved layout read once. The checks come before Qt sees the blobs: Qt trusts some of what they say and crashes,
// or overflows, on values that no window of ours has ever saved.
#include "operations/LayoutRecord.hpp"
#include "operations/WindowStateFormat.hpp"

#include <QDataStream>
#include <QtEndian>
#include <QHash>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <optional>

namespace {

using namespace windowstate;

// Reads what QWidget::saveGeometry writes. False when the stream runs short or has another magic number.
bool readGeometry(const QByteArray &geometry, SavedWindowGeometry &saved)
{
	QDataStream stream(geometry);
	stream.setVersion(QDataStream::Qt_4_0);
	quint32 magic = 0;
	quint16 major = 0;
	quint16 minor = 0;
	qint32 screen = 0;
	quint8 maximized = 0;
	quint8 fullScreen = 0;
	qint32 screenWidth = 0;
	stream >> magic >> major >> minor >> saved.frame >> saved.normal >> screen >> maximized >> fullScreen;
	if (major > 1) {
		stream >> screenWidth;
	}
	if (major > 2) {
		stream >> saved.client;
	}
	saved.maximized = maximized != 0;
	saved.fullScreen = fullScreen != 0;
	return magic == kGeometryMagic && stream.status() == QDataStream::Ok;
}

// Whether the rectangles of a saved geometry have coordinates within QWIDGETSIZE_MAX. Qt takes a geometry whose
// corners lie billions of pixels apart, and every width or height it then works out of it overflows.
bool plausibleGeometry(const QByteArray &geometry)
{
	// Qt refuses another magic number, and too few bytes for one, before it reads anything else.
	if (geometry.size() < 4 || qFromBigEndian<quint32>(geometry.constData()) != kGeometryMagic) {
		return true;
	}
	SavedWindowGeometry saved;
	readGeometry(geometry, saved);
	const auto plausible = [](const QRect &rect) {
		const auto coordinate = [](int value) { return value >= -QWIDGETSIZE_MAX && value <= QWIDGETSIZE_MAX; };
		return coordinate(rect.left()) && coordinate(rect.top()) && coordinate(rect.right()) &&
		       coordinate(rect.bottom());
	};
	// What Qt refuses by itself after the magic number (a later version, too few bytes) is left to it.
	return plausible(saved.frame) && plausible(saved.normal) && plausible(saved.client);
}

// Qt reads a dock area's side from a saved state as an index into its four areas without checking it: a side
// other than 0 to 3 makes it write outside them and crash, already while it only tests the state. The records are
// walked as Qt reads them, and a state is refused when a side is out of range or sequences nest deeper than any
// arrangement does (Qt reads them by recursion). Whatever Qt refuses by itself is left to it.
constexpr int kDeepestNesting = 64;

// Walks a saved dock state into a record, as Qt reads it.
class StateWalk {
public:
	StateWalk(const QByteArray &state, LayoutRecord &record)
		: stream(state), record(record), places(&record.places, QIODevice::WriteOnly)
	{
		stream.setVersion(QDataStream::Qt_5_0);
		places.setVersion(QDataStream::Qt_5_0);
	}

	// Whether Qt may be given the state.
	bool walk()
	{
		qint32 versionMarker = 0;
		qint32 version = 0;
		stream >> versionMarker >> version;
		places << versionMarker << version;
		while (stream.status() == QDataStream::Ok && !stream.atEnd()) {
			quint8 marker = 0;
			stream >> marker;
			places << marker;
			if (marker == kDockAreasMarker) {
				if (const std::optional<bool> stop = dockAreas()) {
					return *stop;
				}
			} else if (marker == kFloatingTabsMarker) {
				QRect rect;
				stream >> rect;
				// The docks of a floating tab group lie in the group's window, not in windows of their own.
				if (!sequence(-1, 0, nullptr)) {
					return !harmful;
				}
			} else if (marker == kToolBarMarker || marker == kToolBarMarkerEx) {
				toolBars(marker);
			} else {
				return true;
			}
		}
		return true;
	}

private:
	// Nothing while the walk goes on; whether Qt may be given the state when it ends here.
	std::optional<bool> dockAreas()
	{
		qint32 count = 0;
		stream >> count;
		places << count;
		for (qint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
			qint32 side = 0;
			QSize size;
			stream >> side >> size;
			if (stream.status() == QDataStream::Ok && (side < 0 || side > 3)) {
				return false;
			}
			places << side;
			// Across the window: the width of a side dock area, the height of one at the top or bottom.
			DockAreaSize area{side, side == 0 || side == 1 ? size.width() : size.height(), false};
			const qsizetype before = record.docks.size();
			if (!sequence(side, 0, nullptr)) {
				return !harmful;
			}
			for (qsizetype d = before; d < record.docks.size(); ++d) {
				area.holdsDocks = area.holdsDocks || (!record.docks[d].floating && record.docks[d].shown);
			}
			record.areaSizes.append(area);
		}
		QSize central;
		qint32 corners[4];
		stream >> central >> corners[0] >> corners[1] >> corners[2] >> corners[3];
		places << corners[0] << corners[1] << corners[2] << corners[3];
		return std::nullopt;
	}

	// Qt checks the sides of tool bars itself; the records that follow are walked all the same, and count as places.
	void toolBars(quint8 marker)
	{
		qint32 lines = 0;
		stream >> lines;
		places << lines;
		for (qint32 i = 0; i < lines && stream.status() == QDataStream::Ok; ++i) {
			qint32 side = 0;
			qint32 count = 0;
			stream >> side >> count;
			places << side << count;
			if (side < 0 || side > 3) {
				return;
			}
			for (qint32 j = 0; j < count && stream.status() == QDataStream::Ok; ++j) {
				QString name;
				quint8 shown = 0;
				qint32 position = 0;
				qint32 size = 0;
				quint32 geometry[2] = {0, 0};
				stream >> name >> shown >> position >> size >> geometry[0];
				if (marker == kToolBarMarkerEx) {
					stream >> geometry[1];
				}
				places << name << shown << position << size << geometry[0] << geometry[1];
			}
		}
	}

	// A sequence of items side by side, or a tab group, in the dock area `side` (-1: a floating tab group). False
	// when Qt would not get past it either, or when it would harm Qt (then harmful): it nests too deep, or a floating
	// dock's rectangle overflows. The names of the docks within it are added to `below` when given, its own before
	// those nested deeper.
	bool sequence(int side, int depth, QStringList *below)
	{
		if (depth > kDeepestNesting) {
			harmful = true;
			return false;
		}
		quint8 marker = 0;
		stream >> marker;
		if (marker != kTabMarker && marker != kSequenceMarker) {
			return false;
		}
		const bool tabbed = marker == kTabMarker;
		qint32 currentTab = 0;
		if (tabbed) {
			stream >> currentTab;
		}
		quint8 orientation = 0;
		qint32 count = 0;
		stream >> orientation >> count;
		places << marker << currentTab << orientation << count;
		const Qt::Orientation along = orientation == Qt::Vertical ? Qt::Vertical : Qt::Horizontal;
		// The items of this sequence, then those within them: an item's size goes before theirs.
		QList<DockItemSize> own;
		QList<DockItemSize> within;
		QStringList docks;
		QStringList deeper;
		for (qint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
			quint8 itemMarker = 0;
			stream >> itemMarker;
			places << itemMarker;
			qint32 values[4];
			DockItemSize item{side, along, 0, {}};
			bool floating = false;
			if (itemMarker == kWidgetMarker) {
				QString name;
				quint8 flags = 0;
				stream >> name >> flags >> values[0] >> values[1] >> values[2] >> values[3];
				places << name << flags;
				floating = (flags & kFloating) != 0;
				DockPlace place{name, side, floating && side >= 0, (flags & kVisible) != 0, {}};
				// A floating dock's x, y, width and height; a docked one's place and size in its row.
				if (place.floating) {
					// Qt makes the same rectangle of them: its right or bottom edge must be an int too.
					const auto edge = [](qint32 from, qint32 size) { return qint64(from) + size - 1; };
					if (edge(values[0], values[2]) != qint32(edge(values[0], values[2])) ||
					    edge(values[1], values[3]) != qint32(edge(values[1], values[3]))) {
						harmful = true;
						return false;
					}
					place.rect = QRect(values[0], values[1], values[2], values[3]);
				}
				record.docks.append(place);
				item.size = values[1];
				item.docks.append(name);
			} else if (itemMarker == kSequenceMarker) {
				stream >> values[0] >> values[1] >> values[2] >> values[3];
				item.size = values[1];
				const qsizetype before = record.itemSizes.size();
				if (!sequence(side, depth + 1, &item.docks)) {
					return false;
				}
				// What the nested sequence recorded goes after this sequence's own items.
				within.append(record.itemSizes.mid(before));
				record.itemSizes.remove(before, record.itemSizes.size() - before);
			} else {
				return false;
			}
			(itemMarker == kWidgetMarker ? docks : deeper).append(item.docks);
			if (side >= 0 && !tabbed && !floating && item.size > 0) {
				own.append(item);
			}
		}
		if (below) {
			below->append(docks + deeper);
		}
		record.itemSizes.append(own);
		record.itemSizes.append(within);
		return stream.status() == QDataStream::Ok;
	}

	QDataStream stream;
	LayoutRecord &record;
	QDataStream places;
	bool harmful = false;
};

} // namespace

LayoutRefusal stateRefusal(const QByteArray &state)
{
	QDataStream stream(state);
	stream.setVersion(QDataStream::Qt_5_0);
	qint32 versionMarker = 0;
	qint32 version = 0;
	stream >> versionMarker >> version;
	if (stream.status() != QDataStream::Ok || versionMarker != kVersionMarker || version == 0) {
		return LayoutRefusal::State;
	}
	// Another version is only named as the reason when what follows begins as a saved state does.
	quint8 marker = 0;
	stream >> marker;
	const bool records = stream.status() != QDataStream::Ok || marker == kDockAreasMarker ||
			     marker == kFloatingTabsMarker || marker == kToolBarMarker || marker == kToolBarMarkerEx;
	return records ? LayoutRefusal::StateVersion : LayoutRefusal::State;
}

LayoutRecord readLayout(const QByteArray &geometry, const QByteArray &state)
{
	LayoutRecord record;
	SavedWindowGeometry saved;
	if (readGeometry(geometry, saved)) {
		record.window = saved;
	}
	StateWalk walk(state, record);
	record.safe = walk.walk() && plausibleGeometry(geometry);
	return record;
}

QSize SavedWindowGeometry::windowSize() const
{
	// A damaged geometry may hold edges whose distance is no int: no size then.
	const QRect &rect = client.isValid() ? client : normal;
	const qint64 width = qint64(rect.right()) - rect.left() + 1;
	const qint64 height = qint64(rect.bottom()) - rect.top() + 1;
	if (width <= 0 || height <= 0 || width > QWIDGETSIZE_MAX || height > QWIDGETSIZE_MAX) {
		return QSize();
	}
	return QSize(int(width), int(height));
}

QStringList LayoutRecord::names() const
{
	QStringList all;
	for (const DockPlace &dock : docks) {
		all.append(dock.name);
	}
	all.removeDuplicates();
	return all;
}

QHash<QString, QRect> LayoutRecord::floatingRects() const
{
	QHash<QString, QRect> floating;
	for (const DockPlace &dock : docks) {
		if (dock.floating && !floating.contains(dock.name)) {
			floating.insert(dock.name, dock.rect);
		}
	}
	return floating;
}

bool safeToRestore(const QByteArray &geometry, const QByteArray &state)
{
	return readLayout(geometry, state).safe;
}

std::optional<SavedWindowGeometry> savedWindowGeometry(const QByteArray &geometry)
{
	return readLayout(geometry, {}).window;
}

const char *refusalKey(LayoutRefusal refusal)
{
	switch (refusal) {
	case LayoutRefusal::Empty:
		return "RefusedEmpty";
	case LayoutRefusal::OutOfRange:
		return "RefusedOutOfRange";
	case LayoutRefusal::Geometry:
		return "RefusedGeometry";
	case LayoutRefusal::NoScreen:
		return "RefusedNoScreen";
	case LayoutRefusal::StateVersion:
		return "RefusedStateVersion";
	case LayoutRefusal::State:
	case LayoutRefusal::None:
		break;
	}
	return "RefusedState";
}
