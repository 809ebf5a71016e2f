#include "automation/MonitorSets.hpp"
#include "store/SnapshotNames.hpp"

#include <QGuiApplication>
#include <QJsonObject>
#include <QScreen>

#include <algorithm>
#include <tuple>

namespace {

const QString kScreens = QStringLiteral("screens");
const QString kSnapshot = QStringLiteral("snapshot");
const QString kName = QStringLiteral("name");
const QString kX = QStringLiteral("x");
const QString kY = QStringLiteral("y");
const QString kWidth = QStringLiteral("width");
const QString kHeight = QStringLiteral("height");
// A screen's side in pixels beyond anything real: such an entry is refused.
constexpr int kMaxScreenSide = 1 << 20;

auto orderKey(const MonitorScreen &screen)
{
	return std::make_tuple(screen.name, screen.geometry.x(), screen.geometry.y(), screen.geometry.width(),
			       screen.geometry.height());
}

} // namespace

MonitorSet sortedMonitors(MonitorSet set)
{
	std::sort(set.begin(), set.end(),
		  [](const MonitorScreen &a, const MonitorScreen &b) { return orderKey(a) < orderKey(b); });
	return set;
}

MonitorSet currentMonitors()
{
	MonitorSet set;
	for (const QScreen *screen : QGuiApplication::screens()) {
		set.append(MonitorScreen{screen->name(), screen->geometry()});
	}
	return sortedMonitors(set);
}

bool sameMonitors(const MonitorSet &a, const MonitorSet &b)
{
	return sortedMonitors(a) == sortedMonitors(b);
}

qsizetype indexOfMonitors(const QList<MonitorLayout> &layouts, const MonitorSet &set)
{
	const MonitorSet sorted = sortedMonitors(set);
	for (qsizetype i = 0; i < layouts.size(); ++i) {
		if (sortedMonitors(layouts.at(i).screens) == sorted) {
			return i;
		}
	}
	return -1;
}

QJsonArray monitorLayoutsToJson(const QList<MonitorLayout> &layouts)
{
	QJsonArray list;
	for (const MonitorLayout &layout : layouts) {
		QJsonArray screens;
		for (const MonitorScreen &screen : layout.screens) {
			screens.append(QJsonObject{{kName, screen.name},
						   {kX, screen.geometry.x()},
						   {kY, screen.geometry.y()},
						   {kWidth, screen.geometry.width()},
						   {kHeight, screen.geometry.height()}});
		}
		list.append(QJsonObject{{kScreens, screens}, {kSnapshot, layout.snapshot}});
	}
	return list;
}

QList<MonitorLayout> monitorLayoutsFromJson(const QJsonArray &list)
{
	QList<MonitorLayout> layouts;
	for (const QJsonValue &value : list) {
		if (layouts.size() >= kMaxMonitorLayouts) {
			break;
		}
		const QJsonObject object = value.toObject();
		MonitorLayout layout;
		layout.snapshot = object.value(kSnapshot).toString();
		if (!isPlainFileName(layout.snapshot)) {
			continue;
		}
		bool valid = true;
		const QJsonArray screens = object.value(kScreens).toArray();
		for (const QJsonValue &entry : screens) {
			const QJsonObject screen = entry.toObject();
			const QJsonValue name = screen.value(kName);
			const auto side = [&screen](const QString &key, int low) {
				const double number = screen.value(key).toDouble(-1.0 * kMaxScreenSide - 1);
				return number >= low && number <= kMaxScreenSide && number == int(number);
			};
			if (!name.isString() || !side(kX, -kMaxScreenSide) || !side(kY, -kMaxScreenSide) ||
			    !side(kWidth, 1) || !side(kHeight, 1)) {
				valid = false;
				break;
			}
			layout.screens.append(MonitorScreen{
				name.toString(), QRect(screen.value(kX).toInt(), screen.value(kY).toInt(),
						       screen.value(kWidth).toInt(), screen.value(kHeight).toInt())});
		}
		if (!valid || layout.screens.isEmpty() || indexOfMonitors(layouts, layout.screens) >= 0) {
			continue;
		}
		layouts.append(layout);
	}
	return layouts;
}
