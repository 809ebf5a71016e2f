#include "settings/SettingsFile.hpp"
#include "store/SnapshotNames.hpp"
#include "support/ControllerTest.hpp"
#include "support/DockWindow.hpp"
#include "support/Modal.hpp"

#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QTest>

#include <obs.h>

#include <functional>
#include <memory>

// The module's configuration path as OBS hands it over is not always absolute and clean: portable mode gives a
// path relative to the program folder, an XDG_CONFIG_HOME ending in "/" gives "//", and the folder may be reached
// through a link or lie under a name full of spaces and accents. Every user action must work there exactly as it
// does with the clean path.

namespace {

const QJsonArray kF9{QJsonObject{{QStringLiteral("key"), QStringLiteral("OBS_KEY_F9")}}};

struct PathForm {
	const char *name;
	// Makes the folders for a run under base; returns the configuration path as OBS would give it and the real
	// folder it names. May change the working folder, as OBS's own program folder is.
	std::function<QString(const QString &base, QString &real)> make;
};

QString cleanForm(const QString &base, QString &real)
{
	real = base + QStringLiteral("/config");
	return real;
}

const PathForm kForms[] = {
	{"RelativeToTheProgramFolder",
	 [](const QString &base, QString &real) {
		 real = base + QStringLiteral("/config/obs-studio/plugin_config");
		 QDir().mkpath(base + QStringLiteral("/bin/64bit"));
		 QDir::setCurrent(base + QStringLiteral("/bin/64bit"));
		 return QStringLiteral("../../config/obs-studio/plugin_config");
	 }},
	{"DoubledAndTrailingSlashes",
	 [](const QString &base, QString &real) {
		 real = base + QStringLiteral("/config/obs-studio/plugin_config");
		 return base + QStringLiteral("/config//obs-studio/plugin_config/");
	 }},
	{"ThroughALink",
	 [](const QString &base, QString &real) {
		 QDir().mkpath(base + QStringLiteral("/synced"));
		 QFile::link(base + QStringLiteral("/synced"), base + QStringLiteral("/link"));
		 real = base + QStringLiteral("/synced/config");
		 return base + QStringLiteral("/link/config");
	 }},
	{"NonAsciiAndSpaces",
	 [](const QString &base, QString &real) {
		 real = base + QStringLiteral("/Stréam Ünïcode 配置 стрим/obs studio config");
		 return real;
	 }},
};

// The action's own question, prompt or file dialog gets the answer once. An error box is closed, and anything
// that asks again is cancelled, so that a failing action ends instead of asking for ever.
ModalAnswer once(const ModalAnswer &answer)
{
	auto used = std::make_shared<bool>(false);
	return [answer, used](QWidget *modal) {
		auto *box = qobject_cast<QMessageBox *>(modal);
		if (box && box->icon() == QMessageBox::Warning) {
			clickOk(modal);
		} else if (!*used) {
			*used = true;
			answer(modal);
		} else {
			clickReject(modal);
		}
	};
}

void PrintTo(const PathForm &form, std::ostream *out)
{
	*out << form.name;
}

class PathFormsTest : public testing::TestWithParam<PathForm> {
protected:
	void TearDown() override
	{
		QDir::setCurrent(workingFolder);
		testhost::restart(testhost::configDirectory());
	}

