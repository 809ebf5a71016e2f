#include "settings/SettingsFile.hpp"
#include "support/ControllerTest.hpp"
#include "support/Documents.hpp"
#include "support/DockWindow.hpp"

#include <QAction>
#include <QJsonArray>
#include <QMenu>
#include <QMenuBar>

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
		velkin->remoteEventSink = [this](const char *type, const QJsonObject &data) {
			if (QByteArray(type) == "SnapshotLoaded") {
				sources.append(data.value(QStringLiteral("source")).toString());
			}
		};
		standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		QApplication::processEvents();
	}

	// The submenu as it shows: its texts, with a check mark as "[x] " and a disabled entry as "(...)".
	QStringList shown()
	{
		velkin->layoutsMenu->aboutToShow();
		QStringList texts;
		for (const QAction *action : velkin->layoutsMenu->actions()) {
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
		for (QAction *action : velkin->layoutsMenu->actions()) {
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
	return {QStringLiteral("---"), localeText("LayoutsSaveAs"), localeText("UndoLoad"),
		localeText("LayoutsManage")};
}

TEST_F(LayoutsMenuTest, TheSubmenuListsTheSnapshotsInOrderWithTheLastCheckedAndItsKeys)
{
	addLayoutSnapshots({QStringLiteral("Alpha"), QStringLiteral("Beta & Co"), QStringLiteral("Gamma")});
	writeTestBytes(settingsPath(), R"({"snapshotOrder": ["Gamma.json", "Alpha.json"]})");
	start();
	// Without OBS's Docks menu it goes into the Tools menu.
	ASSERT_TRUE(velkin->layoutsMenuAction);
	EXPECT_EQ(velkin->layoutsMenuAction->menu(), velkin->layoutsMenu.data());
	EXPECT_EQ(velkin->layoutsMenuAction->text(), localeText("LayoutsMenu"));

	QStringList undoDisabled = tail();
	undoDisabled[2] = QLatin1Char('(') + undoDisabled[2] + QLatin1Char(')');
	EXPECT_EQ(shown(),
		  QStringList({QStringLiteral("Gamma"), QStringLiteral("Alpha"), QStringLiteral("Beta && Co")}) +
			  undoDisabled);

	// A load from the menu is an attended load of its own source; it becomes last, and undo can take it back.
	hotkeyBindingsFromJson(velkin->loadHotkeys.value(path(QStringLiteral("Alpha"))),
			       QJsonArray{QJsonObject{{QStringLiteral("key"), QStringLiteral("OBS_KEY_F9")}}});
	row(QStringLiteral("Beta && Co"))->trigger();
	EXPECT_EQ(velkin->last, path(QStringLiteral("Beta & Co")));
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
	EXPECT_EQ(docks->actions().at(2)->menu(), velkin->layoutsMenu.data());

	const QStringList texts = shown();
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

} // namespace
