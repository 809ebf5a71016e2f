// Checks of a snapshot's blobs that come before Qt sees them: Qt trusts some of what they say and crashes, or
// overflows, on values that no window of ours has ever saved.
#include "operations/LayoutCheck.hpp"
#include "operations/WindowStateFormat.hpp"

#include <QDataStream>
#include <QtEndian>
#include <QHash>
#include <QRect>
#include <QSize>
#include <QWidget>

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

// What a walk of the records collects: the names of the docks, and the rectangles of the floating ones.
struct StateDocks {
	QStringList *names = nullptr;
	QHash<QString, QRect> *floating = nullptr;
};

// False when Qt would not get past this sequence either, or when it nests too deep (then *tooDeep). The names of
// its docks, and the rectangles of its floating docks, go to `found`.
bool walkSequence(QDataStream &stream, int depth, bool *tooDeep, const StateDocks &found)
{
	if (depth > kDeepestNesting) {
		*tooDeep = true;
		return false;
	}
	quint8 marker = 0;
	stream >> marker;
	if (marker != kTabMarker && marker != kSequenceMarker) {
		return false;
	}
	qint32 currentTab = 0;
	if (marker == kTabMarker) {
		stream >> currentTab;
	}
	quint8 orientation = 0;
	qint32 count = 0;
	stream >> orientation >> count;
	for (qint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
		quint8 itemMarker = 0;
		stream >> itemMarker;
		qint32 values[4];
		if (itemMarker == kWidgetMarker) {
			QString name;
			quint8 flags = 0;
			stream >> name >> flags >> values[0] >> values[1] >> values[2] >> values[3];
			if (found.names) {
				found.names->append(name);
			}
			// A floating dock's x, y, width and height; a docked one's place and size in its row.
			if (found.floating && (flags & kFloating) && !found.floating->contains(name)) {
				found.floating->insert(name, QRect(values[0], values[1], values[2], values[3]));
			}
		} else if (itemMarker == kSequenceMarker) {
			stream >> values[0] >> values[1] >> values[2] >> values[3];
			if (!walkSequence(stream, depth + 1, tooDeep, found)) {
				return false;
			}
		} else {
			return false;
		}
	}
	return stream.status() == QDataStream::Ok;
}

// Whether Qt may be given the state; the names of the docks in its dock areas and floating tab groups, and the
// rectangles of the docks in its dock areas that float, go to `found` (those of a state that Qt would refuse may be
// incomplete).
bool safeDockState(const QByteArray &state, const StateDocks &found = {})
{
	QDataStream stream(state);
	stream.setVersion(QDataStream::Qt_5_0);
	qint32 versionMarker = 0;
	qint32 version = 0;
	stream >> versionMarker >> version;
	bool tooDeep = false;
	while (stream.status() == QDataStream::Ok && !stream.atEnd()) {
		quint8 marker = 0;
		stream >> marker;
		if (marker == kDockAreasMarker) {
			qint32 count = 0;
			stream >> count;
			for (qint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
				qint32 side = 0;
				QSize size;
				stream >> side >> size;
				if (stream.status() == QDataStream::Ok && (side < 0 || side > 3)) {
					return false;
				}
				if (!walkSequence(stream, 0, &tooDeep, found)) {
					return !tooDeep;
				}
			}
			QSize central;
			qint32 corners[4];
			stream >> central >> corners[0] >> corners[1] >> corners[2] >> corners[3];
		} else if (marker == kFloatingTabsMarker) {
			QRect rect;
			stream >> rect;
			// The docks of a floating tab group lie in the group's window, not in windows of their own.
			if (!walkSequence(stream, 0, &tooDeep, {found.names, nullptr})) {
				return !tooDeep;
			}
		} else if (marker == kToolBarMarker || marker == kToolBarMarkerEx) {
			// Qt checks the sides of tool bars itself; the records that follow are walked all the same.
			qint32 lines = 0;
			stream >> lines;
			for (qint32 i = 0; i < lines && stream.status() == QDataStream::Ok; ++i) {
				qint32 side = 0;
				qint32 count = 0;
				stream >> side >> count;
				if (side < 0 || side > 3) {
					return true;
				}
				for (qint32 j = 0; j < count && stream.status() == QDataStream::Ok; ++j) {
					QString name;
					quint8 shown = 0;
					qint32 position = 0;
					qint32 size = 0;
					quint32 geometry[2];
					stream >> name >> shown >> position >> size >> geometry[0];
					if (marker == kToolBarMarkerEx) {
						stream >> geometry[1];
					}
				}
			}
		} else {
			return true;
		}
	}
	return true;
}

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

bool safeToRestore(const QByteArray &geometry, const QByteArray &state)
{
	return plausibleGeometry(geometry) && safeDockState(state);
}

QStringList stateDockNames(const QByteArray &state)
{
	QStringList names;
	safeDockState(state, {&names, nullptr});
	names.removeDuplicates();
	return names;
}

QHash<QString, QRect> stateFloatingRects(const QByteArray &state)
{
	QHash<QString, QRect> floating;
	safeDockState(state, {nullptr, &floating});
	return floating;
}

std::optional<SavedWindowGeometry> savedWindowGeometry(const QByteArray &geometry)
{
	SavedWindowGeometry saved;
	if (!readGeometry(geometry, saved)) {
		return std::nullopt;
	}
	return saved;
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
