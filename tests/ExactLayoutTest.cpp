#include "operations/LayoutCapture.hpp"
#include "operations/LayoutCheck.hpp"
#include "operations/ApplyLayout.hpp"
#include "operations/Screens.hpp"
#include "support/Arrangement.hpp"
#include "support/DockWindow.hpp"
#include "support/TestHost.hpp"

#include <QDockWidget>
#include <QGuiApplication>
#include <QMainWindow>
#include <QResizeEvent>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace {

// The rectangle of every shown dock: in the window when docked, on the screen when floating.
using DockRects = std::map<std::string, std::pair<bool, QRect>>;

DockRects shownDocks(QMainWindow *window)
{
	DockRects rects;
	for (const QDockWidget *dock : window->findChildren<QDockWidget *>()) {
		if (dock->isVisible() && (dock->isFloating() || !dock->visibleRegion().isEmpty())) {
			rects[dock->objectName().toStdString()] = {dock->isFloating(), dock->geometry()};
		}
	}
	return rects;
}

// A snapshot of OBS's core docks made in a window of plain labels, as another machine would: docks that are far
// smaller than they are in the window that loads them.
SnapshotData layoutOf(const char *name, QRect place, const std::function<void(QMainWindow &)> &arrange)
{
	QMainWindow maker;
	buildDockWindow(&maker, obsCoreDockPlan(place));
	arrange(maker);
	QApplication::processEvents();
	return captureLayout(&maker, QString::fromLatin1(name));
}

QDockWidget *dockOf(QMainWindow &window, const char *name)
{
	return window.findChild<QDockWidget *>(QString::fromLatin1(name));
}

class ExactLayoutTest : public testing::Test {
protected:
	void SetUp() override
	{
		DockWindowPlan plan;
		plan.docks = coreDocks(true);
		plan.position = QPoint(80, 80);
		plan.size = QSize(1100, 740);
		const QList<QDockWidget *> docks = buildDockWindow(&window, plan);
		// Docks with contents that need room, as OBS's controls and stats do.
		for (QDockWidget *dock : docks) {
			const QString name = dock->objectName();
			dock->widget()->setMinimumSize(name == QLatin1String("statsDock") ? 650 : 150,
						       name == QLatin1String("controlsDock") ? 190 : 110);
		}
		testhost::clearLog();
	}

	DockRects load(const SnapshotData &data)
	{
		EXPECT_TRUE(applyLayout(&window, data)) << data.name.toStdString();
		QTest::qWait(50);
		return shownDocks(&window);
	}

	QMainWindow window;
};

TEST_F(ExactLayoutTest, ALayoutComesBackTheSameWhateverWasOnScreenBefore)
{
	QList<SnapshotData> layouts;
	for (const TestLayout &layout : testLayouts()) {
		layouts.append(layoutOf(layout.name, layout.place, layout.arrange));
	}
	for (const SnapshotData &target : layouts) {
		std::optional<DockRects> first;
		for (const SnapshotData &before : layouts) {
			load(before);
			const DockRects got = load(target);
			if (!first) {
				first = got;
			}
			EXPECT_EQ(got, *first) << target.name.toStdString() << " after " << before.name.toStdString();
		}
	}
}

