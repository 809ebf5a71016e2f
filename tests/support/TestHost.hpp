#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <obs-module.h>

// The real libobs started for the test process, with the plug-in's module handle and locale.
namespace testhost {

// Starts libobs in fresh directories and opens the built plug-in (a QApplication must exist); stop() undoes it.
bool start();
void stop();

// Shuts libobs down and starts it again with this module configuration path, spelled exactly as given (relative,
// with doubled slashes, through a link...), and opens the plug-in anew. Every controller must be gone first.
bool restart(const QString &moduleConfigPath);

// Directory libobs was started with as the module configuration directory (the fresh one of start()).
QString configDirectory();

// The handle libobs gave the built plug-in file; its data directory is the project's data folder.
obs_module_t *module();

// Every line libobs logged since the last clear, oldest first.
QStringList logLines();
void clearLog();
int countLogLines(const QString &line);
// The plug-in's lines, without the notes of a fresh profile that automation.json is not there yet and of a test
// process that has no obs-websocket.
QStringList pluginLogLines();

// The keys that the plug-in asked a text for and that en-US lacks, since the last take; the log keeps them even when
// a test clears it. The test program fails when any are left at its end.
QStringList takeMissingTexts();

// A scratch directory under VELKIN_TEST_SCRATCH, which the test command puts on a disk file system where chattr
// works (the system's temporary folder otherwise); stop() removes it.
QString scratchDirectory();

} // namespace testhost

#include <ostream>

// Lets failed expectations show QStrings as text.
inline void PrintTo(const QString &text, std::ostream *out)
{
	*out << '"' << text.toStdString() << '"';
}

// And rectangles and sizes as x,y WxH and WxH.
inline void PrintTo(const QRect &rect, std::ostream *out)
{
	*out << rect.x() << ',' << rect.y() << ' ' << rect.width() << 'x' << rect.height();
}

inline void PrintTo(const QSize &size, std::ostream *out)
{
	*out << size.width() << 'x' << size.height();
}
