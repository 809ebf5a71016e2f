#include "StateMutator.hpp"
#include "operations/WindowStateFormat.hpp"

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

extern "C" size_t LLVMFuzzerMutate(uint8_t *data, size_t size, size_t maxSize);

namespace {

using namespace windowstate;

// Bounds that keep the mutated blobs small; inputs beyond them are read as bytes.
constexpr int kMaxDepth = 8;
constexpr qint32 kMaxCount = 64;

struct DockItem;

struct DockInfo {
	bool tabbed = false;
	qint32 currentTab = -1;
	quint8 orientation = 1;
	// Added to the number of items written: a count that does not match the items.
	qint32 countSkew = 0;
	std::vector<DockItem> items;
};

struct DockItem {
	bool dock = true;
	QString name;
	quint8 flags = kVisible;
	// A floating dock: x, y, width, height; otherwise position, size, minimum and maximum along the sequence.
	qint32 values[4] = {0, 0, 0, 0};
	DockInfo sub;
};

struct DockArea {
	qint32 position = 3;
	qint32 width = 0;
	qint32 height = 0;
	DockInfo info;
};

struct ToolBarItem {
	QString name;
	quint8 shown = 1;
	qint32 position = 0;
	qint32 size = -1;
	quint32 geometry[2] = {0, 0};
};

struct ToolBarLine {
	qint32 position = 0;
	std::vector<ToolBarItem> items;
};

struct Record {
	quint8 marker = kDockAreasMarker;
	// Dock areas.
	qint32 areaSkew = 0;
	std::vector<DockArea> areas;
	qint32 central[2] = {0, 0};
	qint32 corners[4] = {4, 4, 8, 8};
	// A floating tab group: its rectangle (left, top, right, bottom) and its docks.
	qint32 rect[4] = {0, 0, 0, 0};
	DockInfo floating;
	// Tool bars.
	std::vector<ToolBarLine> lines;
};

struct State {
	qint32 marker = kVersionMarker;
	qint32 version = 0;
	std::vector<Record> records;
	// Whatever follows the last record that could be read.
	QByteArray tail;
};

struct Geometry {
	bool read = false;
	QByteArray raw;
	quint32 magic = kGeometryMagic;
	quint16 major = 3;
	quint16 minor = 0;
	qint32 frame[4] = {0, 0, 0, 0};
	qint32 normal[4] = {0, 0, 0, 0};
	qint32 screen = 0;
	quint8 maximized = 0;
	quint8 fullScreen = 0;
	qint32 screenWidth = 1920;
	qint32 geometry[4] = {0, 0, 0, 0};
	QByteArray tail;
};

struct Input {
	Geometry geometry;
	State state;
};

// Reading.

bool readInfo(QDataStream &in, DockInfo &info, int depth)
{
	quint8 marker = 0;
	in >> marker;
	if (depth > kMaxDepth || (marker != kTabMarker && marker != kSequenceMarker)) {
		return false;
	}
	info.tabbed = marker == kTabMarker;
	if (info.tabbed) {
		in >> info.currentTab;
	}
	qint32 count = 0;
	in >> info.orientation >> count;
	if (in.status() != QDataStream::Ok || count < 0 || count > kMaxCount) {
		return false;
	}
	for (qint32 i = 0; i < count; ++i) {
		DockItem item;
		quint8 itemMarker = 0;
		in >> itemMarker;
		if (itemMarker == kWidgetMarker) {
			in >> item.name >> item.flags;
			in >> item.values[0] >> item.values[1] >> item.values[2] >> item.values[3];
		} else if (itemMarker == kSequenceMarker) {
			item.dock = false;
			in >> item.values[0] >> item.values[1] >> item.values[2] >> item.values[3];
			if (!readInfo(in, item.sub, depth + 1)) {
				return false;
			}
		} else {
			return false;
		}
		if (in.status() != QDataStream::Ok) {
			return false;
		}
		info.items.push_back(std::move(item));
	}
	return true;
}

bool readRecord(QDataStream &in, quint8 marker, Record &record)
{
	record.marker = marker;
	if (marker == kDockAreasMarker) {
		qint32 count = 0;
		in >> count;
		if (in.status() != QDataStream::Ok || count < 0 || count > kMaxCount) {
			return false;
		}
		for (qint32 i = 0; i < count; ++i) {
			DockArea area;
			in >> area.position >> area.width >> area.height;
			if (!readInfo(in, area.info, 0)) {
				return false;
			}
			record.areas.push_back(std::move(area));
		}
		in >> record.central[0] >> record.central[1];
		for (qint32 &corner : record.corners) {
			in >> corner;
		}
	} else if (marker == kFloatingTabsMarker) {
		for (qint32 &value : record.rect) {
			in >> value;
		}
		if (!readInfo(in, record.floating, 0)) {
			return false;
		}
	} else if (marker == kToolBarMarker || marker == kToolBarMarkerEx) {
		qint32 lines = 0;
		in >> lines;
		if (in.status() != QDataStream::Ok || lines < 0 || lines > kMaxCount) {
			return false;
		}
		for (qint32 i = 0; i < lines; ++i) {
			ToolBarLine line;
			qint32 count = 0;
			in >> line.position >> count;
			if (in.status() != QDataStream::Ok || count < 0 || count > kMaxCount) {
				return false;
			}
			for (qint32 j = 0; j < count; ++j) {
				ToolBarItem item;
				in >> item.name >> item.shown >> item.position >> item.size >> item.geometry[0];
				if (marker == kToolBarMarkerEx) {
					in >> item.geometry[1];
				}
				line.items.push_back(std::move(item));
			}
			record.lines.push_back(std::move(line));
		}
	} else {
		return false;
	}
	return in.status() == QDataStream::Ok;
}

bool readState(const QByteArray &bytes, State &state)
{
	QDataStream in(bytes);
	in.setVersion(QDataStream::Qt_5_0);
	in >> state.marker >> state.version;
	if (in.status() != QDataStream::Ok) {
		return false;
	}
	while (!in.atEnd()) {
		const qint64 start = in.device()->pos();
		quint8 marker = 0;
		in >> marker;
		Record record;
		if (!readRecord(in, marker, record)) {
			state.tail = bytes.mid(start);
			break;
		}
		state.records.push_back(std::move(record));
	}
	return true;
}

void readGeometry(const QByteArray &bytes, Geometry &geometry)
{
	geometry.raw = bytes;
	QDataStream in(bytes);
	in.setVersion(QDataStream::Qt_4_0);
	in >> geometry.magic >> geometry.major >> geometry.minor;
	for (qint32 &value : geometry.frame) {
		in >> value;
	}
	for (qint32 &value : geometry.normal) {
		in >> value;
	}
	in >> geometry.screen >> geometry.maximized >> geometry.fullScreen;
	if (geometry.major > 1) {
		in >> geometry.screenWidth;
	}
	if (geometry.major > 2) {
		for (qint32 &value : geometry.geometry) {
			in >> value;
		}
	}
	geometry.read = in.status() == QDataStream::Ok;
	if (geometry.read) {
		geometry.tail = bytes.mid(in.device()->pos());
	}
}

bool readInput(const uint8_t *data, size_t size, Input &input)
{
	if (size < 1) {
		return false;
	}
	const size_t split = std::min<size_t>(data[0], size - 1);
	readGeometry(QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(split)), input.geometry);
	return readState(QByteArray(reinterpret_cast<const char *>(data + 1 + split), qsizetype(size - 1 - split)),
			 input.state);
}

