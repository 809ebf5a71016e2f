// Every locale file against en-US: the same keys, the same placeholders, valid UTF-8 and no empty text. The module
// speaks each language through libobs, and libobs fills a key that a file lacks from en-US.
#include "base/Log.hpp"
#include "support/TestHost.hpp"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <obs-module.h>
#include <util/text-lookup.h>

#include <gtest/gtest.h>

extern "C" void obs_module_set_locale(const char *locale);

namespace {

const char *const kLocales[] = {"de-DE", "es-ES", "fr-FR", "it-IT", "pt-BR", "ru-RU", "ja-JP", "zh-CN"};

QString localeFile(const QString &locale)
{
	return QStringLiteral(VELKIN_DATA_DIR "/locale/%1.ini").arg(locale);
}

// A file of OBS's `Key="Text"` lines, as its keys in order, its texts by key and whatever is wrong with it.
struct LocaleFile {
	QStringList keys;
	QMap<QString, QString> texts;
	QStringList problems;
};

LocaleFile parseLocale(const QString &path)
{
	LocaleFile file;
	QFile input(path);
	if (!input.open(QIODevice::ReadOnly)) {
		file.problems.append(QStringLiteral("cannot be read"));
		return file;
	}
	const QByteArray bytes = input.readAll();
	QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
	const QString text = utf8(bytes);
	if (utf8.hasError()) {
		file.problems.append(QStringLiteral("not valid UTF-8"));
	}
	if (bytes.startsWith("\xef\xbb\xbf") || bytes.contains('\r') || !bytes.endsWith('\n')) {
		file.problems.append(QStringLiteral("a byte-order mark, a carriage return or no final newline"));
	}
	static const QRegularExpression line(QStringLiteral("^([A-Za-z0-9]+)=\"([^\"\\\\]*)\"$"));
	const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
	for (const QString &content : lines) {
		const QRegularExpressionMatch match = line.match(content);
		if (!match.hasMatch()) {
			file.problems.append(QStringLiteral("not a Key=\"Text\" line: ") + content);
			continue;
		}
		if (file.texts.contains(match.captured(1))) {
			file.problems.append(QStringLiteral("a second ") + match.captured(1));
		}
		file.keys.append(match.captured(1));
		file.texts.insert(match.captured(1), match.captured(2));
	}
	return file;
}

// How often each placeholder stands in a text.
QMap<QString, int> placeholders(const QString &text)
{
	static const QRegularExpression placeholder(QStringLiteral("%\\d+"));
	QMap<QString, int> found;
	for (const QRegularExpressionMatch &match : placeholder.globalMatch(text)) {
		++found[match.captured()];
	}
	return found;
}

TEST(LocaleFiles, EveryLanguageHasEveryKeyAndPlaceholderOfEnUsAndNothingElse)
{
	const LocaleFile english = parseLocale(localeFile(QStringLiteral("en-US")));
	ASSERT_TRUE(english.problems.isEmpty()) << english.problems.join(QLatin1Char('\n')).toStdString();
	QStringList expected{QStringLiteral("en-US.ini")};
	for (const char *locale : kLocales) {
		expected.append(QString::fromLatin1(locale) + QStringLiteral(".ini"));
	}
	expected.sort();
	EXPECT_EQ(QDir(QStringLiteral(VELKIN_DATA_DIR "/locale")).entryList({QStringLiteral("*.ini")}, QDir::Files),
		  expected);

	for (const char *locale : kLocales) {
		SCOPED_TRACE(locale);
		const LocaleFile file = parseLocale(localeFile(QString::fromLatin1(locale)));
		EXPECT_TRUE(file.problems.isEmpty()) << file.problems.join(QLatin1Char('\n')).toStdString();
		QStringList keys = file.keys;
		QStringList englishKeys = english.keys;
		keys.sort();
		englishKeys.sort();
		EXPECT_EQ(keys, englishKeys);
		for (auto it = file.texts.cbegin(); it != file.texts.cend(); ++it) {
			EXPECT_FALSE(it.value().trimmed().isEmpty()) << it.key().toStdString();
			EXPECT_EQ(placeholders(it.value()), placeholders(english.texts.value(it.key())))
				<< it.key().toStdString();
		}
	}
}

TEST(LocaleFiles, TheModuleSpeaksEachLanguageAndFallsBackToEnUs)
{
	const LocaleFile english = parseLocale(localeFile(QStringLiteral("en-US")));
	for (const char *locale : kLocales) {
		SCOPED_TRACE(locale);
		const LocaleFile file = parseLocale(localeFile(QString::fromLatin1(locale)));
		obs_module_set_locale(locale);
		for (const QString &key : english.keys) {
			EXPECT_EQ(localeText(key.toUtf8().constData()), file.texts.value(key)) << key.toStdString();
		}
	}
	obs_module_set_locale("xx-XX");
	for (const QString &key : english.keys) {
		EXPECT_EQ(localeText(key.toUtf8().constData()), english.texts.value(key)) << key.toStdString();
	}
	obs_module_set_locale("en-US");

	// A key that a language lacks is read from en-US, as OBS merges a module's locale over en-US.
	QTemporaryDir dir(testhost::scratchDirectory() + QStringLiteral("/locale-XXXXXX"));
	QFile german(localeFile(QStringLiteral("de-DE")));
	ASSERT_TRUE(german.open(QIODevice::ReadOnly));
	QByteArray partial;
	for (const QByteArray &line : german.readAll().split('\n')) {
		if (!line.startsWith("Title=")) {
			partial += line + '\n';
		}
	}
	const QString partialPath = dir.filePath(QStringLiteral("de-DE.ini"));
	QFile out(partialPath);
	ASSERT_TRUE(out.open(QIODevice::WriteOnly));
	out.write(partial);
	out.close();
	lookup_t *lookup = text_lookup_create(localeFile(QStringLiteral("en-US")).toUtf8().constData());
	ASSERT_NE(lookup, nullptr);
	ASSERT_TRUE(text_lookup_add(lookup, partialPath.toUtf8().constData()));
	const char *title = nullptr;
	const char *load = nullptr;
	EXPECT_TRUE(text_lookup_getstr(lookup, "Title", &title));
	EXPECT_TRUE(text_lookup_getstr(lookup, "Load", &load));
	EXPECT_EQ(QString::fromUtf8(title), english.texts.value(QStringLiteral("Title")));
	EXPECT_EQ(QString::fromUtf8(load),
		  parseLocale(localeFile(QStringLiteral("de-DE"))).texts.value(QStringLiteral("Load")));
	text_lookup_destroy(lookup);
}

} // namespace
