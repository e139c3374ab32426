#include "ZRDeletailText.h"

#include "BundleResources.h"

QString ZRFormatLocalized(const QString& format, const QStringList& args)
{
    QString out;
    out.reserve(format.size() + 16);
    int next = 0;
    const int n = static_cast<int>(format.size());
    for (int i = 0; i < n; ++i) {
        const QChar c = format[i];
        if (c != QLatin1Char('%') || i + 1 >= n) {
            out += c;
            continue;
        }
        if (format[i + 1] == QLatin1Char('%')) {
            out += QLatin1Char('%');
            ++i;
            continue;
        }
        // %[n$][flags][width][.prec][length]conv
        int j = i + 1;
        int position = -1;
        int digitsEnd = j;
        while (digitsEnd < n && format[digitsEnd].isDigit())
            ++digitsEnd;
        if (digitsEnd > j && digitsEnd < n && format[digitsEnd] == QLatin1Char('$')) {
            position = format.mid(j, digitsEnd - j).toInt() - 1;
            j = digitsEnd + 1;
        }
        while (j < n && QStringLiteral("-+ #0123456789.lhqzjtL").contains(format[j]))
            ++j;
        if (j >= n || !QStringLiteral("@dDiuUxXoOfFeEgGsScCp").contains(format[j])) {
            out += c;  // not a conversion: keep the text as it stands
            continue;
        }
        const int index = position >= 0 ? position : next++;
        if (index >= 0 && index < args.size())
            out += args[index];
        i = j;
    }
    return out;
}

QString ZRLocalizedFormat(const char* key, const QStringList& args)
{
    return ZRFormatLocalized(Bundle::LocalizedString(QString::fromLatin1(key)), args);
}
