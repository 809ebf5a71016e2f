#include "monitors/MonitorSets.hpp"
#include "store/SnapshotNames.hpp"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>

#include <algorithm>
#include <tuple>

namespace {

const QString kFollowMonitors = QStringLiteral("followMonitors");
const QString kMonitorLayouts = QStringLiteral("monitorLayouts");
const QString kScreens = QStringLiteral("screens");
const QString kSnapshot = QStringLiteral("snapshot");
const QString kName = QStringLiteral("name");
const QString kManufacturer = QStringLiteral("manufacturer");
const QString kModel = QStringLiteral("model");
const QString kSerial = QStringLiteral("serial");
const QString kX = QStringLiteral("x");
const QString kY = QStringLiteral("y");
const QString kWidth = QStringLiteral("width");
const QString kHeight = QStringLiteral("height");
// A screen's side in pixels beyond anything real: such an entry is refused.
constexpr int kMaxScreenSide = 1 << 20;

// Where the span [bStart, bEnd) lies from [aStart, aEnd): wholly before it, wholly after it, or overlapping.
int sideOf(int aStart, int aEnd, int bStart, int bEnd)
{
	if (bEnd <= aStart) {
		return -1;
	}
	if (bStart >= aEnd) {
		return 1;
	}
	return 0;
}

} // namespace

QString monitorIdentity(const MonitorScreen &screen)
{
	if (screen.manufacturer.isEmpty() && screen.model.isEmpty() && screen.serial.isEmpty()) {
		return screen.name;
	}
	// A connector's name never holds a line feed: the two kinds never meet.
	return screen.manufacturer + QLatin1Char('\n') + screen.model + QLatin1Char('\n') + screen.serial;
}

MonitorKey monitorKey(const MonitorSet &set)
{
	// What each monitor is orders them; two that say the same go by their place.
	QList<std::pair<QString, QRect>> monitors;
	for (const MonitorScreen &screen : set) {
		monitors.append({monitorIdentity(screen), screen.geometry});
	}
	std::sort(monitors.begin(), monitors.end(), [](const auto &a, const auto &b) {
		return std::make_tuple(a.first, a.second.x(), a.second.y()) <
		       std::make_tuple(b.first, b.second.x(), b.second.y());
	});
	MonitorKey key;
	for (qsizetype i = 0; i < monitors.size(); ++i) {
		key.identities.append(monitors.at(i).first);
		const QRect &a = monitors.at(i).second;
		for (qsizetype j = i + 1; j < monitors.size(); ++j) {
			const QRect &b = monitors.at(j).second;
			key.sides.append(sideOf(a.x(), a.x() + a.width(), b.x(), b.x() + b.width()));
			key.sides.append(sideOf(a.y(), a.y() + a.height(), b.y(), b.y() + b.height()));
		}
	}
	return key;
}

MonitorSet currentMonitors()
{
	MonitorSet set;
	for (const QScreen *screen : QGuiApplication::screens()) {
		set.append(MonitorScreen{screen->name(), screen->manufacturer(), screen->model(),
					 screen->serialNumber(), screen->geometry()});
	}
	return set;
}

qsizetype indexOfMonitors(const QList<MonitorLayout> &layouts, const MonitorKey &key)
{
	for (qsizetype i = 0; i < layouts.size(); ++i) {
		if (monitorKey(layouts.at(i).screens) == key) {
			return i;
		}
	}
	return -1;
}

QJsonArray monitorSetToJson(const MonitorSet &set)
{
	QJsonArray screens;
	for (const MonitorScreen &screen : set) {
		screens.append(QJsonObject{{kName, screen.name},
					   {kManufacturer, screen.manufacturer},
					   {kModel, screen.model},
					   {kSerial, screen.serial},
					   {kX, screen.geometry.x()},
					   {kY, screen.geometry.y()},
					   {kWidth, screen.geometry.width()},
					   {kHeight, screen.geometry.height()}});
	}
	return screens;
}