// Writing.

void writeInfo(QDataStream &out, const DockInfo &info)
{
	out << (info.tabbed ? kTabMarker : kSequenceMarker);
	if (info.tabbed) {
		out << info.currentTab;
	}
	out << info.orientation << qint32(qint64(info.items.size()) + info.countSkew);
	for (const DockItem &item : info.items) {
		if (item.dock) {
			out << kWidgetMarker << item.name << item.flags;
		} else {
			out << kSequenceMarker;
		}
		out << item.values[0] << item.values[1] << item.values[2] << item.values[3];
		if (!item.dock) {
			writeInfo(out, item.sub);
		}
	}
}

QByteArray writeState(const State &state)
{
	QByteArray bytes;
	QDataStream out(&bytes, QIODevice::WriteOnly);
	out.setVersion(QDataStream::Qt_5_0);
	out << state.marker << state.version;
	for (const Record &record : state.records) {
		out << record.marker;
		if (record.marker == kDockAreasMarker) {
			out << qint32(qint64(record.areas.size()) + record.areaSkew);
			for (const DockArea &area : record.areas) {
				out << area.position << area.width << area.height;
				writeInfo(out, area.info);
			}
			out << record.central[0] << record.central[1];
			for (qint32 corner : record.corners) {
				out << corner;
			}
		} else if (record.marker == kFloatingTabsMarker) {
			for (qint32 value : record.rect) {
				out << value;
			}
			writeInfo(out, record.floating);
		} else {
			out << qint32(record.lines.size());
			for (const ToolBarLine &line : record.lines) {
				out << line.position << qint32(line.items.size());
				for (const ToolBarItem &item : line.items) {
					out << item.name << item.shown << item.position << item.size
					    << item.geometry[0];
					if (record.marker == kToolBarMarkerEx) {
						out << item.geometry[1];
					}
				}
			}
		}
	}
	bytes.append(state.tail);
	return bytes;
}

