#pragma once

#include "module/FeatureHost.hpp"
#include "module/OperationListener.hpp"
#include "remote/RemoteDocks.hpp"
#include "remote/WebSocketVendor.hpp"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include <obs.h>

struct SnapshotFolder;

// What the remote requests ask of the controller besides the catalogue, loads and undo.
class RemoteHost : public virtual CatalogueHost, public virtual DockRequestHost {
public:
	// Loads pressed before a request take effect first, as they would one by one.
	virtual void applyPressedLoad() = 0;
	// The events of the snapshot's rules, by their names in automation.json.
	virtual QStringList ruleEventNames(const QString &fileName) const = 0;
	// The snapshot `step` places from the snapshot at `from` in the user's order.
	virtual QString cycleTarget(const QString &from, int step) const = 0;
	// For a save: the snapshot folder, the catalogue of a look at it, the limit judged on that look, and the layout
	// of now stored under a name, as a new file or over the one at oldPath; a stored file becomes `last`.
	virtual QString snapshotFolder() const = 0;
	virtual QList<SnapshotEntry> catalogueOf(const SnapshotFolder &looked) const = 0;
	virtual bool checkSnapshotLimit(const SnapshotFolder &folder) = 0;
	virtual QString storeLayout(const QString &name, const QString &oldPath, SnapshotFolder *looked) = 0;

protected:
	~RemoteHost() = default;
};

// Remote control through obs-websocket's vendor "obs-velkin": its requests, answered on OBS's UI thread, and its
// events. While a request runs, error reports are logged and remembered instead of shown.
class RemoteControl : public QObject, public OperationListener {
public:
	RemoteControl(RemoteHost &host, DockWatcher &watcher);

	// Registers the vendor and its requests. Closing answers Busy what still waits and lets the vendor go; no
	// request reaches the controller after it.
	void open();
	void close();

	QJsonObject answer(const QString &type, const QJsonObject &request);
	// The same with obs-websocket's data, as its thread hands a request over.
	void answer(const char *type, obs_data_t *request, obs_data_t *response);

	void emitEvent(const char *type, const QJsonObject &data);
	// Every load that took effect is announced as "SnapshotLoaded", and then the docks that it changed.
	void layoutLoaded(const LoadedLayout &loaded) override;
	// Announces a catalogue whose files differ from those of the one noted before.
	void noteCatalogue(size_t fingerprint);
	// Every event also goes here when set (the tests listen).
	void setEventListener(std::function<void(const char *type, const QJsonObject &data)> listener);

	// Whether reports are quiet now, and a report to keep quiet: true when it was, so that it is only logged.
	bool reportsQuiet() const { return quietReports; }
	bool keepQuiet(const char *key);

private:
	class Quiet;

	QJsonObject snapshotList();
	QJsonObject load(const QJsonObject &request);
	QJsonObject save(const QJsonObject &request);
	QJsonObject cycle(int step);
	QJsonObject undo();

	RemoteHost &host;
	websocket::Vendor vendor;
	RemoteDocks docks;
	std::function<void(const char *type, const QJsonObject &data)> listener;
	std::optional<size_t> catalogueFingerprint;
	// Every load and undo that took effect in this run announces itself once: the count, for "ReportLayout".
	quint64 loadsAnnounced = 0;
	bool quietReports = false;
	QByteArray quietReportKey;
};
