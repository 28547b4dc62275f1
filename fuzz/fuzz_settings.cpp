// The settings reader and writer on an arbitrary existing file, and the comma list of profile names.
//
// Input (FuzzedDataProvider): section, key, value, a second section and key, comma-list names, then the file.

#include "settings/appconfig.h"
#include "settings/apperror.h"

#include "fuzzcheck.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

constexpr qsizetype MaxValueBytes = 2047;

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool hasLineBreak(const QString& text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

bool writeIsRefused(const QString& section, const QString& key, const QString& value)
{
    const QString k = key.trimmed();
    return hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value) || k.isEmpty() ||
           key.contains(QLatin1Char('=')) || k.startsWith(QLatin1Char('[')) || k.startsWith(QLatin1Char(';'));
}

void checkReads(const AppConfig& config, const QString& section, const QString& key)
{
    const QString text = config.readString(section, key, QString());
    FUZZ_CHECK(text.toUtf8().size() <= MaxValueBytes, text);
    const int a = config.readInteger(section, key, 7);
    const int b = config.readInteger(section, key, -7);
    // a value that reads as a number reads the same whatever the default
    FUZZ_CHECK(a == b || (a == 7 && b == -7), text);
    FUZZ_CHECK(config.readBool(section, key, true) == (config.readInteger(section, key, 1) != 0) &&
                   config.readBool(section, key, false) == (config.readInteger(section, key, 0) != 0),
               text);
}

void checkCommaList(FuzzedDataProvider& in)
{
    QStringList names;
    const int count = in.ConsumeIntegralInRange(0, 5);
    for (int i = 0; i < count; ++i)
        names << fromFuzzBytes(in.ConsumeRandomLengthString(40)).remove(QChar(0)); // a NUL ends the stored text
    const QString stored = writeCommaList(names);
    FUZZ_CHECK(readCommaList(stored) == names, names.join(QLatin1String(" | ")) + QLatin1String(" -> ") + stored);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("AppConfig.ini"));

    FuzzedDataProvider in(data, size);
    const QString section = fromFuzzBytes(in.ConsumeRandomLengthString(40));
    const QString key = fromFuzzBytes(in.ConsumeRandomLengthString(40));
    const QString value = fromFuzzBytes(in.ConsumeRandomLengthString(3000));
    const QString otherSection = fromFuzzBytes(in.ConsumeRandomLengthString(40));
    const QString otherKey = fromFuzzBytes(in.ConsumeRandomLengthString(40));
    const int number = in.ConsumeIntegral<int>();
    checkCommaList(in);
    const std::string original = in.ConsumeRemainingBytesAsString();
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), path);
        file.write(original.data(), qint64(original.size()));
    }

    AppConfig config(path);
    checkReads(config, section, key);
    checkReads(config, otherSection, otherKey);
    const QString otherBefore = config.readString(otherSection, otherKey, QStringLiteral("\x01missing"));

    bool refused = false;
    try {
        config.writeString(section, key, value);
    } catch (const AppError&) {
        refused = true;
    }
    FUZZ_CHECK(refused == writeIsRefused(section, key, value),
               section + QLatin1Char('/') + key + QLatin1Char('=') + value);
    if (refused) {
        FUZZ_CHECK(fileBytes(path) == QByteArray::fromStdString(original), section + QLatin1Char('/') + key);
        return 0;
    }

    const QString back = config.readString(section, key, QStringLiteral("\x01missing"));
    if (value.toUtf8().size() <= MaxValueBytes)
        FUZZ_CHECK(back == value,
                   section + QLatin1Char('/') + key + QLatin1Char('=') + value + QLatin1String(" -> ") + back);
    else
        FUZZ_CHECK(value.startsWith(back) && back.toUtf8().size() > MaxValueBytes - 4,
                   value + QLatin1String(" -> ") + back);

    // the write touched its own key only
    const bool sameKey = section.compare(otherSection, Qt::CaseInsensitive) == 0 &&
                         key.trimmed().compare(otherKey.trimmed(), Qt::CaseInsensitive) == 0;
    if (!sameKey)
        FUZZ_CHECK(config.readString(otherSection, otherKey, QStringLiteral("\x01missing")) == otherBefore,
                   otherSection + QLatin1Char('/') + otherKey + QLatin1String(": ") + otherBefore);

    // writing the same again changes nothing
    const QByteArray once = fileBytes(path);
    config.writeString(section, key, value);
    FUZZ_CHECK(fileBytes(path) == once, section + QLatin1Char('/') + key);

    config.writeInteger(section, key, number);
    FUZZ_CHECK(config.readInteger(section, key, number == 0 ? 1 : 0) == number, QString::number(number));
    return 0;
}
