#include "settings/SettingsFile.hpp"
#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"
#include "support/DockWindow.hpp"

#include "menu/LayoutPicturePopup.hpp"

#include <QAction>
#include <QGuiApplication>
#include <QJsonArray>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTest>

namespace {

class LayoutsMenuTest : public ControllerTest {
protected:
	void SetUp() override
	{
		ControllerTest::SetUp();
		addTestDocks(window, false);
		QDir().mkpath(snapshotDirectory());
	}

	void start()
	{
		makeController();
		probe(velkin).remote().setEventListener([this](const char *type, const QJsonObject &data) {
			if (QByteArray(type) == "SnapshotLoaded") {
				sources.append(data.value(QStringLiteral("source")).toString());
			}
		});
		standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		QApplication::processEvents();
	}

	// The submenu as it shows: its texts, with a check mark as "[x] " and a disabled entry as "(...)".
	QStringList shown()
	{
		probe(velkin).layoutsSubmenu()->aboutToShow();
		QStringList texts;
		for (const QAction *action : probe(velkin).layoutsSubmenu()->actions()) {
			QString text = action->isSeparator() ? QStringLiteral("---") : action->text();
			if (action->isChecked()) {
				text.prepend(QStringLiteral("[x] "));
			}
			if (!action->isEnabled()) {
				text = QLatin1Char('(') + text + QLatin1Char(')');
			}
			texts.append(text);
		}
		return texts;
	}

	QAction *row(const QString &text)
	{
		for (QAction *action : probe(velkin).layoutsSubmenu()->actions()) {
			if (action->text() == text) {
				return action;
			}
		}
		return nullptr;
	}

