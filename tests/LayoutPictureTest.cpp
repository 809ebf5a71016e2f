#include "menu/LayoutPicture.hpp"
#include "operations/LayoutCapture.hpp"
#include "operations/WindowStateFormat.hpp"
#include "support/DockWindow.hpp"

#include <QDataStream>
#include <QDockWidget>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QScreen>
#include <QWindow>
#include <QtEndian>
#include <QtMath>
#include <QtNumeric>

#include <gtest/gtest.h>

#include <map>

namespace {

QHash<QString, QString> titlesOf(QMainWindow &window)
{
	QHash<QString, QString> titles;
	for (const QDockWidget *dock : window.findChildren<QDockWidget *>()) {
		titles.insert(dock->objectName(), dock->windowTitle());
	}
	return titles;
}

// A window of OBS's core docks at that place, whose contents need the room that OBS's do.
void buildLikeOBS(QMainWindow &maker, const QRect &place)
{
	for (QDockWidget *dock : buildDockWindow(&maker, obsCoreDockPlan(place))) {
		dock->widget()->setMinimumSize(150, dock->objectName() == QLatin1String("controlsDock") ? 190 : 110);
	}
	maker.layout()->invalidate();
	maker.layout()->activate();
	QApplication::processEvents();
}

// The titles of the docks that each test layout shows.
const std::map<std::string, QStringList> kShownTitles = {
	{"Bottom", {"Audio Mixer", "Controls", "Scene Transitions", "Scenes", "Sources"}},
	{"Right", {"Audio Mixer", "Controls", "Scene Transitions", "Scenes", "Sources"}},
	{"Tabs", {"Audio Mixer", "Controls", "Sources"}},
	{"Sides", {"Audio Mixer", "Controls", "Scene Transitions", "Scenes", "Sources", "Stats"}},
	{"Floating", {"Audio Mixer", "Controls", "Scenes", "Sources", "Stats"}},
};

// Every box at least the least size, docked boxes apart from each other and from the preview, floating boxes apart
// from each other.
void expectReadableBoxes(const LayoutPictureGeometry &geometry, const char *what)
{
	const LayoutPicturePlan plan = planLayoutPicture(geometry);
	ASSERT_EQ(plan.docks.size(), geometry.docks.size()) << what;
	EXPECT_GE(plan.size.width(), kMinPictureWidth) << what;
	for (qsizetype i = 0; i < plan.docks.size(); ++i) {
		const QString title = geometry.docks.at(i).title;
		EXPECT_GE(plan.docks.at(i).width(), kMinPictureBox.width()) << what << ": " << title.toStdString();
		EXPECT_GE(plan.docks.at(i).height(), kMinPictureBox.height()) << what << ": " << title.toStdString();
		if (!geometry.docks.at(i).floating) {
			EXPECT_FALSE(plan.docks.at(i).intersects(plan.preview)) << what << ": " << title.toStdString();
		}
		for (qsizetype j = i + 1; j < plan.docks.size(); ++j) {
			if (geometry.docks.at(i).floating == geometry.docks.at(j).floating) {
				EXPECT_FALSE(plan.docks.at(i).intersects(plan.docks.at(j)))
					<< what << ": " << title.toStdString() << " and "
					<< geometry.docks.at(j).title.toStdString();
			}
		}
	}
}

TEST(LayoutPictureTest, EachTestLayoutShowsEveryShownDockInItsPlaceLargeEnoughToRead)
{
	for (const TestLayout &layout : testLayouts()) {
		QMainWindow maker;
		buildLikeOBS(maker, layout.place);
		layout.arrange(maker);
		QApplication::processEvents();
		const SnapshotData data = captureLayout(&maker, QString::fromLatin1(layout.name));

		const std::optional<LayoutPictureGeometry> geometry = layoutPictureGeometry(data, titlesOf(maker));
		ASSERT_TRUE(geometry) << layout.name;
		EXPECT_EQ(geometry->window, QRect(QPoint(0, 0), maker.size())) << layout.name;
		EXPECT_EQ(geometry->preview, maker.centralWidget()->geometry()) << layout.name;
		QStringList shown;
		for (const LayoutPictureBox &box : geometry->docks) {
			shown.append(box.title);
			EXPECT_FALSE(box.missing) << layout.name << ": " << box.title.toStdString();
			// Where the window that made the snapshot has the dock.
			const auto *dock = maker.findChild<QDockWidget *>(titlesOf(maker).key(box.title));
			ASSERT_TRUE(dock) << layout.name;
			EXPECT_EQ(box.floating, dock->isFloating()) << layout.name << ": " << box.title.toStdString();
			EXPECT_EQ(box.rect, dock->isFloating()
						    ? dock->geometry().translated(-maker.geometry().topLeft())
						    : dock->geometry())
				<< layout.name << ": " << box.title.toStdString();
		}
		shown.sort();
		EXPECT_EQ(shown, kShownTitles.at(layout.name)) << layout.name;
		expectReadableBoxes(*geometry, layout.name);
	}
}

// A geometry blob as QWidget::saveGeometry writes it on the primary screen, for a window saved maximized or not.
QByteArray savedGeometry(const QRect &frame, const QRect &normal, const QRect &client, bool maximized = true)
{
	QByteArray bytes;
	QDataStream out(&bytes, QIODevice::WriteOnly);
	out.setVersion(QDataStream::Qt_4_0);
	out << quint32(windowstate::kGeometryMagic) << quint16(3) << quint16(0) << frame << normal << qint32(0)
	    << quint8(maximized) << quint8(0) << qint32(QGuiApplication::primaryScreen()->availableGeometry().width())
	    << client;
	return bytes;
}

TEST(LayoutPictureTest, AMaximizedSnapshotIsDrawnAtItsMaximizedSize)
{
	QMainWindow maker;
	buildLikeOBS(maker, QRect(100, 80, 800, 500));
	SnapshotData data = captureLayout(&maker, QStringLiteral("Maximized"));
	data.geometry = savedGeometry(QRect(0, 0, 1920, 1080), QRect(100, 80, 800, 500), QRect(0, 0, 1920, 1080));
	const std::optional<LayoutPictureGeometry> geometry = layoutPictureGeometry(data, titlesOf(maker));
	ASSERT_TRUE(geometry);
	EXPECT_EQ(geometry->window, QRect(0, 0, 1920, 1080));
	// The docks fill the larger window as they would on screen: the bottom row spans its width.
	int right = 0;
	for (const LayoutPictureBox &box : geometry->docks) {
		right = std::max(right, box.rect.right());
	}
	EXPECT_GT(right, 1800);

	expectReadableBoxes(*geometry, "maximized");
}

// Whatever sizes a snapshot gives, its picture is at most the largest extent on each side, at a pixel ratio no
// larger than the largest, from a stand-in no larger than the largest.
TEST(LayoutPictureTest, APictureIsBoundedWhateverTheSnapshotSays)
{
	QMainWindow maker;
	buildLikeOBS(maker, QRect(100, 80, 800, 500));
	const SnapshotData good = captureLayout(&maker, QStringLiteral("Bounded"));
	const auto standIn = [&](const QRect &client, bool maximized = true) {
		SnapshotData data = good;
		data.geometry = maximized ? savedGeometry(QRect(0, 0, 1920, 1080), QRect(100, 80, 800, 500), client)
					  : savedGeometry(client, client, client, false);
		return layoutPictureGeometry(data, titlesOf(maker));
	};
	const QRect limits(QPoint(-QWIDGETSIZE_MAX, -QWIDGETSIZE_MAX), QPoint(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
	LayoutPictureGeometry tinyDocks{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080), {}};
	for (int i = 0; i < kMaxPictureDocks; ++i) {
		tinyDocks.docks.append({QStringLiteral("Dock"), QRect(i * 7, 1000, 1, 1)});
	}
	const struct {
		const char *what;
		std::optional<LayoutPictureGeometry> geometry;
		qreal ratio;
	} cases[] = {
		{"maximized at 500 x 1,000,000", standIn(QRect(0, 0, 500, 1000000)), 1},
		{"maximized at 1,000,000 x 500", standIn(QRect(0, 0, 1000000, 500)), 2},
		{"maximized at the limits", standIn(limits), 1},
		{"a normal window at the limits", standIn(limits, false), 1},
		{"many tiny docks", tinyDocks, 1},
		{"a ratio of a million", standIn(QRect(0, 0, 1920, 1080)), 1e6},
		{"an endless ratio", standIn(QRect(0, 0, 1920, 1080)), qInf()},
		{"no ratio", standIn(QRect(0, 0, 1920, 1080)), qQNaN()},
	};
	const qsizetype largest = qPow(kMaxPictureExtent * kMaxPictureRatio, 2) * 4;
	for (const auto &c : cases) {
		ASSERT_TRUE(c.geometry) << c.what;
		EXPECT_TRUE(QRect(0, 0, kMaxStandInExtent, kMaxStandInExtent).contains(c.geometry->window)) << c.what;
		LayoutPictureStyle style;
		style.devicePixelRatio = c.ratio;
		const QImage picture = drawLayoutPicture(*c.geometry, style);
		EXPECT_FALSE(picture.isNull()) << c.what;
		EXPECT_LE(picture.deviceIndependentSize().width(), kMaxPictureExtent) << c.what;
		EXPECT_LE(picture.deviceIndependentSize().height(), kMaxPictureExtent) << c.what;
		EXPECT_LE(picture.sizeInBytes(), largest) << c.what;
	}
}

// A floating tab group of the Scenes and Sources docks, appended to a saved state.
QByteArray withFloatingTabGroup(QByteArray state, const QRect &rect)
{
	QDataStream out(&state, QIODevice::Append);
	out.setVersion(QDataStream::Qt_5_0);
	out << quint8(windowstate::kFloatingTabsMarker) << rect << quint8(windowstate::kTabMarker) << qint32(0)
	    << quint8(Qt::Horizontal) << qint32(2);
	for (const char *name : {"scenesDock", "sourcesDock"}) {
		out << quint8(windowstate::kWidgetMarker) << QString::fromLatin1(name) << quint8(windowstate::kVisible)
		    << qint32(0) << qint32(200) << qint32(0) << qint32(0);
	}
	return state;
}

// Counts the native windows that are asked to show.
class ShownWindows : public QObject {
public:
	ShownWindows() { qApp->installEventFilter(this); }
	~ShownWindows() override { qApp->removeEventFilter(this); }
	int count = 0;

protected:
	bool eventFilter(QObject *watched, QEvent *event) override
	{
		if (event->type() == QEvent::Show && watched->isWindowType()) {
			++count;
		}
		return false;
	}
};

TEST(LayoutPictureTest, NoWindowShowsWhileAPictureIsDrawnNotEvenAFloatingTabGroup)
{
	QMainWindow maker;
	buildDockWindow(&maker, obsCoreDockPlan(QRect(100, 80, 1000, 700)));
	SnapshotData data = captureLayout(&maker, QStringLiteral("Group"));
	data.state = withFloatingTabGroup(data.state, QRect(1200, 200, 400, 300));
	ShownWindows shown;
	const std::optional<LayoutPictureGeometry> geometry = layoutPictureGeometry(data, titlesOf(maker));
	ASSERT_TRUE(geometry);
	EXPECT_EQ(shown.count, 0);
	// The group's current tab floats where the group does.
	bool found = false;
	for (const LayoutPictureBox &box : geometry->docks) {
		if (box.floating) {
			found = true;
			EXPECT_EQ(box.title, QStringLiteral("Scenes"));
			EXPECT_TRUE(QRect(1100, 120, 400, 300).contains(box.rect.topLeft()))
				<< box.rect.x() << "," << box.rect.y();
		}
	}
	EXPECT_TRUE(found);
}

// A picture is drawn only of what a load would take, and only of the docks that the state places; a document
// beyond any real count of docks has none, and costs little.
TEST(LayoutPictureTest, RefusedStatesAndEndlessDockListsGetNoStandInOrAFewDocks)
{
	QMainWindow maker;
	buildDockWindow(&maker, obsCoreDockPlan(QRect(100, 80, 1000, 700)));
	const SnapshotData good = captureLayout(&maker, QStringLiteral("Good"));
	const QHash<QString, QString> titles = titlesOf(maker);

	SnapshotData sideFour = good;
	// The first dock area's side, after the version marker, the version, the areas' marker and their count.
	qToBigEndian(qint32(4), sideFour.state.data() + 13);
	SnapshotData broken = good;
	broken.state = QByteArray("not a state");
	SnapshotData manyNames = good;
	QByteArray manyState;
	{
		QDataStream out(&manyState, QIODevice::WriteOnly);
		out << qint32(windowstate::kVersionMarker) << qint32(0) << quint8(windowstate::kDockAreasMarker)
		    << qint32(1) << qint32(0) << QSize(300, 300) << quint8(windowstate::kSequenceMarker)
		    << quint8(Qt::Vertical) << qint32(20000);
		for (int i = 0; i < 20000; ++i) {
			out << quint8(windowstate::kWidgetMarker) << QStringLiteral("dock%1").arg(i)
			    << quint8(windowstate::kVisible) << qint32(0) << qint32(10) << qint32(0) << qint32(0);
		}
		out << QSize(100, 100) << qint32(4) << qint32(4) << qint32(8) << qint32(8);
	}
	manyNames.state = manyState;
	for (int i = 0; i < 20000; ++i) {
		manyNames.docks.append(QStringLiteral("dock%1").arg(i));
	}
	const struct {
		const char *what;
		SnapshotData data;
	} refused[] = {
		{"a dock area on side 4", sideFour},
		{"a state Qt refuses", broken},
		{"a state of 20,000 docks", manyNames},
	};
	for (const auto &c : refused) {
		EXPECT_FALSE(layoutPictureGeometry(c.data, titles)) << c.what;
	}

	// 20,000 names in the document's list and six in the state: six docks.
	SnapshotData longList = good;
	longList.docks = manyNames.docks;
	const std::optional<LayoutPictureGeometry> geometry = layoutPictureGeometry(longList, titles);
	ASSERT_TRUE(geometry);
	EXPECT_EQ(geometry->docks.size(), 5);
}

TEST(LayoutPictureTest, ADockThatOBSLacksIsMarkedMissing)
{
	QMainWindow maker;
	buildDockWindow(&maker, obsCoreDockPlan(QRect(100, 80, 1000, 700)));
	const SnapshotData data = captureLayout(&maker, QStringLiteral("Missing"));
	QHash<QString, QString> titles = titlesOf(maker);
	titles.remove(QStringLiteral("mixerDock"));
	const std::optional<LayoutPictureGeometry> geometry = layoutPictureGeometry(data, titles);
	ASSERT_TRUE(geometry);
	QStringList missing;
	for (const LayoutPictureBox &box : geometry->docks) {
		if (box.missing) {
			missing.append(box.title);
		}
	}
	EXPECT_EQ(missing, QStringList{QStringLiteral("mixerDock")});
}

// The boxes are filled in the theme's colours, and the picture has the pixels of the screen's ratio.
TEST(LayoutPictureTest, DrawnInTheThemesColoursAtTheScreensPixelRatio)
{
	QMainWindow maker;
	buildDockWindow(&maker, obsCoreDockPlan(QRect(100, 80, 1000, 700)));
	const std::optional<LayoutPictureGeometry> geometry =
		layoutPictureGeometry(captureLayout(&maker, QStringLiteral("Colours")), titlesOf(maker));
	ASSERT_TRUE(geometry);
	const LayoutPicturePlan plan = planLayoutPicture(*geometry);
	for (const QColor button : {QColor(40, 44, 52), QColor(235, 236, 240)}) {
		for (const qreal ratio : {1.0, 2.0}) {
			LayoutPictureStyle style;
			style.palette.setColor(QPalette::Button, button);
			style.devicePixelRatio = ratio;
			const QImage picture = drawLayoutPicture(*geometry, style);
			EXPECT_EQ(picture.size(), (QSizeF(plan.size) * ratio).toSize());
			EXPECT_EQ(picture.deviceIndependentSize(), QSizeF(plan.size));
			// Inside the first dock's box, clear of its outline and its title.
			const QPointF inside = plan.docks.at(0).topLeft() + QPointF(4, 4);
			EXPECT_EQ(picture.pixelColor((inside * ratio).toPoint()).rgb(), button.rgb()) << ratio;
		}
	}
}

} // namespace