QByteArray writeGeometry(const Geometry &geometry)
{
	if (!geometry.read) {
		return geometry.raw;
	}
	QByteArray bytes;
	QDataStream out(&bytes, QIODevice::WriteOnly);
	out.setVersion(QDataStream::Qt_4_0);
	out << geometry.magic << geometry.major << geometry.minor;
	for (qint32 value : geometry.frame) {
		out << value;
	}
	for (qint32 value : geometry.normal) {
		out << value;
	}
	out << geometry.screen << geometry.maximized << geometry.fullScreen;
	if (geometry.major > 1) {
		out << geometry.screenWidth;
	}
	if (geometry.major > 2) {
		for (qint32 value : geometry.geometry) {
			out << value;
		}
	}
	bytes.append(geometry.tail);
	return bytes;
}

size_t writeInput(const Input &input, uint8_t *out, size_t maxSize)
{
	QByteArray geometry = writeGeometry(input.geometry);
	geometry.truncate(255);
	const QByteArray state = writeState(input.state);
	const size_t size = 1 + size_t(geometry.size()) + size_t(state.size());
	if (size > maxSize) {
		return 0;
	}
	out[0] = uint8_t(geometry.size());
	memcpy(out + 1, geometry.constData(), size_t(geometry.size()));
	memcpy(out + 1 + geometry.size(), state.constData(), size_t(state.size()));
	return size;
}

// Mutating.

class Mutator {
public:
	explicit Mutator(unsigned seed) : random(seed) {}

	unsigned below(unsigned n) { return n ? unsigned(random() % n) : 0; }
	bool oneIn(unsigned n) { return below(n) == 0; }

	void mutate(Input &input);
	void graft(Input &input, const Input &other);

private:
	struct Place {
		DockInfo *info;
		int depth;
	};

	qint32 number(qint32 current);
	QString name();
	QString mutatedBytes(const QString &text);
	DockItem newDock();
	DockInfo newGroup(bool tabbed);
	Record newRecord();

	void collect(DockInfo &info, int depth);
	void collect(State &state);
	void collectNumbers(DockInfo &info);

	void mutateState(State &state);
	void mutateItems(State &state);
	void mutateRecords(State &state);
	void mutateGeometry(Geometry &geometry);
	void mutateBytes(QByteArray &bytes, size_t room);

	std::minstd_rand random;
	std::vector<Place> places;
	std::vector<qint32 *> numbers;
	QStringList names;
};

qint32 Mutator::number(qint32 current)
{
	switch (below(12)) {
	case 0:
		return 0;
	case 1:
		return -1;
	case 2:
		return 1;
	case 3:
		return qint32(qint64(current) + qint64(below(65)) - 32);
	case 4:
		return std::numeric_limits<qint32>::max() - qint32(below(2));
	case 5:
		return std::numeric_limits<qint32>::min() + qint32(below(2));
	case 6:
		return qint32(qint64(current) * 2);
	case 7:
		return -qint32(below(3000));
	case 8:
		return qint32(quint32(1) << below(32));
	case 9:
		return qint32(current / 2);
	case 10:
		return qint32(below(100000));
	default:
		return qint32(below(3000));
	}
}

