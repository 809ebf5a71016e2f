#include "base/WholeFile.hpp"
#include "base/Log.hpp"

#include <QSaveFile>

#include <util/base.h>

bool writeWholeFile(const QString &path, const QByteArray &bytes, const char *name)
{
	QSaveFile file(path);
	if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
		velkinLog(LOG_WARNING, "Could not save %s: %s", name, file.errorString().toUtf8().constData());
		return false;
	}
	return true;
}
