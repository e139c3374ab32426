// Filling the application's localised format texts. The string tables keep
// the formats in printf form ("%@ files found", "%lld", "%1$@"): every
// conversion takes the next argument (or the numbered one) as ready text.
#pragma once

#include <QString>
#include <QStringList>

QString ZRFormatLocalized(const QString& format, const QStringList& args);

// The localised text of key used as a format with args.
QString ZRLocalizedFormat(const char* key, const QStringList& args);