// OBS's core docks, names that no dock has, and names seen in the input.
QString Mutator::name()
{
	static const QStringList known = {QStringLiteral("scenesDock"),   QStringLiteral("sourcesDock"),
					  QStringLiteral("mixerDock"),    QStringLiteral("transitionsDock"),
					  QStringLiteral("controlsDock"), QStringLiteral("statsDock")};
	switch (below(8)) {
	case 0:
		return QString();
	case 1:
		return QStringLiteral("chatDock");
	case 2:
		return QStringLiteral("Browser \u00e9\u4e2d");
	case 3:
		return names.isEmpty() ? known.at(int(below(6))) : names.at(int(below(unsigned(names.size()))));
	default:
		return known.at(int(below(6)));
	}
}

QString Mutator::mutatedBytes(const QString &text)
{
	QByteArray bytes(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
	mutateBytes(bytes, 128);
	return QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2);
}

void Mutator::mutateBytes(QByteArray &bytes, size_t room)
{
	const size_t size = size_t(bytes.size());
	bytes.resize(qsizetype(std::max<size_t>(size + room, 8)));
	const size_t mutated = LLVMFuzzerMutate(reinterpret_cast<uint8_t *>(bytes.data()), size, size_t(bytes.size()));
	bytes.resize(qsizetype(mutated));
}

DockItem Mutator::newDock()
{
	DockItem item;
	item.name = name();
	item.flags = quint8(below(4));
	if (oneIn(16)) {
		item.flags = quint8(below(256));
	}
	if (item.flags & kFloating) {
		item.values[0] = qint32(below(2000));
		item.values[1] = qint32(below(1200));
		item.values[2] = qint32(50 + below(800));
		item.values[3] = qint32(50 + below(600));
	} else {
		item.values[0] = qint32(below(1000));
		item.values[1] = oneIn(4) ? -1 : qint32(below(600));
	}
	return item;
}

DockInfo Mutator::newGroup(bool tabbed)
{
	DockInfo info;
	info.tabbed = tabbed;
	info.orientation = quint8(1 + below(2));
	const unsigned count = 1 + below(3);
	for (unsigned i = 0; i < count; ++i) {
		info.items.push_back(newDock());
		info.items.back().flags &= quint8(~kFloating);
	}
	info.currentTab = tabbed ? qint32(below(count)) : -1;
	return info;
}

Record Mutator::newRecord()
{
	Record record;
	switch (below(3)) {
	case 0: {
		record.marker = kFloatingTabsMarker;
		const qint32 x = qint32(below(1500));
		const qint32 y = qint32(below(900));
		record.rect[0] = x;
		record.rect[1] = y;
		record.rect[2] = x + qint32(100 + below(600));
		record.rect[3] = y + qint32(100 + below(400));
		record.floating = newGroup(true);
		break;
	}
	case 1: {
		record.marker = oneIn(2) ? kToolBarMarkerEx : kToolBarMarker;
		ToolBarLine line;
		line.position = qint32(below(4));
		ToolBarItem item;
		item.name = oneIn(2) ? QStringLiteral("toolBar") : name();
		item.geometry[0] = quint32(random());
		item.geometry[1] = quint32(random());
		line.items.push_back(item);
		record.lines.push_back(line);
		break;
	}
	default: {
		record.marker = kDockAreasMarker;
		DockArea area;
		area.position = qint32(below(4));
		area.width = qint32(below(1200));
		area.height = qint32(below(800));
		area.info = newGroup(oneIn(3));
		record.areas.push_back(area);
		record.central[0] = qint32(below(1200));
		record.central[1] = qint32(below(800));
		break;
	}
	}
	return record;
}

