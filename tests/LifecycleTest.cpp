#include "base/Log.hpp"
#include "module/Module.hpp"
#include "module/Velkin.hpp"
#include "operations/LayoutCapture.hpp"
#include "store/SnapshotDocument.hpp"
#include "support/ControllerTest.hpp"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>

#include <gtest/gtest.h>
#include <obs.h>
#include <util/platform.h>

#include <thread>

extern "C" {
bool obs_module_load(void);
void obs_module_unload(void);
uint32_t obs_module_ver(void);
void obs_module_set_locale(const char *locale);
void obs_module_free_locale(void);
const char *obs_module_name(void);
const char *obs_module_description(void);
bool obs_module_get_string(const char *key, const char **out);
}

namespace {

// The module's own entry points create and destroy the controller here.
class LifecycleTest : public ControllerTest {
protected:
	void TearDown() override
	{
		obs_module_unload();
		ControllerTest::TearDown();
	}

	QList<Velkin *> controllers() const
	{
		QList<Velkin *> found;
		for (QObject *child : window->children()) {
			if (auto *velkin = dynamic_cast<Velkin *>(child)) {
				found.append(velkin);
			}
		}
		return found;
	}

	Velkin *controller() const
	{
		const auto all = controllers();
		return all.size() == 1 ? all.first() : nullptr;
	}

	QList<QAction *> toolsActions() const
	{
		QMenu *menu = standin::toolsMenu();
		return menu ? menu->actions() : QList<QAction *>();
	}

