#include "base/Log.hpp"
#include "base/LocaleTable.hpp"

#include <QByteArray>

#include <util/base.h>
#include <util/text-lookup.h>

#include <cstdarg>

namespace {

lookup_t *localeTable = nullptr;

} // namespace

void velkinLog(int level, const char *format, ...)
{
	const QByteArray prefixed = QByteArray("[obs-velkin] ") + format;
	va_list args;
	va_start(args, format);
	blogva(level, prefixed.constData(), args);
	va_end(args);
}

QString localeText(const char *key)
{
	const char *result = key;
	if (!text_lookup_getstr(localeTable, key, &result)) {
		// Not even en-US has it: the key itself shows.
		velkinLog(LOG_WARNING, "No text for the key \"%s\"", key);
		result = key;
	}
	return QString::fromUtf8(result);
}

void setLocaleTable(lookup_t *table)
{
	if (localeTable) {
		text_lookup_destroy(localeTable);
	}
	localeTable = table;
}

bool lookUpLocaleText(const char *key, const char **out)
{
	return text_lookup_getstr(localeTable, key, out);
}