void Mutator::collect(DockInfo &info, int depth)
{
	places.push_back({&info, depth});
	numbers.push_back(&info.currentTab);
	for (DockItem &item : info.items) {
		for (qint32 &value : item.values) {
			numbers.push_back(&value);
		}
		if (item.dock) {
			if (!item.name.isEmpty() && !names.contains(item.name)) {
				names.append(item.name);
			}
		} else {
			collect(item.sub, depth + 1);
		}
	}
}

void Mutator::collect(State &state)
{
	places.clear();
	numbers.clear();
	for (Record &record : state.records) {
		for (DockArea &area : record.areas) {
			numbers.push_back(&area.width);
			numbers.push_back(&area.height);
			collect(area.info, 0);
		}
		if (record.marker == kDockAreasMarker) {
			numbers.push_back(&record.central[0]);
			numbers.push_back(&record.central[1]);
		}
		if (record.marker == kFloatingTabsMarker) {
			for (qint32 &value : record.rect) {
				numbers.push_back(&value);
			}
			collect(record.floating, 0);
		}
		for (ToolBarLine &line : record.lines) {
			for (ToolBarItem &item : line.items) {
				numbers.push_back(&item.position);
				numbers.push_back(&item.size);
			}
		}
	}
}

// Changes within the dock areas' trees: docks and sequences added, removed, copied, moved, nested and unnested,
// their names, flags, sizes and tab groups.
void Mutator::mutateItems(State &state)
{
	if (places.empty()) {
		return;
	}
	Place place = places[below(unsigned(places.size()))];
	DockInfo &info = *place.info;
	std::vector<DockItem> &items = info.items;
	const unsigned count = unsigned(items.size());
	const unsigned at = below(count);
	switch (below(15)) {
	case 0: // a dock added
		items.insert(items.begin() + below(count + 1), newDock());
		break;
	case 1: // a nested sequence or tab group added
		if (place.depth < kMaxDepth - 1) {
			DockItem item;
			item.dock = false;
			item.values[1] = qint32(below(600));
			item.sub = newGroup(oneIn(2));
			items.insert(items.begin() + below(count + 1), std::move(item));
		}
		break;
	case 2: // an item removed
		if (count > 0) {
			items.erase(items.begin() + at);
		}
		break;
	case 3: { // an item copied elsewhere, with all it holds
		if (count > 0) {
			const DockItem copy = items[at];
			const Place target = places[below(unsigned(places.size()))];
			if (copy.dock || target.depth < kMaxDepth - 1) {
				std::vector<DockItem> &list = target.info->items;
				list.insert(list.begin() + below(unsigned(list.size()) + 1), copy);
			}
		}
		break;
	}
	case 4: { // an item moved into another sequence: it is out of the tree when the place is chosen
		if (count > 0) {
			DockItem moved = std::move(items[at]);
			items.erase(items.begin() + at);
			collect(state);
			std::vector<Place> targets;
			for (const Place &p : places) {
				if (moved.dock || p.depth < kMaxDepth - 1) {
					targets.push_back(p);
				}
			}
			if (targets.empty()) {
				break;
			}
			std::vector<DockItem> &list = targets[below(unsigned(targets.size()))].info->items;
			list.insert(list.begin() + below(unsigned(list.size()) + 1), std::move(moved));
		}
		break;
	}
	case 5: // two items swapped
		if (count > 1) {
			std::swap(items[at], items[below(count)]);
		}
		break;
	case 6: // an item wrapped into a sequence or a tab group of its own, with its neighbour
		if (count > 0 && place.depth < kMaxDepth - 1) {
			DockItem wrapper;
			wrapper.dock = false;
			wrapper.values[0] = items[at].values[0];
			wrapper.values[1] = items[at].values[1];
			wrapper.sub.tabbed = oneIn(2);
			wrapper.sub.orientation = quint8(1 + below(2));
			const unsigned taken = (at + 1 < count && oneIn(2)) ? 2 : 1;
			for (unsigned i = 0; i < taken; ++i) {
				wrapper.sub.items.push_back(std::move(items[at + i]));
			}
			wrapper.sub.currentTab = wrapper.sub.tabbed ? qint32(below(taken)) : -1;
			items.erase(items.begin() + at, items.begin() + at + taken);
			items.insert(items.begin() + at, std::move(wrapper));
		}
		break;
	case 7: // a sequence's items put in its place
		if (count > 0 && !items[at].dock) {
			std::vector<DockItem> inner = std::move(items[at].sub.items);
			items.erase(items.begin() + at);
			items.insert(items.begin() + at, std::make_move_iterator(inner.begin()),
				     std::make_move_iterator(inner.end()));
		}
		break;
	case 8: // a tab group becomes a sequence, or the other way round
		info.tabbed = !info.tabbed;
		info.currentTab = info.tabbed ? qint32(below(count + 1)) - qint32(oneIn(4)) : -1;
		break;
	case 9: // the orientation
		info.orientation = oneIn(4) ? quint8(below(256)) : quint8(1 + below(2));
		break;
	case 10: // a dock's name
		if (count > 0 && items[at].dock) {
			items[at].name = oneIn(4) ? mutatedBytes(items[at].name) : name();
		}
		break;
	case 11: // a dock shown or hidden, docked or floating
		if (count > 0 && items[at].dock) {
			if (oneIn(8)) {
				items[at].flags = quint8(below(256));
			} else {
				items[at].flags ^= oneIn(2) ? kVisible : kFloating;
			}
		}
		break;
	case 12: // a count that does not match, now and then
		info.countSkew = oneIn(4) ? qint32(below(3)) - 1 : 0;
		break;
	case 13: // the current tab
		info.currentTab = qint32(below(count + 2)) - 1;
		break;
	default: // a size or a place
		if (count > 0) {
			qint32 &value = items[at].values[below(4)];
			value = number(value);
		}
		break;
	}
}