std::optional<MonitorSet> monitorSetFromJson(const QJsonArray &screens)
{
	MonitorSet set;
	for (const QJsonValue &entry : screens) {
		const QJsonObject screen = entry.toObject();
		const QJsonValue name = screen.value(kName);
		const auto side = [&screen](const QString &key, int low) {
			const double number = screen.value(key).toDouble(-1.0 * kMaxScreenSide - 1);
			return number >= low && number <= kMaxScreenSide && number == int(number);
		};
		if (!name.isString() || !side(kX, -kMaxScreenSide) || !side(kY, -kMaxScreenSide) || !side(kWidth, 1) ||
		    !side(kHeight, 1)) {
			return std::nullopt;
		}
		set.append(MonitorScreen{name.toString(), screen.value(kManufacturer).toString(),
					 screen.value(kModel).toString(), screen.value(kSerial).toString(),
					 QRect(screen.value(kX).toInt(), screen.value(kY).toInt(),
					       screen.value(kWidth).toInt(), screen.value(kHeight).toInt())});
	}
	if (set.isEmpty()) {
		return std::nullopt;
	}
	return set;
}

QJsonArray monitorLayoutsToJson(const QList<MonitorLayout> &layouts)
{
	QJsonArray list;
	for (const MonitorLayout &layout : layouts) {
		list.append(QJsonObject{{kScreens, monitorSetToJson(layout.screens)}, {kSnapshot, layout.snapshot}});
	}
	return list;
}

QList<MonitorLayout> monitorLayoutsFromJson(const QJsonArray &list)
{
	// From the most recently used backwards: a set's last entry counts, and the newest kMaxMonitorLayouts stay.
	QList<MonitorLayout> layouts;
	QList<MonitorKey> keys;
	for (qsizetype i = list.size() - 1; i >= 0 && layouts.size() < kMaxMonitorLayouts; --i) {
		const QJsonObject object = list.at(i).toObject();
		MonitorLayout layout;
		layout.snapshot = object.value(kSnapshot).toString();
		if (!isPlainFileName(layout.snapshot)) {
			continue;
		}
		const std::optional<MonitorSet> screens = monitorSetFromJson(object.value(kScreens).toArray());
		if (!screens) {
			continue;
		}
		layout.screens = *screens;
		const MonitorKey key = monitorKey(layout.screens);
		if (keys.contains(key)) {
			continue;
		}
		keys.append(key);
		layouts.prepend(layout);
	}
	return layouts;
}

std::optional<MonitorSettings> parseMonitorSettings(const QByteArray &json)
{
	QJsonParseError error;
	const QJsonDocument document = QJsonDocument::fromJson(json, &error);
	if (error.error != QJsonParseError::NoError || !document.isObject()) {
		return std::nullopt;
	}
	const QJsonObject object = document.object();
	MonitorSettings settings;
	settings.follow = object.value(kFollowMonitors).toBool(true);
	settings.layouts = monitorLayoutsFromJson(object.value(kMonitorLayouts).toArray());
	return settings;
}

namespace {

std::optional<QByteArray> readSmallFile(const QString &path)
{
	// A FIFO or a device in its place would block the host's start.
	if (!QFileInfo(path).isFile()) {
		return std::nullopt;
	}
	QFile file(path);
	if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxMonitorsFileBytes) {
		return std::nullopt;
	}
	const QByteArray bytes = file.read(kMaxMonitorsFileBytes + 1);
	if (bytes.size() > kMaxMonitorsFileBytes) {
		return std::nullopt;
	}
	return bytes;
}

} // namespace

std::optional<MonitorSettings> readMonitorSettings(const QString &path)
{
	const std::optional<QByteArray> bytes = readSmallFile(path);
	return bytes ? parseMonitorSettings(*bytes) : std::nullopt;
}

std::optional<MonitorSet> readMonitorsOnScreen(const QString &path)
{
	const std::optional<QByteArray> bytes = readSmallFile(path);
	if (!bytes) {
		return std::nullopt;
	}
	const QJsonDocument document = QJsonDocument::fromJson(*bytes);
	return monitorSetFromJson(document.object().value(kScreens).toArray());
}

QByteArray monitorsOnScreenToJson(const MonitorSet &set)
{
	return QJsonDocument(QJsonObject{{kScreens, monitorSetToJson(set)}}).toJson(QJsonDocument::Indented);
}

QByteArray monitorSettingsToJson(const MonitorSettings &settings)
{
	const QJsonObject object{{kFollowMonitors, settings.follow},
				 {kMonitorLayouts, monitorLayoutsToJson(settings.layouts)}};
	return QJsonDocument(object).toJson(QJsonDocument::Indented);
}
