#include "BundleResources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <mutex>

#include <unistd.h>

#include "InvokingUser.h"
#include "WorkPath.h"

namespace {

std::mutex g_lock;
QString g_resourcePath;
QString g_programFolder;
// True when the resource folder was named (VANTREL_RESOURCES or
// SetResourcePath): a writable folder of a developer or a test, which then
// also holds the settings the program changes.
bool g_named = false;
QString g_language = QStringLiteral("en");
QHash<QString, QPixmap> g_images;
QHash<QString, QHash<QString, QString>> g_tables;  // language -> key -> text

// Property lists from disk are untrusted: nesting and sizes are bounded.
constexpr int kMaxDepth = 64;
constexpr qint64 kMaxSettingsBytes = 16 << 20;
constexpr qint64 kMaxStringsBytes = 16 << 20;

QString ProgramFolder()
{
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (!g_programFolder.isEmpty())
            return g_programFolder;
    }
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

// Called with g_lock held.
QString DefaultResourcePath(const QString& programFolder)
{
    QByteArray env = qgetenv("VANTREL_RESOURCES");
    if (!env.isEmpty()) {
        g_named = true;
        return QString::fromLocal8Bit(env);
    }
    QString beside = programFolder + QStringLiteral("/Resources");
    if (QFileInfo(beside).isDir())
        return beside;
    return QDir::cleanPath(programFolder + QStringLiteral("/../share/vantrel-data-recovery"));
}

QString SettingsFileName()
{
    return QStringLiteral("/LocalVersionMessage.plist");
}

std::optional<QVariantMap> ReadSettingsFile(const QString& path)
{
    QFile file(path);
    if (file.size() > kMaxSettingsBytes || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return Bundle::ParsePlist(file.readAll());
}

// Reads "KEY" = "text"; lines with the usual backslash escapes; comments and
// anything else are skipped.
QHash<QString, QString> ParseStrings(const QString& text)
{
    QHash<QString, QString> table;
    auto readQuoted = [&](qsizetype& i, QString& out) -> bool {
        if (i >= text.size() || text[i] != '"')
            return false;
        ++i;
        out.clear();
        while (i < text.size() && text[i] != '"') {
            QChar c = text[i++];
            if (c == '\\' && i < text.size()) {
                QChar e = text[i++];
                c = e == 'n' ? QChar('\n') : e == 't' ? QChar('\t') : e;
            }
            out += c;
        }
        if (i >= text.size())
            return false;
        ++i;
        return true;
    };
    auto skipSpace = [&](qsizetype& i) {
        while (i < text.size() && text[i].isSpace())
            ++i;
    };
    qsizetype i = 0;
    while (i < text.size()) {
        skipSpace(i);
        if (i >= text.size())
            break;
        if (text.mid(i, 2) == QLatin1String("/*")) {
            qsizetype end = text.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? text.size() : end + 2;
            continue;
        }
        if (text.mid(i, 2) == QLatin1String("//")) {
            qsizetype end = text.indexOf('\n', i);
            i = end < 0 ? text.size() : end + 1;
            continue;
        }
        QString key, value;
        qsizetype start = i;
        if (readQuoted(i, key)) {
            skipSpace(i);
            if (i < text.size() && text[i] == '=') {
                ++i;
                skipSpace(i);
                if (readQuoted(i, value)) {
                    table.insert(key, value);
                    skipSpace(i);
                    if (i < text.size() && text[i] == ';')
                        ++i;
                    continue;
                }
            }
        }
        // Not an entry: go on after the end of this line.
        qsizetype end = text.indexOf('\n', start);
        i = end < 0 ? text.size() : std::max(end + 1, i);
    }
    return table;
}

std::optional<QVariant> ReadValue(QXmlStreamReader& xml, int depth);

std::optional<QVariantMap> ReadDict(QXmlStreamReader& xml, int depth)
{
    QVariantMap dict;
    QString key;
    bool haveKey = false;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("key")) {
            key = xml.readElementText();
            haveKey = true;
            continue;
        }
        std::optional<QVariant> value = ReadValue(xml, depth + 1);
        if (!value)
            return std::nullopt;
        if (haveKey)
            dict.insert(key, *value);
        haveKey = false;
    }
    if (xml.hasError())
        return std::nullopt;
    return dict;
}

std::optional<QVariant> ReadValue(QXmlStreamReader& xml, int depth)
{
    if (depth > kMaxDepth)
        return std::nullopt;
    const auto name = xml.name();
    if (name == QLatin1String("dict")) {
        auto d = ReadDict(xml, depth);
        if (!d)
            return std::nullopt;
        return QVariant(*d);
    }
    if (name == QLatin1String("array")) {
        QVariantList list;
        while (xml.readNextStartElement()) {
            auto v = ReadValue(xml, depth + 1);
            if (!v)
                return std::nullopt;
            list.push_back(*v);
        }
        if (xml.hasError())
            return std::nullopt;
        return QVariant(list);
    }
    if (name == QLatin1String("string") || name == QLatin1String("date") || name == QLatin1String("data"))
        return QVariant(xml.readElementText());
    if (name == QLatin1String("integer")) {
        bool ok = false;
        qlonglong v = xml.readElementText().trimmed().toLongLong(&ok);
        return ok ? std::optional<QVariant>(QVariant(v)) : std::nullopt;
    }
    if (name == QLatin1String("real")) {
        bool ok = false;
        double v = xml.readElementText().trimmed().toDouble(&ok);
        return ok ? std::optional<QVariant>(QVariant(v)) : std::nullopt;
    }
    if (name == QLatin1String("true") || name == QLatin1String("false")) {
        bool v = name == QLatin1String("true");
        xml.skipCurrentElement();
        return QVariant(v);
    }
    return std::nullopt;
}

