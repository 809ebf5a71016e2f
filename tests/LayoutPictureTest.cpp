#include "dialog/LayoutPicture.hpp"
#include "operations/Layout.hpp"
#include "support/DockWindow.hpp"

#include <QDockWidget>
#include <QMainWindow>

#include <gtest/gtest.h>

#include <functional>

namespace {

QDockWidget *dockOf(QMainWindow &window, const char *name)
{
	return window.findChild<QDockWidget *>(QString::fromLatin1(name));
}

TEST(LayoutPictureTest, EachShownDockIsABoxInItsPlaceWithItsTitle)
{
	const struct {
		const char *what;
		std::function<void(QMainWindow &)> arrange;
		QStringList titles;
		const char *floating;
	} cases[] = {
		{"docks along the bottom",
		 [](QMainWindow &) {},
		 {"Audio Mixer", "Controls", "Scene Transitions", "Scenes", "Sources"},
		 nullptr},
		{"docks on the right",
		 [](QMainWindow &w) {
			 w.addDockWidget(Qt::RightDockWidgetArea, dockOf(w, "mixerDock"));
			 w.addDockWidget(Qt::RightDockWidgetArea, dockOf(w, "controlsDock"));
		 },
		 {"Audio Mixer", "Controls", "Scene Transitions", "Scenes", "Sources"},
		 nullptr},
		{"a tab group shows its current tab only",
		 [](QMainWindow &w) { w.tabifyDockWidget(dockOf(w, "scenesDock"), dockOf(w, "sourcesDock")); },
		 {"Audio Mixer", "Controls", "Scene Transitions", "Sources"},
		 nullptr},
		{"a hidden dock is left out",
		 [](QMainWindow &w) { dockOf(w, "transitionsDock")->hide(); },
		 {"Audio Mixer", "Controls", "Scenes", "Sources"},
		 nullptr},
		{"a floating dock where it floats",
		 [](QMainWindow &w) {
			 dockOf(w, "statsDock")->show();
			 dockOf(w, "statsDock")->setFloating(true);
			 dockOf(w, "statsDock")->setGeometry(1500, 300, 420, 300);
		 },
		 {"Audio Mixer", "Controls", "Scene Transitions", "Scenes", "Sources", "Stats"},
		 "Stats"},
	};
	for (const auto &c : cases) {
		QMainWindow maker;
		buildDockWindow(&maker, obsCoreDockPlan(QRect(100, 80, 1200, 760)));
		c.arrange(maker);
		QApplication::processEvents();
		const SnapshotData data = captureLayout(&maker, QStringLiteral("Picture"));
		QHash<QString, QString> titles;
		for (const QDockWidget *dock : maker.findChildren<QDockWidget *>()) {
			titles.insert(dock->objectName(), dock->windowTitle());
		}

		const std::optional<LayoutPictureGeometry> geometry = layoutPictureGeometry(data, titles);
		ASSERT_TRUE(geometry) << c.what;
		EXPECT_EQ(geometry->window, QRect(0, 0, 1200, 760)) << c.what;
		QStringList shown;
		for (const LayoutPictureBox &box : geometry->docks) {
			shown.append(box.title);
			if (box.floating) {
				EXPECT_EQ(box.title, QLatin1String(c.floating)) << c.what;
				EXPECT_EQ(
					box.rect,
					dockOf(maker, "statsDock")->geometry().translated(-maker.geometry().topLeft()))
					<< c.what;
			} else {
				EXPECT_TRUE(geometry->window.contains(box.rect))
					<< c.what << ": " << box.title.toStdString();
			}
		}
		shown.sort();
		EXPECT_EQ(shown, c.titles) << c.what;
		// The stand-in never showed anything on screen.
		EXPECT_FALSE(maker.isHidden());
		const QImage picture = drawLayoutPicture(*geometry);
		EXPECT_LE(std::abs(picture.width() - 240), 1) << c.what;
		EXPECT_LE(picture.height(), 241) << c.what;
	}

	// A snapshot that the stand-in refuses has no picture.
	SnapshotData broken;
	broken.geometry = QByteArray(66, '\x07');
	broken.state = QByteArray("not a state");
	EXPECT_FALSE(layoutPictureGeometry(broken, {}));
}

} // namespace
