#pragma once

#include <QString>
#include <QStringList>

#include <obs-module.h>

// The real libobs started for the test process, with the plug-in's module handle and locale.
namespace testhost {

// Starts libobs in fresh directories and opens the built plug-in (a QApplication must exist); stop() undoes it.
bool start();
void stop();

// Directory libobs was started with as the module configuration directory.
QString configDirectory();

// The handle libobs gave the built plug-in file, and the plug-in's own data directory.
obs_module_t *module();

// Every line libobs logged since the last clear, oldest first.
QStringList logLines();
void clearLog();
int countLogLines(const QString &line);

// A scratch directory on a disk file system (chattr works there), removed at exit.
QString scratchDirectory();

} // namespace testhost

#include <ostream>

// Lets failed expectations show QStrings as text.
inline void PrintTo(const QString &text, std::ostream *out)
{
	*out << '"' << text.toStdString() << '"';
}