// Changes to the records: dock areas added, removed, copied or moved to another side, the corners, the central
// widget's size, floating tab groups and tool bars added, records removed, copied or reordered.
void Mutator::mutateRecords(State &state)
{
	std::vector<Record> &records = state.records;
	std::vector<Record *> docked;
	for (Record &record : records) {
		if (record.marker == kDockAreasMarker) {
			docked.push_back(&record);
		}
	}
	Record *areas = docked.empty() ? nullptr : docked[below(unsigned(docked.size()))];
	const unsigned areaCount = areas ? unsigned(areas->areas.size()) : 0;
	switch (below(10)) {
	case 0: // a dock area moved to another side, now and then to one that does not exist
		if (areaCount > 0) {
			qint32 &position = areas->areas[below(areaCount)].position;
			position = oneIn(64) ? number(position) : qint32(below(4));
		}
		break;
	case 1: // a dock area added
		if (areas) {
			DockArea area;
			area.position = qint32(below(4));
			area.width = qint32(below(1200));
			area.height = qint32(below(800));
			area.info = newGroup(oneIn(4));
			areas->areas.insert(areas->areas.begin() + below(areaCount + 1), std::move(area));
		}
		break;
	case 2: // a dock area removed or copied
		if (areaCount > 0) {
			const unsigned at = below(areaCount);
			if (oneIn(2)) {
				areas->areas.erase(areas->areas.begin() + at);
			} else {
				const DockArea copy = areas->areas[at];
				areas->areas.insert(areas->areas.begin() + below(areaCount + 1), copy);
			}
		}
		break;
	case 3: // two dock areas swap their sides
		if (areaCount > 1) {
			std::swap(areas->areas[below(areaCount)].position, areas->areas[below(areaCount)].position);
		}
		break;
	case 4: // which dock area owns a corner
		if (areas) {
			static const qint32 sides[] = {1, 2, 4, 8};
			qint32 &corner = areas->corners[below(4)];
			corner = oneIn(8) ? number(corner) : sides[below(4)];
		}
		break;
	case 5: // a count of areas that does not match, now and then
		if (areas) {
			areas->areaSkew = oneIn(4) ? qint32(below(3)) - 1 : 0;
		}
		break;
	case 6: // a record added
		records.insert(records.begin() + below(unsigned(records.size()) + 1), newRecord());
		break;
	case 7: // a record removed
		if (!records.empty()) {
			records.erase(records.begin() + below(unsigned(records.size())));
		}
		break;
	case 8: // a record copied
		if (!records.empty() && records.size() < 6) {
			const Record copy = records[below(unsigned(records.size()))];
			records.insert(records.begin() + below(unsigned(records.size()) + 1), copy);
		}
		break;
	default: // the sizes of a whole area or of the central widget
		if (areas) {
			qint32 *fields[] = {&areas->central[0], &areas->central[1], nullptr, nullptr};
			if (areaCount > 0) {
				DockArea &area = areas->areas[below(areaCount)];
				fields[2] = &area.width;
				fields[3] = &area.height;
			}
			qint32 *field = fields[below(areaCount > 0 ? 4 : 2)];
			*field = number(*field);
		}
		break;
	}
}