	static QString loadLine()
	{
		return QStringLiteral("[obs-velkin] Loaded version %1 (OBS %2.%3.%4)")
			.arg(QLatin1String(kModuleVersion))
			.arg(LIBOBS_API_MAJOR_VER)
			.arg(LIBOBS_API_MINOR_VER)
			.arg(LIBOBS_API_PATCH_VER);
	}
};

TEST_F(LifecycleTest, LoadCreatesOneControllerOnTheMainWindow)
{
	ASSERT_TRUE(obs_module_load());
	ASSERT_NE(controller(), nullptr);
	Velkin *velkin = controller();
	EXPECT_EQ(velkin->parent(), window.data());
	EXPECT_EQ(probe(velkin).mainWindow().data(), window.data());
	const QString base = testhost::configDirectory() + QStringLiteral("/obs-velkin/");
	EXPECT_EQ(QDir::cleanPath(probe(velkin).snapshotDirectory()),
		  QDir::cleanPath(base + QStringLiteral("snapshots")));
	EXPECT_EQ(QDir::cleanPath(probe(velkin).settingsPath()),
		  QDir::cleanPath(base + QStringLiteral("settings.json")));
	EXPECT_FALSE(QFileInfo::exists(probe(velkin).snapshotDirectory())) << "construction creates no directory";
	EXPECT_FALSE(probe(velkin).ready());
	EXPECT_NE(probe(velkin).cycleHotkeyId(), OBS_INVALID_HOTKEY_ID);
	EXPECT_NE(probe(velkin).previousHotkeyId(), OBS_INVALID_HOTKEY_ID);
	EXPECT_NE(probe(velkin).openHotkeyId(), OBS_INVALID_HOTKEY_ID);
	EXPECT_TRUE(probe(velkin).loadHotkeys().isEmpty()) << "snapshot hotkeys come with activation";
	EXPECT_TRUE(probe(velkin).settingsSaveTimer().isSingleShot());
	EXPECT_FALSE(probe(velkin).settingsSaveTimer().isActive());
	EXPECT_EQ(standin::eventCallbacks.size(), 1u);
	EXPECT_TRUE(toolsActions().isEmpty());
	EXPECT_EQ(testhost::countLogLines(loadLine()), 1);

	// A second load is refused and changes nothing.
	EXPECT_FALSE(obs_module_load());
	EXPECT_EQ(controllers().size(), 1);
	EXPECT_EQ(standin::eventCallbacks.size(), 1u);
	EXPECT_EQ(testhost::countLogLines(loadLine()), 1);

	obs_module_unload();
	EXPECT_TRUE(controllers().isEmpty());
	EXPECT_TRUE(standin::eventCallbacks.empty());
}

TEST_F(LifecycleTest, LoadIsRefusedWithoutMainWindowOrOffItsThread)
{
	standin::mainWindow = nullptr;
	EXPECT_FALSE(obs_module_load());
	standin::mainWindow = window;

	bool fromOtherThread = true;
	std::thread other([&] { fromOtherThread = obs_module_load(); });
	other.join();
	EXPECT_FALSE(fromOtherThread);
	EXPECT_TRUE(controllers().isEmpty());
	EXPECT_TRUE(standin::eventCallbacks.empty());
	EXPECT_TRUE(testhost::pluginLogLines().isEmpty());

	// The refusals left the module able to load normally.
	EXPECT_TRUE(obs_module_load());
}

TEST_F(LifecycleTest, UnloadWithoutLoadDoesNothing)
{
	obs_module_unload();
	obs_module_unload();
	EXPECT_TRUE(standin::eventCallbacks.empty());
	EXPECT_TRUE(testhost::pluginLogLines().isEmpty());
	EXPECT_TRUE(obs_module_load());
}

TEST_F(LifecycleTest, FinishedLoadingActivatesOnce)
{
	ASSERT_TRUE(obs_module_load());
	Velkin *velkin = controller();
	standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	EXPECT_TRUE(probe(velkin).ready());
	// The manager's entry, and the Dock Layouts submenu, which goes here when OBS has no Docks menu.
	ASSERT_EQ(toolsActions().size(), 2);
	EXPECT_EQ(toolsActions().first(), probe(velkin).toolsMenuAction().data());
	EXPECT_EQ(toolsActions().first()->text(), localeText("Title"));
	EXPECT_EQ(toolsActions().last()->menu(), probe(velkin).layoutsSubmenu().data());
	EXPECT_NE(localeText("Title"), QStringLiteral("Title"));

	standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	EXPECT_EQ(toolsActions().size(), 2);

	// Unrelated events change nothing.
	standin::fireEvent(OBS_FRONTEND_EVENT_SCENE_CHANGED);
	EXPECT_TRUE(probe(velkin).ready());
	EXPECT_FALSE(probe(velkin).shuttingDown());
}

TEST_F(LifecycleTest, ExitShutsDownOnceAndUnloadThenOnlyDeletes)
{
	ASSERT_TRUE(obs_module_load());
	QPointer<Velkin> velkin = controller();
	standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	QPointer<QAction> action = probe(velkin).toolsMenuAction();
	probe(velkin).managerDialog() = new QDialog(window);
	QPointer<QDialog> firstDialog = probe(velkin).managerDialog();
	probe(velkin).settingsSaveTimer().start(100000);

	standin::fireEvent(OBS_FRONTEND_EVENT_EXIT);
	EXPECT_TRUE(probe(velkin).shuttingDown());
	EXPECT_FALSE(probe(velkin).settingsSaveTimer().isActive());
	EXPECT_TRUE(standin::eventCallbacks.empty());
	EXPECT_TRUE(action.isNull());
	EXPECT_TRUE(probe(velkin).toolsMenuAction().isNull());
	EXPECT_TRUE(firstDialog.isNull());
	EXPECT_TRUE(toolsActions().isEmpty());

	// Events after shutdown are ignored, and the destructor does not shut down a second time:
	// a dialog that appeared after the exit is not deleted by unload.
	velkin->onFrontendEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	EXPECT_TRUE(toolsActions().isEmpty());
	QPointer<QDialog> survivor = new QDialog;
	probe(velkin).managerDialog() = survivor;
	obs_module_unload();
	EXPECT_TRUE(velkin.isNull());
	EXPECT_FALSE(survivor.isNull());
	delete survivor.data();
	EXPECT_TRUE(controllers().isEmpty());
}

TEST_F(LifecycleTest, DestroyingTheMainWindowTakesTheControllerAlong)
{
	ASSERT_TRUE(obs_module_load());
	QPointer<Velkin> velkin = controller();
	standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	delete window.data();
	EXPECT_TRUE(velkin.isNull());
	EXPECT_TRUE(standin::eventCallbacks.empty());
	obs_module_unload();

	// A new main window can take a new controller afterwards.
	window = new QMainWindow;
	standin::mainWindow = window;
	EXPECT_TRUE(obs_module_load());
	EXPECT_EQ(controllers().size(), 1);
}

TEST_F(LifecycleTest, QuittingWhileAQuestionWaitsKeepsTheControllerUntilUnload)
{
	ASSERT_TRUE(obs_module_load());
	QPointer<Velkin> velkin = controller();
	standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	SnapshotData data = captureLayout(window, QStringLiteral("Elsewhere"));
	data.docks.append(QStringLiteral("chatDock"));
	const QString path = probe(velkin).snapshotPath(QStringLiteral("Elsewhere.json"));
	ASSERT_EQ(writeSnapshotFile(path, data), SnapshotIoResult::Ok);
	// While the question about the missing dock waits, OBS quits as OBS 32 does: the exit event, the main window
	// deleted, then every event loop ends.
	bool quit = false;
	QTimer::singleShot(300, [this, &quit] {
		standin::fireEvent(OBS_FRONTEND_EVENT_EXIT);
		delete window.data();
		for (QWidget *widget : QApplication::topLevelWidgets()) {
			if (auto *box = qobject_cast<QMessageBox *>(widget)) {
				box->reject();
				quit = true;
			}
		}
	});
	EXPECT_EQ(velkin->loadSnapshot(path, LoadSource::Hotkey, nullptr), LoadResult::Cancelled);
	EXPECT_TRUE(quit) << "no question was asked";
	EXPECT_FALSE(velkin.isNull()) << "the controller went while its question was on the stack";
	obs_module_unload();
	EXPECT_TRUE(velkin.isNull());
	window = new QMainWindow;
	standin::mainWindow = window;
}

TEST_F(LifecycleTest, LocaleTextFallsBackToTheKey)
{
	EXPECT_EQ(localeText("NoSuchKey"), QStringLiteral("NoSuchKey"));
	EXPECT_EQ(testhost::takeMissingTexts(), QStringList{QStringLiteral("\"NoSuchKey\"")});
	const char *keys[] = {
		"Title",
		"Help",
		"SearchPrompt",
		"Search",
		"SearchNotFound",
		"SaveNew",
		"Overwrite",
		"Load",
		"Rename",
		"Delete",
		"Import",
		"Export",
		"Refresh",
		"OpenFolder",
		"Author",
		"Modified",
		"Continue",
		"Cancel",
		"NamePrompt",
		"Save",
		"ConfirmOverwrite",
		"MissingDocks",
		"ConfirmDelete",
		"FileFilter",
		"DirectoryFailed",
		"SnapshotLimit",
		"InvalidName",
		"DuplicateName",
		"ReadFailed",
		"WriteFailed",
		"RenameFailed",
		"RestoreFailed",
		"DeleteFailed",
		"OpenFolderFailed",
		"CycleHotkey",
		"PreviousHotkey",
		"OpenHotkey",
		"LoadHotkey",
		"LayoutsMenu",
		"LayoutsSaveAs",
		"LayoutsManage",
		"LayoutsMore",
	};
	for (const char *key : keys) {
		const char *text = nullptr;
		EXPECT_TRUE(obs_module_get_string(key, &text)) << key << " is missing from en-US.ini";
		EXPECT_EQ(localeText(key), QString::fromUtf8(text ? text : ""));
		EXPECT_FALSE(localeText(key).contains(QLatin1Char('\\'))) << key;
	}
	for (const char *key : {"Modified", "ConfirmOverwrite", "MissingDocks", "ConfirmDelete", "LoadHotkey"}) {
		EXPECT_TRUE(localeText(key).contains(QStringLiteral("%1"))) << key;
	}

	// Without a locale table every text is its key: the menu entry reads "Title".
	obs_module_free_locale();
	EXPECT_EQ(localeText("Title"), QStringLiteral("Title"));
	ASSERT_TRUE(obs_module_load());
	standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	ASSERT_EQ(toolsActions().size(), 2);
	EXPECT_EQ(toolsActions().first()->text(), QStringLiteral("Title"));
	obs_module_set_locale("xx-XX");
	EXPECT_NE(localeText("Title"), QStringLiteral("Title")) << "an unknown locale falls back to en-US";
	// Without the table every text was missing, and the log said so.
	EXPECT_TRUE(testhost::takeMissingTexts().contains(QStringLiteral("\"Title\"")));
}

TEST_F(LifecycleTest, ModuleReportsItsIdentityAndTheLibobsItWasBuiltFor)
{
	EXPECT_EQ(obs_module_ver(), uint32_t(LIBOBS_API_VER));
	EXPECT_STREQ(obs_module_name(), "OBS-Velkin");
	EXPECT_STREQ(obs_module_description(), "Save and restore OBS dock layout snapshots.");
	EXPECT_EQ(QString::fromLatin1(kHostVersionString), QStringLiteral("%1.%2.%3")
								   .arg(LIBOBS_API_MAJOR_VER)
								   .arg(LIBOBS_API_MINOR_VER)
								   .arg(LIBOBS_API_PATCH_VER));

	// The built plug-in file exports every entry point under its plain name.
	void *library = obs_get_module_lib(testhost::module());
	ASSERT_NE(library, nullptr);
	for (const char *symbol :
	     {"obs_module_set_pointer", "obs_module_ver", "obs_module_set_locale", "obs_module_free_locale",
	      "obs_module_get_string", "obs_module_name", "obs_module_description", "obs_module_author",
	      "obs_module_load", "obs_module_unload"}) {
		EXPECT_NE(os_dlsym(library, symbol), nullptr) << symbol;
	}
}

} // namespace