TEST(PlaceOnScreensTest, AWindowGoesWhollyOntoTheScreenThatHoldsMostOfItOrTheNearest)
{
	const QList<QRect> one = {QRect(0, 0, 1600, 1000)};
	const QList<QRect> two = {QRect(0, 0, 1600, 1000), QRect(1600, 0, 1920, 1080)};
	const struct {
		const char *what;
		QRect frame;
		QList<QRect> screens;
		QRect expected;
	} cases[] = {
		{"wholly on the screen", {100, 100, 400, 300}, one, {100, 100, 400, 300}},
		{"touching every edge", {0, 0, 1600, 1000}, one, {0, 0, 1600, 1000}},
		{"partly beyond the right edge", {1180, 200, 691, 300}, one, {909, 200, 691, 300}},
		{"beyond the top left corner", {-50, -20, 400, 300}, one, {0, 0, 400, 300}},
		{"on a second monitor that is gone", {2500, 200, 420, 300}, one, {1180, 200, 420, 300}},
		{"below every screen", {300, 1400, 400, 300}, one, {300, 700, 400, 300}},
		{"larger than the screen", {-10, 50, 1800, 1200}, one, {0, 0, 1600, 1000}},
		{"across two screens, mostly on the second", {1500, 100, 400, 300}, two, {1600, 100, 400, 300}},
		{"across two screens, mostly on the first", {1300, 100, 400, 300}, two, {1200, 100, 400, 300}},
		{"on the second screen", {2500, 200, 420, 300}, two, {2500, 200, 420, 300}},
		{"no screens", {2500, 200, 420, 300}, {}, {2500, 200, 420, 300}},
		// Three pixels beside the first screen, two below and two beside the second: the second is nearer.
		{"nearest by its corner",
		 {1003, 0, 100, 100},
		 {QRect(0, 0, 1000, 1000), QRect(1105, 102, 800, 600)},
		 {1105, 102, 100, 100}},
	};
	for (const auto &c : cases) {
		EXPECT_EQ(placeOnScreens(c.frame, c.screens), c.expected) << c.what;
	}
}

TEST_F(ExactLayoutTest, AFloatingDockBeyondTheScreensComesBackWhollyOnOne)
{
	const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
	const auto floatingAt = [](QPoint at) {
		return layoutOf("Floating", {120, 100, 1000, 700}, [at](QMainWindow &w) {
			dockOf(w, "statsDock")->show();
			dockOf(w, "statsDock")->setFloating(true);
			dockOf(w, "statsDock")->setGeometry(QRect(at, QSize(420, 300)));
		});
	};
	const QString moved = QStringLiteral("[obs-velkin] Moved the dock \"statsDock\" onto the screen: ");

	// Already on the screen: it stays where it was saved, and nothing is logged.
	load(floatingAt(QPoint(300, 200)));
	EXPECT_EQ(dockOf(window, "statsDock")->pos(), QPoint(300, 200));
	EXPECT_TRUE(testhost::pluginLogLines().isEmpty())
		<< testhost::pluginLogLines().join(QLatin1Char('\n')).toStdString();

	// Saved on a second monitor to the right: it comes onto this screen, keeps its size and is logged once.
	const DockRects got = load(floatingAt(QPoint(screen.right() + 600, 200)));
	const QRect stats = got.at("statsDock").second;
	EXPECT_TRUE(screen.contains(stats))
		<< stats.x() << "," << stats.y() << " " << stats.width() << "x" << stats.height();
	EXPECT_EQ(stats.right(), screen.right());
	EXPECT_EQ(testhost::pluginLogLines().filter(moved).size(), 1)
		<< testhost::pluginLogLines().join(QLatin1Char('\n')).toStdString();
	EXPECT_TRUE(screen.contains(window.frameGeometry()));
}

// OBS leaves Qt::WindowActive set on its main window once it has come back from the tray.
TEST_F(ExactLayoutTest, TheMainWindowComesOntoTheScreenWhateverFlagsItHasUnlessTheWindowManagerPlacesIt)
{
	const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
	const QRect off(screen.right() - 400, screen.top() + 100, 1100, 740);
	QMainWindow plain;
	plain.setGeometry(off);
	plain.show();
	ASSERT_TRUE(QTest::qWaitForWindowExposed(&plain));
	const struct {
		const char *what;
		Qt::WindowStates state;
		bool moves;
	} cases[] = {
		{"normal", Qt::WindowNoState, true},
		{"active", Qt::WindowActive, true},
		{"maximized", Qt::WindowMaximized | Qt::WindowActive, false},
	};
	for (const auto &c : cases) {
		plain.setWindowState(Qt::WindowNoState);
		plain.setGeometry(off);
		plain.setWindowState(c.state);
		QTest::qWait(50);
		ASSERT_EQ(plain.windowState(), c.state) << c.what;
		ASSERT_EQ(plain.frameGeometry(), off) << c.what;
		keepWindowsOnScreens(&plain);
		const QRect got = plain.frameGeometry();
		if (c.moves) {
			EXPECT_EQ(got, QRect(screen.right() - 1099, off.top(), 1100, 740)) << c.what;
		} else {
			EXPECT_EQ(got, off) << c.what;
		}
	}
}