void Mutator::mutateState(State &state)
{
	collect(state);
	const unsigned choice = below(100);
	if (choice < 55) {
		mutateItems(state);
	} else if (choice < 75) {
		if (!numbers.empty()) {
			qint32 *value = numbers[below(unsigned(numbers.size()))];
			*value = number(*value);
		}
	} else if (choice < 93) {
		mutateRecords(state);
	} else if (choice < 95) {
		// What follows the records: mostly dropped, so that the state can be taken again.
		if (state.tail.isEmpty() || oneIn(4)) {
			mutateBytes(state.tail, 32);
		} else {
			state.tail.clear();
		}
	} else if (choice < 97) {
		state.version = oneIn(2) ? 0 : number(state.version);
	} else if (choice < 98) {
		state.marker = oneIn(2) ? kVersionMarker : number(state.marker);
	} else if (!state.records.empty()) {
		// A tool bar's name or a whole record's marker.
		Record &record = state.records[below(unsigned(state.records.size()))];
		if (!record.lines.empty() && !record.lines.front().items.empty()) {
			record.lines.front().items.front().name = name();
		} else if (record.marker == kToolBarMarker || record.marker == kToolBarMarkerEx) {
			record.marker = record.marker == kToolBarMarker ? kToolBarMarkerEx : kToolBarMarker;
		}
	}
}

void Mutator::mutateGeometry(Geometry &geometry)
{
	if (!geometry.read) {
		// Bytes that are not a geometry: mostly replaced by one, so that the window takes it again.
		if (oneIn(4)) {
			mutateBytes(geometry.raw, 16);
			readGeometry(geometry.raw, geometry);
		} else {
			geometry = Geometry();
			geometry.read = true;
			const qint32 frame[4] = {100, 100, 1099, 799};
			std::copy(std::begin(frame), std::end(frame), geometry.frame);
			std::copy(std::begin(frame), std::end(frame), geometry.normal);
			std::copy(std::begin(frame), std::end(frame), geometry.geometry);
		}
		return;
	}
	switch (below(10)) {
	case 0:
		geometry.screen = oneIn(2) ? qint32(below(3)) - 1 : number(geometry.screen);
		break;
	case 1:
		geometry.maximized = oneIn(4) ? quint8(below(256)) : quint8(!geometry.maximized);
		break;
	case 2:
		geometry.fullScreen = oneIn(4) ? quint8(below(256)) : quint8(!geometry.fullScreen);
		break;
	case 3:
		geometry.major = quint16(oneIn(8) ? below(65536) : 1 + below(3));
		if (oneIn(4)) {
			geometry.minor = quint16(below(65536));
		}
		break;
	case 4:
		geometry.screenWidth = number(geometry.screenWidth);
		break;
	case 5:
		if (oneIn(2)) {
			geometry.tail.clear();
		} else {
			mutateBytes(geometry.tail, 16);
		}
		break;
	case 6: // a rectangle copied from another
		std::copy(std::begin(geometry.frame), std::end(geometry.frame),
			  oneIn(2) ? geometry.normal : geometry.geometry);
		break;
	default: {
		qint32 *rects[] = {geometry.frame, geometry.normal, geometry.geometry};
		qint32 &value = rects[below(3)][below(4)];
		value = number(value);
		break;
	}
	}
}