	// Runs every user action with the configuration path that `make` gives, and describes what they left
	// behind: the files, settings.json with `last` relative to the module's folder, and the load hotkeys.
	QStringList runActions(const char *label, const std::function<QString(const QString &, QString &)> &make)
	{
		const QString base = testhost::scratchDirectory() + QLatin1Char('/') + QLatin1String(label);
		QString real;
		const QString given = make(base, real);
		QDir().mkpath(real);
		if (!testhost::restart(given)) {
			ADD_FAILURE() << "libobs did not start with " << given.toStdString();
			return {};
		}
		testhost::clearLog();

		QMainWindow window;
		addTestDocks(&window, false);
		standin::mainWindow = &window;
		QPointer<Velkin> velkin = new Velkin(&window);

		QList<ModalRecord> records;
		const auto act = [&](const ModalAnswer &answer, const std::function<void()> &work) {
			records += answerModals(once(answer), work);
		};
		const auto pathOf = [&](const char *name) {
			return probe(velkin).snapshotPath(QString::fromUtf8(name));
		};
		const auto select = [&](const char *name) { velkin->refreshSnapshotList(pathOf(name)); };

		standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		EXPECT_TRUE(probe(velkin).ready());
		EXPECT_TRUE(QDir::isAbsolutePath(probe(velkin).snapshotDirectory()));
		EXPECT_EQ(probe(velkin).snapshotDirectory(), QDir::cleanPath(probe(velkin).snapshotDirectory()));
		EXPECT_EQ(QFileInfo(probe(velkin).snapshotDirectory()).canonicalFilePath(),
			  QFileInfo(real + QStringLiteral("/obs-velkin/snapshots")).canonicalFilePath());
		velkin->showManagerDialog();
		act(typeName(QStringLiteral("Live")), [&] { velkin->saveNewSnapshot(); });
		EXPECT_EQ(probe(velkin).last(), pathOf("Live.json")) << "a new snapshot becomes the last one";
		act(typeName(QStringLiteral("Talk")), [&] { velkin->saveNewSnapshot(); });
		hotkeyBindingsFromJson(probe(velkin).loadHotkeys().value(pathOf("Talk.json")), kF9);

		select("Talk.json");
		act(clickAccept, [&] { velkin->overwriteSnapshot(); });
		act(clickAccept, [&] { velkin->renameSnapshot(); });
		act(typeName(QStringLiteral("Chat")), [&] { velkin->renameSnapshot(); });
		select("Chat.json");
		act(typeName(QStringLiteral("chat")), [&] { velkin->renameSnapshot(); });

		// A press queues its load.
		probe(velkin).dispatchHotkey(probe(velkin).loadHotkeys().value(pathOf("Live.json")));
		QCoreApplication::sendPostedEvents();
		EXPECT_EQ(probe(velkin).last(), pathOf("Live.json"));
		EXPECT_EQ(probe(velkin).selectedSnapshotPath(), probe(velkin).last())
			<< "the loaded snapshot is the current row";
		probe(velkin).cycleSnapshot(+1);
		QCoreApplication::sendPostedEvents();
		EXPECT_EQ(probe(velkin).last(), pathOf("chat.json"));

		const QString exported = base + QStringLiteral("/exported/Live.json");
		QDir().mkpath(QFileInfo(exported).path());
		select("Live.json");
		act(chooseFile(exported), [&] { velkin->exportSnapshot(); });
		act(clickAccept, [&] { velkin->deleteSnapshot(); });
		act(chooseFile(exported), [&] { velkin->importSnapshot(); });

		for (const ModalRecord &record : records) {
			EXPECT_NE(record.icon, QMessageBox::Warning) << "error report: " << record.text.toStdString();
		}
		const QStringList plugInLines = testhost::pluginLogLines();
		EXPECT_TRUE(plugInLines.isEmpty()) << plugInLines.join(QLatin1Char('\n')).toStdString();

		QStringList result;
		for (auto it = probe(velkin).loadHotkeys().cbegin(); it != probe(velkin).loadHotkeys().cend(); ++it) {
			EXPECT_EQ(it.key(), probe(velkin).snapshotPath(QFileInfo(it.key()).fileName()));
			result.append(QStringLiteral("hotkey ") + QFileInfo(it.key()).fileName());
		}
		const QString moduleFolder = QFileInfo(probe(velkin).settingsPath()).path();
		delete velkin.data();
		standin::eventCallbacks.clear();

		QDirIterator files(real + QStringLiteral("/obs-velkin"), QDir::Files, QDirIterator::Subdirectories);
		while (files.hasNext()) {
			const QString file = files.next();
			QJsonObject json = QJsonDocument::fromJson(readFile(file)).object();
			if (json.contains(QStringLiteral("last"))) {
				const QString last = json.value(QStringLiteral("last")).toString();
				EXPECT_EQ(last, normalizedPath(last)) << "last is held absolute and clean";
				json.insert(QStringLiteral("last"), QDir(moduleFolder).relativeFilePath(last));
			}
			// The blobs carry the window's state, which a new window need not repeat to the byte.
			json.remove(QStringLiteral("state"));
			json.remove(QStringLiteral("geometry"));
			result.append(QDir(real).relativeFilePath(file) + QLatin1Char(' ') +
				      QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)));
		}
		result.sort();
		return result;
	}

	static QByteArray readFile(const QString &path)
	{
		QFile file(path);
		return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
	}

	const QString workingFolder = QDir::currentPath();
};

TEST_P(PathFormsTest, EveryActionLeavesWhatTheCleanPathLeaves)
{
	const QStringList clean = runActions("clean", cleanForm);
	ASSERT_FALSE(clean.isEmpty());
	// The clean run itself: the binding followed the renames, the re-imported snapshot came back without one.
	EXPECT_TRUE(clean.contains(QStringLiteral("hotkey chat.json")));
	EXPECT_TRUE(clean.filter(QStringLiteral("settings.json "))
			    .join(QString())
			    .contains(QStringLiteral("\"last\":\"snapshots/chat.json\"")))
		<< clean.join(QLatin1Char('\n')).toStdString();
	EXPECT_TRUE(clean.filter(QStringLiteral("settings.json "))
			    .join(QString())
			    .contains(QStringLiteral("\"chat.json\":[{\"key\":\"OBS_KEY_F9\"}]")))
		<< clean.join(QLatin1Char('\n')).toStdString();

	const QStringList odd = runActions(GetParam().name, GetParam().make);
	EXPECT_EQ(odd, clean);
}

INSTANTIATE_TEST_SUITE_P(ConfigurationPaths, PathFormsTest, testing::ValuesIn(kForms),
			 [](const testing::TestParamInfo<PathForm> &info) { return std::string(info.param.name); });

} // namespace