TEST_F(ExactLayoutTest, AMainWindowThatItsMinimumSizeHoldsLargerThanTheScreenIsLoggedAsItIsAndOnce)
{
	const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
	const QSize minimum = screen.size() + QSize(300, 200);
	QMainWindow large;
	large.setMinimumSize(minimum);
	large.setGeometry(QRect(screen.topLeft() + QPoint(100, 50), minimum));
	large.show();
	ASSERT_TRUE(QTest::qWaitForWindowExposed(&large));
	ASSERT_EQ(large.frameGeometry(), QRect(screen.topLeft() + QPoint(100, 50), minimum));
	const QString size = QStringLiteral("%1x%2").arg(minimum.width()).arg(minimum.height());
	const QString moved = QStringLiteral("[obs-velkin] Moved the main window onto the screen: %1,%2 %3 -> %4,%5 %3 "
					     "(held at its minimum size %3)")
				      .arg(screen.left() + 100)
				      .arg(screen.top() + 50)
				      .arg(size)
				      .arg(screen.left())
				      .arg(screen.top());

	for (int load = 1; load <= 2; ++load) {
		testhost::clearLog();
		keepWindowsOnScreens(&large);
		QTest::qWait(50);
		EXPECT_EQ(large.frameGeometry(), QRect(screen.topLeft(), minimum)) << "load " << load;
		// The first load moves it; the next ones find it where it can be, and say nothing.
		EXPECT_EQ(testhost::pluginLogLines(), load == 1 ? QStringList{moved} : QStringList())
			<< "load " << load << ": " << testhost::pluginLogLines().join(QLatin1Char('\n')).toStdString();
	}
}

} // namespace

namespace {

// The sizes that a window is given, in order.
class SizesSeen : public QObject {
public:
	explicit SizesSeen(QWidget *window) { window->installEventFilter(this); }
	bool eventFilter(QObject *, QEvent *event) override
	{
		if (event->type() == QEvent::Resize) {
			sizes.append(static_cast<QResizeEvent *>(event)->size());
		}
		return false;
	}
	QList<QSize> sizes;
};

} // namespace

// The docks on screen before, or a state while Qt restores it, may need more room than the saved window has, and
// Qt grows the window to it on the way; under X11 the window system's answer to such a size came after the load
// and left the window at it. A load gives the window the saved size alone, and the window keeps it.
TEST_F(ExactLayoutTest, ALoadGivesTheWindowItsSavedSizeAloneAndTheWindowKeepsIt)
{
	// Arranged in this window, whose docks need room as OBS's do: the wide layout's docks hold the window wider
	// than the narrow one is saved.
	window.show();
	ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
	const auto arranged = [this](const char *name, const QStringList &words) {
		EXPECT_EQ(arrangeDocks(&window, words), QString()) << name;
		return captureLayout(&window, QString::fromLatin1(name));
	};
	const SnapshotData narrow =
		arranged("Narrow", {QStringLiteral("hide:statsDock"), QStringLiteral("hide:controlsDock"),
				    QStringLiteral("window:100,90,700,600")});
	const SnapshotData wide =
		arranged("Wide", {QStringLiteral("show:statsDock"), QStringLiteral("show:controlsDock"),
				  QStringLiteral("left:statsDock"), QStringLiteral("right:scenesDock"),
				  QStringLiteral("window:60,60,1400,800")});
	ASSERT_GT(window.minimumWidth(), 700);
	int passing = 0;
	for (int round = 0; round < 5; ++round) {
		for (const SnapshotData *target : {&narrow, &wide}) {
			const QSize saved = savedWindowGeometry(target->geometry)->client.size();
			SizesSeen seen(&window);
			ASSERT_TRUE(applyLayout(&window, *target));
			const QList<QSize> during = seen.sizes;
			QTest::qWait(200);
			for (const QSize &size : during) {
				passing += size != saved && size != window.size();
			}
			EXPECT_EQ(window.size(), saved) << target->name.toStdString() << ", round " << round;
		}
	}
	EXPECT_EQ(passing, 0) << "sizes that the window passed through while a layout was put on";
}
