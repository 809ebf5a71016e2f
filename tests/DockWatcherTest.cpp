// The watcher of the main window's docks, with real Qt: which docks it reports, and when.
#include "operations/DockWatcher.hpp"
#include "support/DockWindow.hpp"
#include "support/VelkinProbe.hpp"

#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

QDockWidget *addDock(QMainWindow &window, const QString &name, Qt::DockWidgetArea area)
{
	auto *dock = new QDockWidget(name, &window);
	dock->setObjectName(name);
	dock->setWidget(new QLabel(name));
	window.addDockWidget(area, dock);
	return dock;
}

QList<QDockWidget *> sorted(QList<QDockWidget *> docks)
{
	std::sort(docks.begin(), docks.end());
	return docks;
}

std::string names(const QList<QDockWidget *> &docks)
{
	QStringList names;
	for (const QDockWidget *dock : docks) {
		names.append(dock->objectName());
	}
	return names.join(QLatin1Char(' ')).toStdString();
}

// The docks that every report since the last clear named, in turn.
struct Heard {
	QList<QDockWidget *> added;
	QList<QDockWidget *> changed;
	int reports = 0;
};

Heard &listenTo(DockWatcher &watcher, QObject *receiver, Heard &heard)
{
	watcher.listen(receiver, [&heard](const DockReport &report) {
		heard.added += report.added;
		heard.changed += report.changed;
		++heard.reports;
	});
	return heard;
}

} // namespace

// Each row changes docks, and then the marker dock is hidden or shown: each dock that the row added or changed is
// named once, by its pointer, and no other dock is. The docks that the rows change float, so that no docked dock
// beside them changes with them.
TEST(DockWatcherTest, EachDockThatChangedIsReportedOnceAndNoOther)
{
	QMainWindow window;
	addTestDocks(&window, false);
	QList<QDockWidget *> floating;
	for (const char *name : {"markerDock", "Browser", "Browser"}) {
		QDockWidget *dock = addDock(window, QString::fromLatin1(name), Qt::RightDockWidgetArea);
		dock->setFloating(true);
		dock->setGeometry(700, 100 + 250 * int(floating.size()), 240, 200);
		floating.append(dock);
	}
	QDockWidget *marker = floating[0];
	const QList<QDockWidget *> browsers = floating.mid(1, 2);
	// A plug-in's dock that holds a main window of its own, with a dock floating from it.
	QDockWidget *holder = addDock(window, QStringLiteral("holderDock"), Qt::RightDockWidgetArea);
	auto *inner = new QMainWindow;
	inner->setCentralWidget(new QLabel(QStringLiteral("Inside")));
	QDockWidget *innerDock = addDock(*inner, QStringLiteral("innerDock"), Qt::LeftDockWidgetArea);
	holder->setWidget(inner);
	innerDock->setFloating(true);
	innerDock->setGeometry(1000, 100, 200, 200);
	floating.append(innerDock);
	// Made apart, and added to the window as a row.
	auto *later = new QDockWidget(QStringLiteral("Later"));
	later->setObjectName(QStringLiteral("laterDock"));
	later->setWidget(new QLabel(QStringLiteral("Later")));
	window.show();
	ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
	for (QDockWidget *dock : std::as_const(floating)) {
		dock->show();
		ASSERT_TRUE(QTest::qWaitForWindowExposed(dock));
	}

	DockWatcher watcher;
	watcher.start(&window);
	Heard heard;
	listenTo(watcher, &window, heard);
	QTimer &turn = VelkinProbe::turnOf(watcher);
	// A window to hold the mouse button down over.
	QWidget pressed;
	pressed.setGeometry(1200, 100, 100, 100);
	pressed.show();
	ASSERT_TRUE(QTest::qWaitForWindowExposed(&pressed));

	const struct {
		const char *what;
		std::function<void()> change;
		QList<QDockWidget *> added;
		QList<QDockWidget *> changed;
	} rows[] = {
		{"one of two docks of one name hidden", [&] { browsers[0]->hide(); }, {}, {browsers[0]}},
		{"the other one moved",
		 [&] { browsers[1]->move(browsers[1]->pos() + QPoint(20, 0)); },
		 {},
		 {browsers[1]}},
		{"the first one shown again", [&] { browsers[0]->show(); }, {}, {browsers[0]}},
		{"a floating dock moved and resized three times in one turn",
		 [&] {
			 for (int i = 0; i < 3; ++i) {
				 browsers[1]->setGeometry(300 + 10 * i, 300, 240 + 10 * i, 200);
			 }
		 },
		 {},
		 {browsers[1]}},
		{"the dock of a main window within a dock",
		 [&] {
			 innerDock->move(innerDock->pos() + QPoint(20, 0));
			 innerDock->hide();
		 },
		 {},
		 {}},
		{"a dock dragged: nothing while the button is held, then once",
		 [&] {
			 QTest::mousePress(pressed.windowHandle(), Qt::LeftButton, {}, QPoint(50, 50));
			 browsers[1]->move(browsers[1]->pos() + QPoint(40, 30));
			 // The watcher looked and waits for the button.
			 EXPECT_TRUE(QTest::qWaitFor(
				 [&] { return turn.isActive() && turn.interval() == DockWatcher::kButtonHeldMs; }));
			 browsers[1]->move(browsers[1]->pos() + QPoint(40, 30));
			 QApplication::processEvents();
			 EXPECT_EQ(heard.reports, 0) << "reported while the button was held";
			 QTest::mouseRelease(pressed.windowHandle(), Qt::LeftButton, {}, QPoint(50, 50));
		 },
		 {},
		 {browsers[1]}},
		{"a dock added to the window, hidden and floated as OBS does",
		 [&] {
			 window.addDockWidget(Qt::RightDockWidgetArea, later);
			 later->hide();
			 later->setFloating(true);
		 },
		 {later},
		 {}},
	};
	for (const auto &row : rows) {
		heard = Heard();
		row.change();
		QApplication::processEvents();
		marker->toggleViewAction()->trigger();
		EXPECT_TRUE(QTest::qWaitFor([&] { return heard.changed.contains(marker); })) << row.what;
		EXPECT_EQ(heard.added, row.added) << row.what;
		EXPECT_EQ(sorted(heard.changed), sorted(row.changed + QList<QDockWidget *>{marker}))
			<< row.what << ": " << names(heard.changed);
	}
}

// A plug-in that fills the main window with widgets, one turn of the event loop each: each child is looked at once,
// the window is never searched for its docks again, and only the dock among them is reported.
TEST(DockWatcherTest, ChildrenAddedOneByOneAreNotSearchedFor)
{
	QMainWindow window;
	addTestDocks(&window, false);
	DockWatcher watcher;
	watcher.start(&window);
	ASSERT_EQ(watcher.searches(), 1);
	Heard heard;
	listenTo(watcher, &window, heard);
	for (int i = 0; i < 200; ++i) {
		new QWidget(&window);
		QApplication::processEvents();
	}
	QDockWidget *dock = addDock(window, QStringLiteral("lastDock"), Qt::RightDockWidgetArea);
	ASSERT_TRUE(QTest::qWaitFor([&] { return !heard.added.isEmpty(); }));
	EXPECT_EQ(heard.added, QList<QDockWidget *>{dock});
	EXPECT_EQ(heard.reports, 1);
	EXPECT_EQ(watcher.searches(), 1);
}
