#pragma once

#include "store/SnapshotDocument.hpp"

#include <QDir>
#include <QFile>

// Writes a valid snapshot document with the given display name as dir/fileName and returns its path.
inline QString writeTestDocument(const QString &dir, const QString &fileName, const QString &name)
{
	SnapshotData data;
	data.name = name;
	data.state = QByteArray("state of ") + name.toUtf8();
	data.geometry = QByteArray("geometry");
	data.docks = {QStringLiteral("scenesDock")};
	const QString path = QDir(dir).filePath(fileName);
	return writeSnapshotFile(path, data) == SnapshotIoResult::Ok ? path : QString();
}

inline QString writeTestBytes(const QString &path, const QByteArray &bytes)
{
	QFile file(path);
	if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
		return QString();
	}
	return path;
}

inline QByteArray readTestBytes(const QString &path)
{
	QFile file(path);
	return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