	QStringList sources;
};

// What follows the snapshots in the submenu.
QStringList tail()
{
	return {QStringLiteral("---"), localeText("LayoutsSaveAs"), localeText("UndoLoad"), localeText("LayoutsManage"),
		QStringLiteral("[x] ") + localeText("KeepLayout")};
}

TEST_F(LayoutsMenuTest, TheSubmenuListsTheSnapshotsInOrderWithTheLastCheckedAndItsKeys)
{
	addLayoutSnapshots({QStringLiteral("Alpha"), QStringLiteral("Beta & Co"), QStringLiteral("Gamma")});
	writeTestBytes(settingsPath(), R"({"snapshotOrder": ["Gamma.json", "Alpha.json"]})");
	start();
	// Without OBS's Docks menu it goes into the Tools menu.
	ASSERT_TRUE(probe(velkin).layoutsMenuAction());
	EXPECT_EQ(probe(velkin).layoutsMenuAction()->menu(), probe(velkin).layoutsSubmenu().data());
	EXPECT_EQ(probe(velkin).layoutsMenuAction()->text(), localeText("LayoutsMenu"));

	QStringList undoDisabled = tail();
	undoDisabled[2] = QLatin1Char('(') + undoDisabled[2] + QLatin1Char(')');
	EXPECT_EQ(shown(),
		  QStringList({QStringLiteral("Gamma"), QStringLiteral("Alpha"), QStringLiteral("Beta && Co")}) +
			  undoDisabled);

	// A load from the menu is an attended load of its own source; it becomes last, and undo can take it back.
	hotkeyBindingsFromJson(probe(velkin).loadHotkeys().value(path(QStringLiteral("Alpha"))),
			       QJsonArray{QJsonObject{{QStringLiteral("key"), QStringLiteral("OBS_KEY_F9")}}});
	row(QStringLiteral("Beta && Co"))->trigger();
	EXPECT_EQ(probe(velkin).last(), path(QStringLiteral("Beta & Co")));
	EXPECT_EQ(sources, QStringList{QStringLiteral("menu")});
	EXPECT_EQ(shown(), QStringList({QStringLiteral("Gamma"), QStringLiteral("Alpha\tF9"),
					QStringLiteral("[x] Beta && Co")}) +
				   tail());
}

TEST_F(LayoutsMenuTest, TwentyRowsAtMostThenMoreAndTheDocksMenuWhenThereIsOne)
{
	QMenu *docks = window->menuBar()->addMenu(QStringLiteral("Docks"));
	docks->setObjectName(QStringLiteral("menuDocks"));
	docks->addAction(QStringLiteral("Reset UI"));
	QStringList names;
	for (int i = 1; i <= 25; ++i) {
		names.append(QStringLiteral("Layout %1").arg(i, 2, 10, QLatin1Char('0')));
	}
	addLayoutSnapshots(names);
	start();
	// After OBS's own entries and a separator.
	ASSERT_EQ(docks->actions().size(), 3);
	EXPECT_TRUE(docks->actions().at(1)->isSeparator());
	EXPECT_EQ(docks->actions().at(2)->menu(), probe(velkin).layoutsSubmenu().data());

	// Opening the submenu keeps the pictures of the manager's rows beyond its own.
	const QString beyond = path(names.last());
	probe(velkin).layoutsMenu().pictureHtml(beyond, 1);
	const QStringList texts = shown();
	EXPECT_TRUE(probe(velkin).layoutPictures().contains(beyond));
	EXPECT_EQ(texts.mid(0, 20), names.mid(0, 20));
	EXPECT_EQ(texts.at(20), localeText("LayoutsMore"));
	EXPECT_EQ(texts.size(), 21 + tail().size());

	// The submenu follows the list: a snapshot deleted behind the plug-in's back is gone from it.
	QFile::remove(path(QStringLiteral("Layout 01")));
	EXPECT_EQ(shown().first(), QStringLiteral("Layout 02"));
	EXPECT_EQ(shown().mid(0, 20), names.mid(1, 20));

	// Shutdown takes the submenu and its separator out of OBS's menu.
	velkin->shutdown();
	EXPECT_EQ(docks->actions().size(), 1);
}

// Beside the menu, level with the row: right where there is room, else left, else on the roomier side.
TEST(LayoutPicturePlaceTest, BesideTheMenuWhereTheScreenHasRoom)
{
	const QRect screen(0, 0, 1920, 1080);
	const struct {
		const char *what;
		QRect menu;
		int rowTop;
		QSize size;
		QRect screen;
		QPoint expected;
	} cases[] = {
		{"room on the right", QRect(100, 100, 200, 300), 150, QSize(400, 300), screen, QPoint(304, 150)},
		{"no room on the right", QRect(1600, 100, 200, 300), 150, QSize(400, 300), screen, QPoint(1196, 150)},
		{"a row low on the screen", QRect(100, 700, 200, 370), 1000, QSize(400, 300), screen, QPoint(304, 780)},
		{"room on neither side", QRect(300, 100, 200, 300), 100, QSize(400, 300), QRect(0, 0, 800, 600),
		 QPoint(400, 100)},
		{"a second screen on the left", QRect(-500, 100, 200, 300), 120, QSize(400, 300),
		 QRect(-1280, 0, 1280, 1024), QPoint(-904, 120)},
	};
	for (const auto &c : cases) {
		EXPECT_EQ(placeBesideMenu(c.menu, c.rowTop, c.size, c.screen), c.expected) << c.what;
	}
}

// A snapshot's row in the submenu, rested on: its picture shows beside the submenu, clear of its entries.
TEST_F(LayoutsMenuTest, APicturesWindowOpensBesideTheSubmenuNeverOverIt)
{
	window->setGeometry(100, 100, 1000, 700);
	addLayoutSnapshots({QStringLiteral("Alpha"), QStringLiteral("Beta")});
	start();
	QMenu *menu = probe(velkin).layoutsSubmenu();
	const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
	// Near the right edge, where a picture to the right has no room.
	for (const QPoint at : {QPoint(screen.left() + 50, 200), QPoint(screen.right() - 250, 200)}) {
		menu->popup(at);
		ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
		menu->setActiveAction(row(QStringLiteral("Beta")));
		ASSERT_TRUE(QTest::qWaitFor([] { return LayoutPicturePopup::shownToolTip() != nullptr; }, 3000));
		auto *picture = qobject_cast<QLabel *>(LayoutPicturePopup::shownToolTip());
		ASSERT_TRUE(picture);
		EXPECT_TRUE(picture->text().contains(QLatin1String("<img ")))
			<< picture->text().left(200).toStdString();
		const QRect menuRect = menu->geometry();
		const QRect pictureRect = picture->geometry();
		EXPECT_FALSE(pictureRect.intersects(menuRect)) << at.x();
		EXPECT_TRUE(pictureRect.left() > menuRect.right() || pictureRect.right() < menuRect.left()) << at.x();
		EXPECT_TRUE(screen.contains(pictureRect)) << at.x();
		// Another entry hides it, a snapshot's row shows it again, and closing the menu hides it.
		menu->setActiveAction(menu->actions().last());
		EXPECT_TRUE(QTest::qWaitFor([] { return LayoutPicturePopup::shownToolTip() == nullptr; }, 3000));
		menu->setActiveAction(row(QStringLiteral("Alpha")));
		EXPECT_TRUE(QTest::qWaitFor([] { return LayoutPicturePopup::shownToolTip() != nullptr; }, 3000));
		menu->close();
		EXPECT_TRUE(QTest::qWaitFor([] { return LayoutPicturePopup::shownToolTip() == nullptr; }, 3000));
	}
}

// A picture is drawn once for a file as it is, in the theme as it is; a change of either draws it anew, and the
// pictures of files that are gone are dropped.
TEST_F(LayoutsMenuTest, APictureIsKeptUntilTheFileOrTheThemeChangesAndGoesWithTheFile)
{
	addLayoutSnapshots({QStringLiteral("Alpha"), QStringLiteral("Beta")});
	start();
	const QString alpha = path(QStringLiteral("Alpha"));
	const QString first = probe(velkin).layoutsMenu().pictureHtml(alpha, 1);
	ASSERT_TRUE(first.startsWith(QLatin1String("<img ")));
	EXPECT_EQ(probe(velkin).layoutsMenu().pictureHtml(alpha, 1), first);

	// Another theme.
	const QPalette before = QApplication::palette();
	QPalette light = before;
	light.setColor(QPalette::Button, QColor(250, 250, 250));
	light.setColor(QPalette::ButtonText, QColor(10, 10, 10));
	QApplication::setPalette(light);
	const QString inLight = probe(velkin).layoutsMenu().pictureHtml(alpha, 1);
	QApplication::setPalette(before);
	EXPECT_NE(inLight, first);
	EXPECT_EQ(probe(velkin).layoutsMenu().pictureHtml(alpha, 1), first);
	// Another pixel ratio: twice the pixels at the same size.
	EXPECT_NE(probe(velkin).layoutsMenu().pictureHtml(alpha, 2), first);

	// Another layout in the file, with the file's time put back: its size tells.
	const QDateTime modified = QFileInfo(alpha).fileTime(QFileDevice::FileModificationTime);
	SnapshotData data;
	ASSERT_EQ(readSnapshotFile(alpha, data), SnapshotIoResult::Ok);
	window->addDockWidget(Qt::RightDockWidgetArea, window->findChildren<QDockWidget *>().first());
	QApplication::processEvents();
	data.state = window->saveState(0);
	data.docks.append(QStringLiteral("aMuchLongerDockNameThatMakesTheFileLarger"));
	ASSERT_EQ(writeSnapshotFile(alpha, data), SnapshotIoResult::Ok);
	QFile file(alpha);
	ASSERT_TRUE(file.open(QIODevice::ReadWrite));
	ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
	file.close();
	EXPECT_NE(probe(velkin).layoutsMenu().pictureHtml(alpha, 1), first);

	// Gone with the file at the next look at the folder.
	EXPECT_TRUE(probe(velkin).layoutPictures().contains(alpha));
	QFile::remove(alpha);
	shown();
	EXPECT_FALSE(probe(velkin).layoutPictures().contains(alpha));
}

// A tool tip is rich text with its text escaped, with or without a picture: a name is never read as markup.
TEST_F(LayoutsMenuTest, AToolTipNeverReadsTheNameAsMarkup)
{
	addLayoutSnapshots({QStringLiteral("Alpha")});
	const QString broken =
		writeTestDocument(snapshotDirectory(), QStringLiteral("Broken.json"), QStringLiteral("<h1>Big</h1>"));
	start();
	for (const QString &file : {path(QStringLiteral("Alpha")), broken}) {
		const QString tip =
			probe(velkin).layoutsMenu().toolTipWithPicture(file, QStringLiteral("<h1>Big</h1>\nline"), 1);
		EXPECT_TRUE(tip.startsWith(QLatin1String("<qt>"))) << tip.toStdString();
		EXPECT_FALSE(tip.contains(QLatin1String("<h1>"))) << tip.toStdString();
		EXPECT_TRUE(tip.contains(QLatin1String("&lt;h1&gt;Big&lt;/h1&gt;"))) << tip.toStdString();
	}
	EXPECT_FALSE(probe(velkin)
			     .layoutsMenu()
			     .toolTipWithPicture(broken, QStringLiteral("x"), 1)
			     .contains(QLatin1String("<img")));
}

} // namespace
