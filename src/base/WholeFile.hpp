#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at path with the bytes at once (QSaveFile: a failed write leaves the file there as it was), or
// logs why not, naming the file by `name`.
bool writeWholeFile(const QString &path, const QByteArray &bytes, const char *name);
