#include "operations/LayoutCapture.hpp"
#include "operations/LayoutRecord.hpp"
#include "operations/ApplyLayout.hpp"
#include "operations/LayoutHold.hpp"
#include "operations/Screens.hpp"
#include "support/Arrangement.hpp"
#include "support/DockWindow.hpp"
#include "support/TestHost.hpp"

#include <QDataStream>
#include <QDockWidget>
#include <QGuiApplication>
#include <QHash>
#include <QMainWindow>
#include <QResizeEvent>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <set>

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

// Gives the docks contents that need room, as OBS's controls and stats do.
void needRoom(const QList<QDockWidget *> &docks)
{
	for (QDockWidget *dock : docks) {
		const QString name = dock->objectName();
		dock->widget()->setMinimumSize(name == QLatin1String("statsDock") ? 650 : 150,
					       name == QLatin1String("controlsDock") ? 190 : 110);
	}
}

class ExactLayoutTest : public testing::Test {
protected:
	void SetUp() override
	{
		DockWindowPlan plan;
		plan.docks = coreDocks(true);
		plan.position = QPoint(80, 80);
		plan.size = QSize(1100, 740);
		needRoom(buildDockWindow(&window, plan));
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
	QHash<QString, QRect> places;
	for (const TestLayout &layout : testLayouts()) {
		layouts.append(layoutOf(layout.name, layout.place, layout.arrange));
		places.insert(layouts.last().name, layout.place);
	}
	for (const SnapshotData &target : layouts) {
		std::optional<DockRects> first;
		for (const SnapshotData &before : layouts) {
			// Every load puts the window where its layout was made.
			load(before);
			EXPECT_EQ(window.geometry(), places.value(before.name)) << before.name.toStdString();
			const DockRects got = load(target);
			EXPECT_EQ(window.geometry(), places.value(target.name)) << target.name.toStdString();
			if (!first) {
				first = got;
			}
			EXPECT_EQ(got, *first) << target.name.toStdString() << " after " << before.name.toStdString();
		}
	}
}

TEST(PlaceOnScreensTest, AWindowWithinTheScreensStaysAndOneOutsideMovesTheLeast)
{
	const QList<QRect> one = {QRect(0, 0, 1600, 1000)};
	const QList<QRect> two = {QRect(0, 0, 1600, 1000), QRect(1600, 0, 1920, 1080)};
	const QList<QRect> side = {QRect(0, 0, 1920, 1040), QRect(1920, 0, 1920, 1040)};
	// An L: the right screen is shorter, and its bounding box holds a gap below it.
	const QList<QRect> ell = {QRect(0, 0, 1600, 1000), QRect(1600, 0, 1280, 600)};
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
		{"across the seam of two screens", {1500, 100, 400, 300}, two, {1500, 100, 400, 300}},
		{"a main window across both screens", {100, 100, 3000, 800}, side, {100, 100, 3000, 800}},
		{"a dock across the seam", {1700, 200, 420, 300}, side, {1700, 200, 420, 300}},
		{"across the seam and above the top", {1300, -40, 400, 300}, two, {1300, 0, 400, 300}},
		{"wider than either screen, beyond the right", {1000, 100, 3000, 800}, side, {840, 100, 3000, 800}},
		{"on the second screen", {2500, 200, 420, 300}, two, {2500, 200, 420, 300}},
		{"in the L's bounding box, partly in its gap", {1400, 400, 400, 300}, ell, {1400, 300, 400, 300}},
		{"on the L's short screen, partly in its gap", {2000, 500, 400, 300}, ell, {2000, 300, 400, 300}},
		{"no screens", {2500, 200, 420, 300}, {}, {2500, 200, 420, 300}},
		// 103 pixels beside the first screen; the second lies 102 beside and 102 below it: the first is the
		// smaller move.
		{"the smaller move by its corner",
		 {1003, 0, 100, 100},
		 {QRect(0, 0, 1000, 1000), QRect(1105, 102, 800, 600)},
		 {900, 0, 100, 100}},
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

// A window geometry as QWidget::saveGeometry writes it (version 3.0), of a normal window saved on a screen of that
// width; or of one saved maximized at `rect`, whose normal rectangle is `normal`.
QByteArray savedGeometry(const QRect &rect, int screenWidth, const std::optional<QRect> &normal = std::nullopt)
{
	QByteArray blob;
	QDataStream out(&blob, QIODevice::WriteOnly);
	out.setVersion(QDataStream::Qt_4_0);
	out << quint32(0x1D9D0CB) << quint16(3) << quint16(0) << rect << normal.value_or(rect) << qint32(0)
	    << quint8(normal.has_value()) << quint8(0) << qint32(screenWidth) << rect;
	return blob;
}

// Qt refuses a window saved on a screen half as wide again as this one; the load cuts it down to the screen.
TEST_F(ExactLayoutTest, TheLogOfAWindowCutDownToTheScreenNamesTheSizeThatItEndsAt)
{
	const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
	const QSize saved = screen.size() + QSize(400, 300);
	SnapshotData large = layoutOf("Large", {120, 100, 1000, 700}, [](QMainWindow &) {});
	large.geometry = savedGeometry(QRect(QPoint(50, 50), saved), screen.width() * 3 / 2);
	const QString head = QStringLiteral("[obs-velkin] The snapshot's window of %1x%2 is larger than the screen: ")
				     .arg(saved.width())
				     .arg(saved.height());
	const struct {
		const char *what;
		int dockHeight;
		bool held;
	} cases[] = {
		{"the docks fit", 110, false},
		{"the docks need more height than the screen has", screen.height() + 100, true},
	};
	for (const auto &c : cases) {
		dockOf(window, "scenesDock")->widget()->setMinimumHeight(c.dockHeight);
		testhost::clearLog();
		load(large);
		const QSize now = window.size();
		EXPECT_EQ(now.width(), screen.width()) << c.what;
		EXPECT_EQ(now.height() > screen.height(), c.held) << c.what << ": " << now.height();
		const QString held =
			QStringLiteral("the docks hold the window at %1x%2 (the screen has room for %3x%4)")
				.arg(now.width())
				.arg(now.height())
				.arg(screen.width())
				.arg(screen.height());
		const QString line =
			head +
			(c.held ? held : QStringLiteral("it gets %1x%2").arg(screen.width()).arg(screen.height()));
		EXPECT_EQ(testhost::pluginLogLines(), QStringList{line})
			<< c.what << ": " << testhost::pluginLogLines().join(QLatin1Char('\n')).toStdString();
	}
}

// OBS's window has no minimum size of its own, but a theme or another plug-in may give it one.
TEST_F(ExactLayoutTest, AMinimumSizeSetOnTheWindowOutlastsALoad)
{
	QMainWindow plain;
	buildDockWindow(&plain, obsCoreDockPlan({80, 80, 900, 600}));
	plain.setMinimumSize(640, 360);
	const SnapshotData small = layoutOf("Small", {120, 100, 400, 300}, [](QMainWindow &) {});
	for (int load = 1; load <= 2; ++load) {
		ASSERT_TRUE(applyLayout(&plain, small));
		QTest::qWait(50);
		EXPECT_EQ(plain.minimumSize(), QSize(640, 360)) << "load " << load;
		EXPECT_EQ(plain.size(), QSize(640, 360)) << "load " << load;
	}
}

// Two screens of 1920x1040 side by side, on Qt's offscreen platform (tests/support/two-screens.json).
class TwoScreensTest : public ExactLayoutTest {};

// Qt fits a restored window to one screen, and the move onto the screens used to take one screen at a time.
TEST_F(TwoScreensTest, AWindowAndADockAcrossBothScreensStayWhereTheSnapshotHasThem)
{
	ASSERT_EQ(availableScreenAreas(), (QList<QRect>{QRect(0, 0, 1920, 1040), QRect(1920, 0, 1920, 1040)}));
	const QRect seam(1700, 200, 700, 300);
	const SnapshotData desk = layoutOf("Desk", {100, 100, 3000, 800}, [seam](QMainWindow &w) {
		dockOf(w, "statsDock")->show();
		dockOf(w, "statsDock")->setFloating(true);
		// The offscreen platform places a window that it has just made.
		QApplication::processEvents();
		dockOf(w, "statsDock")->setGeometry(seam);
		QApplication::processEvents();
	});
	const QRect across = savedWindowGeometry(desk.geometry)->normal;
	ASSERT_GT(across.width(), 1920);

	// Loaded; then at start-up and after a change of the screens.
	for (const char *when : {"after the load", "after the move onto the screens"}) {
		if (when == std::string("after the load")) {
			load(desk);
		} else {
			keepWindowsOnScreens(&window);
		}
		EXPECT_EQ(window.geometry(), across) << when;
		EXPECT_EQ(dockOf(window, "statsDock")->geometry(), seam) << when;
	}
	EXPECT_TRUE(testhost::pluginLogLines().isEmpty())
		<< testhost::pluginLogLines().join(QLatin1Char('\n')).toStdString();
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
		moved = moved || event->type() == QEvent::Move;
		return false;
	}
	QList<QSize> sizes;
	bool moved = false;
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

namespace {

// What the X server sends once it has moved or resized a native window, sent here with a rectangle that the window
// had earlier: an answer that comes after the last one.
void answerLate(QWidget *widget, const QRect &rect)
{
	auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
	ASSERT_NE(x11, nullptr) << "the tests run on X11";
	xcb_configure_notify_event_t answer{};
	answer.response_type = XCB_CONFIGURE_NOTIFY;
	answer.event = answer.window = static_cast<xcb_window_t>(widget->winId());
	answer.x = static_cast<int16_t>(rect.x());
	answer.y = static_cast<int16_t>(rect.y());
	answer.width = static_cast<uint16_t>(rect.width());
	answer.height = static_cast<uint16_t>(rect.height());
	xcb_send_event(x11->connection(), false, answer.window, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
		       reinterpret_cast<const char *>(&answer));
	xcb_flush(x11->connection());
}

} // namespace

// In OBS the docked docks are native child windows, as the preview's siblings. A restore takes them through other
// rectangles on the way, and the X server's answer to one of those may come last: after a load, the dock goes back
// where the layout has it. A floating dock that the window manager or the user moves or resizes elsewhere right
// after the load stays there.
TEST_F(ExactLayoutTest, AnAnswerOfTheWindowSystemThatComesLateLeavesNoDockOutOfPlace)
{
	window.centralWidget()->winId();
	window.show();
	ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
	QDockWidget *floating = dockOf(window, "sourcesDock");
	floating->setFloating(true);
	floating->setGeometry(300, 250, 400, 300);
	QTest::qWait(100);
	const SnapshotData layout = captureLayout(&window, QStringLiteral("On screen"));
	LayoutHold hold;
	const QMargins smaller(0, 0, -60, -50);
	const struct {
		const char *dock;
		QMargins late;
		// Where the floating dock is before the load, which takes it from there to its place.
		QMargins before;
		// Whether the answer is one that the load asked for, and the hold puts the dock back.
		bool back;
		// Whether the dock is docked before the load, which floats it: the answer keeps its docked size.
		bool docked = false;
	} rows[] = {{"statsDock", QMargins(-300, 0, 300, 0), {}, true},
		    {"controlsDock", QMargins(0, 0, 200, 40), {}, true},
		    {"sourcesDock", smaller, smaller, true},
		    {"sourcesDock", {}, {}, true, true},
		    // The window manager moves it, or the user resizes it, to where the load never took it.
		    {"sourcesDock", QMargins(200, 150, -200, -150), smaller, false},
		    {"sourcesDock", QMargins(0, 0, 80, 60), smaller, false},
		    {"sourcesDock", smaller, {}, false}};
	for (const auto &row : rows) {
		QDockWidget *dock = dockOf(window, row.dock);
		if (!row.before.isNull()) {
			dock->setGeometry(dock->geometry().marginsAdded(row.before));
			QTest::qWait(50);
		}
		if (row.docked) {
			dock->setFloating(false);
			QTest::qWait(50);
		}
		const QSize sizeBefore = dock->size();
		ASSERT_TRUE(applyLayout(&window, layout));
		hold.hold(&window);
		QTest::qWait(50);
		const DockRects placed = shownDocks(&window);
		ASSERT_TRUE(placed.count(row.dock)) << row.dock;
		const QRect late =
			row.docked ? QRect(dock->pos(), sizeBefore) : dock->geometry().marginsAdded(row.late);
		SizesSeen seen(dock);
		answerLate(dock, late);
		// Qt takes the answer as the dock's rectangle (a resize, or a move alone).
		ASSERT_TRUE(QTest::qWaitFor([&] { return seen.moved || !seen.sizes.isEmpty(); })) << row.dock;
		if (row.back) {
			(void)QTest::qWaitFor([&] { return shownDocks(&window) == placed; }, 2000);
			EXPECT_EQ(shownDocks(&window), placed) << row.dock;
			continue;
		}
		// A dock is put back on the next turn of the event loop.
		QCoreApplication::processEvents();
		DockRects moved = placed;
		moved[row.dock].second = late;
		EXPECT_EQ(shownDocks(&window), moved) << row.dock << " answered at " << late.x() << "," << late.y()
						      << " " << late.width() << "x" << late.height();
	}
}

// Counts the hide events of each dock of a window.
class HidesSeen : public QObject {
public:
	explicit HidesSeen(QMainWindow &window)
	{
		for (QDockWidget *dock : window.findChildren<QDockWidget *>()) {
			dock->installEventFilter(this);
		}
	}
	bool eventFilter(QObject *watched, QEvent *event) override
	{
		if (event->type() == QEvent::Hide) {
			++hides[watched->objectName().toStdString()];
		}
		return false;
	}
	std::map<std::string, int> hides;
};

// A load that leaves every dock where it is hides none of them, whether it changes sizes and floating rectangles or
// nothing at all; one that moves a dock to another side may hide the docks that it moves, and puts every dock where
// the snapshot has it all the same, as a window arranged by hand to the snapshot's words has them.
TEST_F(ExactLayoutTest, ADockThatKeepsItsPlaceIsNeverHiddenByALoad)
{
	const QStringList floating = {"show:statsDock", "float:statsDock:700,200,420,300"};
	const struct {
		const char *what;
		QStringList before;
		QStringList target;
		std::set<std::string> mayHide;
	} rows[] = {
		{"over itself", floating, floating, {}},
		{"other sizes and another floating rectangle", floating + QStringList{"width:scenesDock:300"},
		 QStringList{"show:statsDock", "float:statsDock:640,260,460,320", "width:scenesDock:220",
			     "width:mixerDock:400"},
		 {}},
		{"a tab group at other sizes", {"tab:scenesDock:sourcesDock", "width:scenesDock:300"},
		 {"tab:scenesDock:sourcesDock", "width:scenesDock:200"}, {}},
		// Qt's restoreState runs: it hides every dock once.
		{"the mixer to the right", floating + QStringList{"bottom:mixerDock"}, floating + QStringList{"right:mixerDock"},
		 {"mixerDock", "statsDock", "scenesDock", "sourcesDock", "transitionsDock", "controlsDock"}},
	};
	window.show();
	ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
	const QStringList start = {"window:80,80,1100,740"};
	for (const auto &row : rows) {
		ASSERT_EQ(arrangeDocks(&window, start + row.target), QString());
		const DockRects expected = shownDocks(&window);
		const SnapshotData target = captureLayout(&window, QStringLiteral("Target"));
		ASSERT_EQ(arrangeDocks(&window, start + row.before), QString());
		const SnapshotData before = captureLayout(&window, QStringLiteral("Before"));
		load(before);
		const HidesSeen seen(window);
		EXPECT_EQ(load(target), expected) << row.what;
		for (const auto &[dock, count] : seen.hides) {
			EXPECT_TRUE(row.mayHide.count(dock)) << row.what << ": " << dock << " hidden " << count << " times";
		}
	}
}

// A snapshot loaded into a window of another size than its own: every docked dock has the share of the window's
// width and height that it had in the snapshot's window, as Qt laid it out there, unless its minimum size holds it
// larger; in a window of the saved size, its size to the pixel.
TEST_F(ExactLayoutTest, DocksKeepTheirSharesOfAWindowOfAnotherSize)
{
	window.show();
	ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
	const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
	const QStringList sides = {"left:scenesDock", "split:scenesDock:sourcesDock:v", "right:transitionsDock",
				   "split:transitionsDock:controlsDock:v"};
	// Within a window that the screen cuts down.
	const std::optional<QSize> cut;
	const QRect maximized(0, 0, 1800, 1000);
	const struct {
		const char *what;
		QStringList words;
		// Saved maximized at the window's rectangle, with this normal one.
		std::optional<QRect> normal;
		// The window manager's resize after the load, while the window is maximized.
		std::optional<QSize> resized;
		std::optional<QSize> expected;
		// Pixels that a dock may be off its share: Qt shares out what the separators leave.
		int tolerance;
	} rows[] = {
		{"a desk's snapshot on a smaller screen",
		 sides + QStringList{"window:0,30,2560,1380", "width:scenesDock:640", "width:transitionsDock:512",
				     "height:mixerDock:345", "height:sourcesDock:427", "height:controlsDock:627"},
		 std::nullopt, std::nullopt, cut, 4},
		{"at its saved size",
		 sides + QStringList{"window:100,90,1280,800", "width:scenesDock:320", "width:transitionsDock:256",
				     "height:mixerDock:200", "height:sourcesDock:280", "height:controlsDock:320"},
		 std::nullopt, std::nullopt, QSize(1280, 800), 0},
		{"Scenes and Sources held at their minimum width",
		 sides + QStringList{"window:0,30,2560,1380", "width:scenesDock:160", "width:transitionsDock:512",
				     "height:mixerDock:345", "height:sourcesDock:427", "height:controlsDock:627"},
		 std::nullopt, std::nullopt, cut, 4},
		{"maximized, on a screen where the window stays at its normal size",
		 sides + QStringList{"window:0,0,1800,1000", "width:scenesDock:450", "width:transitionsDock:360",
				     "height:mixerDock:250", "height:sourcesDock:340", "height:controlsDock:400"},
		 QRect(100, 100, 1200, 700), std::nullopt, QSize(1200, 700), 4},
		{"maximized, then the window manager's resize to the saved size",
		 sides + QStringList{"window:0,0,1800,1000", "width:scenesDock:450", "width:transitionsDock:360",
				     "height:mixerDock:250", "height:sourcesDock:340", "height:controlsDock:400"},
		 QRect(100, 100, 1200, 700), QSize(1800, 1000), QSize(1800, 1000), 0},
		{"maximized, then the window manager's resize to another size",
		 sides + QStringList{"window:0,0,1800,1000", "width:scenesDock:450", "width:transitionsDock:360",
				     "height:mixerDock:250", "height:sourcesDock:340", "height:controlsDock:400"},
		 QRect(100, 100, 1200, 700), QSize(1500, 850), QSize(1500, 850), 4},
	};
	for (const auto &row : rows) {
		SCOPED_TRACE(row.what);
		// Docks that need the same room as this window's: the snapshot's sizes fit them.
		QMainWindow maker;
		needRoom(buildDockWindow(&maker, obsCoreDockPlan(QRect(60, 60, 1280, 800))));
		ASSERT_EQ(arrangeDocks(&maker, row.words), QString());
		const QSize makerSize = maker.size();
		const DockRects made = shownDocks(&maker);
		SnapshotData data = captureLayout(&maker, QStringLiteral("Made"));
		if (row.normal) {
			ASSERT_EQ(makerSize, maximized.size());
			data.geometry = savedGeometry(maximized, screen.width(), row.normal);
		}
		load(data);
		if (row.resized) {
			answerLate(&window, QRect(window.geometry().topLeft(), *row.resized));
		}
		// Each docked dock's share of the maker's window, in this one; no smaller than the dock can be.
		const auto expected = [&] {
			DockRects sizes;
			for (const auto &[name, place] : made) {
				const QDockWidget *dock = dockOf(window, name.c_str());
				const QSize minimum = dock->minimumSizeHint();
				const QSize share(
					qRound(double(place.second.width()) * window.width() / makerSize.width()),
					qRound(double(place.second.height()) * window.height() / makerSize.height()));
				sizes[name] = {false, QRect(QPoint(), share.expandedTo(minimum))};
			}
			return sizes;
		};
		const auto off = [&] {
			QStringList differing;
			const DockRects got = shownDocks(&window);
			for (const auto &[name, place] : expected()) {
				const QSize size = got.count(name) ? got.at(name).second.size() : QSize();
				if (std::abs(size.width() - place.second.width()) > row.tolerance ||
				    std::abs(size.height() - place.second.height()) > row.tolerance) {
					differing << QStringLiteral("%1 %2x%3, not %4x%5")
							     .arg(QString::fromStdString(name))
							     .arg(size.width())
							     .arg(size.height())
							     .arg(place.second.width())
							     .arg(place.second.height());
				}
			}
			return differing;
		};
		const auto sized = [&] {
			return row.expected ? window.size() == *row.expected
					    : window.width() <= screen.width() && window.height() <= screen.height();
		};
		(void)QTest::qWaitFor([&] { return sized() && off().isEmpty(); });
		EXPECT_TRUE(sized()) << window.width() << "x" << window.height();
		EXPECT_EQ(off(), QStringList());
		EXPECT_EQ(shownDocks(&window).size(), made.size());
	}
}