void WriteValue(QXmlStreamWriter& xml, const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        xml.writeStartElement(QStringLiteral("dict"));
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            xml.writeTextElement(QStringLiteral("key"), it.key());
            WriteValue(xml, it.value());
        }
        xml.writeEndElement();
        break;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        xml.writeStartElement(QStringLiteral("array"));
        for (const QVariant& v : value.toList())
            WriteValue(xml, v);
        xml.writeEndElement();
        break;
    }
    case QMetaType::Bool:
        xml.writeEmptyElement(value.toBool() ? QStringLiteral("true") : QStringLiteral("false"));
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
        xml.writeTextElement(QStringLiteral("integer"), value.toString());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        xml.writeTextElement(QStringLiteral("real"), QString::number(value.toDouble(), 'g', 17));
        break;
    default:
        xml.writeTextElement(QStringLiteral("string"), value.toString());
        break;
    }
}

}  // namespace

QString Bundle::ResourcePath()
{
    const QString programFolder = ProgramFolder();
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_resourcePath.isEmpty())
        g_resourcePath = DefaultResourcePath(programFolder);
    return g_resourcePath;
}

void Bundle::SetResourcePath(const QString& path)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_resourcePath = path;
    g_named = !path.isEmpty();
    g_images.clear();
    g_tables.clear();
}

void Bundle::SetProgramFolder(const QString& folder)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_programFolder = folder;
    g_resourcePath.clear();
    g_named = false;
    g_images.clear();
    g_tables.clear();
}

QString Bundle::BundlePath()
{
    return ProgramFolder();
}

QPixmap Bundle::ImageNamed(const QString& name)
{
    if (name.isEmpty() || name.contains('/'))
        return {};
    const QString root = ResourcePath();
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_images.find(name);
    if (it != g_images.end())
        return *it;
    QPixmap image;
    for (const char* ext : {".png", ".jpg", ".tiff", ""}) {
        QString file = root + QStringLiteral("/images/") + name + QLatin1String(ext);
        if (QFileInfo(file).isFile() && image.load(file))
            break;
    }
    g_images.insert(name, image);
    return image;
}

void Bundle::SetLanguage(const QString& code)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_language = code.isEmpty() ? QStringLiteral("en") : code;
}

QString Bundle::Language()
{
    std::lock_guard<std::mutex> lock(g_lock);
    return g_language;
}

QString Bundle::LocalizedString(const QString& key)
{
    const QString root = ResourcePath();
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_tables.find(g_language);
    if (it == g_tables.end()) {
        QHash<QString, QString> table;
        if (!g_language.contains('/')) {
            QFile file(root + QStringLiteral("/") + g_language + QStringLiteral(".lproj/Localizable.strings"));
            if (file.size() <= kMaxStringsBytes && file.open(QIODevice::ReadOnly))
                table = ParseStrings(QString::fromUtf8(file.readAll()));
        }
        it = g_tables.insert(g_language, table);
    }
    return it->value(key);
}

QString Bundle::SettingsPath()
{
    const QString resources = ResourcePath();
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (g_named)
            return resources + SettingsFileName();
    }
    return QString::fromLocal8Bit(GetAppWorkPath()) + SettingsFileName();
}

std::optional<QVariantMap> Bundle::ParsePlist(const QByteArray& data)
{
    QXmlStreamReader xml(data);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("plist"))
        return std::nullopt;
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("dict"))
        return std::nullopt;
    return ReadDict(xml, 1);
}

QByteArray Bundle::SerializePlist(const QVariantMap& dict)
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDTD(QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"));
    xml.writeStartElement(QStringLiteral("plist"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    WriteValue(xml, dict);
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

std::optional<QVariantMap> Bundle::ReadSettings()
{
    const QString path = SettingsPath();
    if (QFileInfo::exists(path))
        return ReadSettingsFile(path);
    // Nothing changed yet: the settings the program was shipped with.
    const QString shipped = ResourcePath() + SettingsFileName();
    return shipped == path ? std::nullopt : ReadSettingsFile(shipped);
}

bool Bundle::WriteSettings(const QVariantMap& settings)
{
    QSaveFile file(SettingsPath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray data = SerializePlist(settings);
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return false;
    // A privileged program writes into the invoking user's folder: the file
    // stays theirs.
    uid_t uid;
    gid_t gid;
    if (GetInvokingUser(uid, gid) && chown(QFile::encodeName(file.fileName()).constData(), uid, gid) != 0) {
        // The settings are written; only their owner could not be changed.
    }
    return true;
}