void Mutator::mutate(Input &input)
{
	// Most inputs that Qt refuses are mended first: an earlier count that lied leaves unread bytes behind the
	// records, and a wrong marker or version refuses the whole state.
	State &state = input.state;
	if (!state.tail.isEmpty() && !oneIn(4)) {
		state.tail.clear();
	}
	if ((state.marker != kVersionMarker || state.version != 0) && !oneIn(4)) {
		state.marker = kVersionMarker;
		state.version = 0;
	}
	if (input.geometry.read && (input.geometry.magic != kGeometryMagic || input.geometry.major > 3) && !oneIn(4)) {
		input.geometry.magic = kGeometryMagic;
		input.geometry.major = quint16(1 + below(3));
	}
	const unsigned steps = 1 + below(3);
	for (unsigned i = 0; i < steps; ++i) {
		if (!input.geometry.read || oneIn(5)) {
			mutateGeometry(input.geometry);
		} else {
			mutateState(input.state);
		}
	}
}

void Mutator::graft(Input &input, const Input &other)
{
	switch (below(4)) {
	case 0:
		input.geometry = other.geometry;
		break;
	case 1: { // a dock or a sequence of the other input
		collect(const_cast<State &>(other.state));
		std::vector<const DockItem *> theirs;
		for (const Place &place : places) {
			for (const DockItem &item : place.info->items) {
				theirs.push_back(&item);
			}
		}
		if (theirs.empty()) {
			break;
		}
		const DockItem copy = *theirs[below(unsigned(theirs.size()))];
		collect(input.state);
		if (!places.empty()) {
			std::vector<DockItem> &list = places[below(unsigned(places.size()))].info->items;
			list.insert(list.begin() + below(unsigned(list.size()) + 1), copy);
		}
		break;
	}
	case 2: { // a dock area of the other input, in place of one of ours or beside them
		const Record *theirs = nullptr;
		for (const Record &record : other.state.records) {
			if (record.marker == kDockAreasMarker && !record.areas.empty()) {
				theirs = &record;
			}
		}
		if (!theirs) {
			break;
		}
		const DockArea &area = theirs->areas[below(unsigned(theirs->areas.size()))];
		for (Record &record : input.state.records) {
			if (record.marker == kDockAreasMarker) {
				auto same =
					std::find_if(record.areas.begin(), record.areas.end(),
						     [&](const DockArea &a) { return a.position == area.position; });
				if (same != record.areas.end() && !oneIn(4)) {
					*same = area;
				} else {
					record.areas.push_back(area);
				}
				break;
			}
		}
		break;
	}
	default: // a record of the other input
		if (!other.state.records.empty() && input.state.records.size() < 6) {
			const Record &record = other.state.records[below(unsigned(other.state.records.size()))];
			input.state.records.insert(
				input.state.records.begin() + below(unsigned(input.state.records.size()) + 1), record);
		}
		break;
	}
}

} // namespace

size_t mutateRestoreInput(uint8_t *data, size_t size, size_t maxSize, unsigned seed)
{
	Input original;
	if (!readInput(data, size, original)) {
		return LLVMFuzzerMutate(data, size, maxSize);
	}
	Mutator mutator(seed);
	// Now and then bytes anywhere, for what the structure does not reach.
	if (mutator.oneIn(32)) {
		return LLVMFuzzerMutate(data, size, maxSize);
	}
	std::vector<uint8_t> out(maxSize);
	for (int attempt = 0; attempt < 8; ++attempt) {
		Input input = original;
		mutator.mutate(input);
		const size_t written = writeInput(input, out.data(), maxSize);
		if (written > 0) {
			memcpy(data, out.data(), written);
			return written;
		}
	}
	// Too long to fit: smaller with libFuzzer's own mutations.
	return LLVMFuzzerMutate(data, size, maxSize);
}

size_t crossOverRestoreInputs(const uint8_t *data1, size_t size1, const uint8_t *data2, size_t size2, uint8_t *out,
			      size_t maxOutSize, unsigned seed)
{
	Input first;
	Input second;
	if (!readInput(data1, size1, first) || !readInput(data2, size2, second)) {
		return 0;
	}
	Mutator mutator(seed);
	mutator.graft(first, second);
	return writeInput(first, out, maxOutSize);
}
