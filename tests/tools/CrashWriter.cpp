// Saves three snapshot documents, settings.json and the kept layout on screen through the controller, generation after
// generation, until it is killed: velkin-crash-writer FOLDER [--once]. It prints "ready" once it starts writing.
#include "module/Velkin.hpp"
#include "store/SnapshotDocument.hpp"
#include "support/FrontendStandIn.hpp"
#include "support/TestHost.hpp"
#include "support/VelkinProbe.hpp"

#include <QApplication>
#include <QDir>
#include <QMainWindow>

#include <cstdio>

int main(int argc, char **argv)
{
	qputenv("QT_QPA_PLATFORM", "offscreen");
	QApplication app(argc, argv);
	const QStringList args = app.arguments();
	if (args.size() < 2 || !testhost::start()) {
		return 2;
	}
	const QString folder = args.at(1);
	auto *window = new QMainWindow;
	standin::mainWindow = window;
	auto *controller = new Velkin(window);
	VelkinProbe state{*controller};
	state.snapshotDirectory() = folder + QStringLiteral("/snapshots");
	state.settingsPath() = folder + QStringLiteral("/settings.json");
	state.ready() = true;
	QDir().mkpath(state.snapshotDirectory());
	// The kept layout is the window's: a shown window whose width tells the generation.
	window->show();

	printf("ready\n");
	fflush(stdout);
	for (long generation = 0;; ++generation) {
		for (int k = 1; k <= 3; ++k) {
			SnapshotData data;
			data.name = QStringLiteral("S%1").arg(k);
			// Large enough that a write takes a while, so that kills land inside writes too.
			data.state = QByteArray("generation ") + QByteArray::number(generation) + ' ' +
				     QByteArray(64 * 1024, 's');
			data.geometry = QByteArray("geometry ") + QByteArray::number(generation);
			data.docks = {QStringLiteral("scenesDock")};
			writeSnapshotFile(QDir(state.snapshotDirectory()).filePath(data.name + QStringLiteral(".json")),
					  data);
		}
		state.last() = QStringLiteral("%1/generation-%2.json").arg(state.snapshotDirectory()).arg(generation);
		state.snapshotOrder() = {QStringLiteral("S1.json"), QStringLiteral("S2.json"),
					 QStringLiteral("S3.json")};
		controller->saveSettings();
		window->resize(400 + int(generation % 1000), 300);
		state.keepLayoutNow(folder + QStringLiteral("/layout-on-screen.json"));
		if (args.contains(QStringLiteral("--once"))) {
			break;
		}
	}
	delete window;
	testhost::stop();
	return 0;
}
