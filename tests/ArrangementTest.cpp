#include "support/Arrangement.hpp"
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

// The words that the real-host checks take for a layout that the plug-in did not make: each must do to the window
// what it says, or say why it could not.
struct ArrangementCase {
	const char *what;
	QStringList words;
	QString error;
	std::function<void(QMainWindow &)> expectations;
};

TEST(ArrangementTest, WordsArrangeTheWindowOrSayWhyNot)
{
	const auto word = [](const char *text) { return QString::fromLatin1(text); };
	const ArrangementCase cases[] = {
		{"a side",
		 {word("right:mixerDock")},
		 QString(),
		 [](QMainWindow &window) {
			 EXPECT_EQ(window.dockWidgetArea(dockOf(window, "mixerDock")), Qt::RightDockWidgetArea);
			 EXPECT_EQ(window.dockWidgetArea(dockOf(window, "scenesDock")), Qt::BottomDockWidgetArea);
		 }},
		{"a split below",
		 {word("left:scenesDock"), word("split:scenesDock:controlsDock:v")},
		 QString(),
		 [](QMainWindow &window) {
			 QDockWidget *scenes = dockOf(window, "scenesDock");
			 QDockWidget *controls = dockOf(window, "controlsDock");
			 EXPECT_EQ(window.dockWidgetArea(controls), Qt::LeftDockWidgetArea);
			 EXPECT_EQ(controls->x(), scenes->x());
			 EXPECT_GT(controls->y(), scenes->y());
		 }},
		{"a tab group",
		 {word("tab:scenesDock:sourcesDock")},
		 QString(),
		 [](QMainWindow &window) {
			 EXPECT_TRUE(window.tabifiedDockWidgets(dockOf(window, "scenesDock"))
					     .contains(dockOf(window, "sourcesDock")));
		 }},
		{"a floating dock",
		 {word("float:statsDock:1000,140,420,300")},
		 QString(),
		 [](QMainWindow &window) {
			 const QDockWidget *stats = dockOf(window, "statsDock");
			 EXPECT_TRUE(stats->isFloating());
			 EXPECT_TRUE(stats->isVisible());
			 EXPECT_EQ(stats->size(), QSize(420, 300));
		 }},
		{"floating, then docked",
		 {word("float:mixerDock"), word("top:mixerDock")},
		 QString(),
		 [](QMainWindow &window) {
			 EXPECT_FALSE(dockOf(window, "mixerDock")->isFloating());
			 EXPECT_EQ(window.dockWidgetArea(dockOf(window, "mixerDock")), Qt::TopDockWidgetArea);
		 }},
		{"hidden and shown",
		 {word("hide:transitionsDock"), word("show:statsDock")},
		 QString(),
		 [](QMainWindow &window) {
			 EXPECT_FALSE(dockOf(window, "transitionsDock")->isVisible());
			 EXPECT_TRUE(dockOf(window, "statsDock")->isVisible());
		 }},
		{"a width",
		 {word("right:mixerDock"), word("width:mixerDock:330")},
		 QString(),
		 [](QMainWindow &window) { EXPECT_EQ(dockOf(window, "mixerDock")->width(), 330); }},
		{"the window",
		 {word("window:100,90,1200,760")},
		 QString(),
		 [](QMainWindow &window) { EXPECT_EQ(window.size(), QSize(1200, 760)); }},
		{"an unknown action, after a word that stays done",
		 {word("hide:scenesDock"), word("middle:mixerDock")},
		 word("unknown action in middle:mixerDock"),
		 [](QMainWindow &window) { EXPECT_FALSE(dockOf(window, "scenesDock")->isVisible()); }},
		{"a dock that is not there",
		 {word("right:chatDock")},
		 word("no dock in right:chatDock"),
		 [](QMainWindow &) {}},
		{"a tab group of one",
		 {word("tab:scenesDock")},
		 word("no dock in tab:scenesDock"),
		 [](QMainWindow &) {}},
		{"a window without its rectangle",
		 {word("window:1,2,3")},
		 word("no rectangle in window:1,2,3"),
		 [](QMainWindow &) {}},
	};
	for (const ArrangementCase &c : cases) {
		SCOPED_TRACE(c.what);
		QMainWindow window;
		buildDockWindow(&window, obsCoreDockPlan(QRect(60, 60, 1280, 800)));
		EXPECT_EQ(arrangeDocks(&window, c.words), c.error);
		c.expectations(window);
	}
}

} // namespace
