#include "settings/uploadoptions.h"

#include "settings/appconfig.h"

namespace {
const QString AppSection = QStringLiteral("app");
const QString DirKey = QStringLiteral("dir");
const QString ConvertKey = QStringLiteral("conv");
const QString CharsetKey = QStringLiteral("charset");
const QString Mode1Key = QStringLiteral("mode1");
const QString Mode2Key = QStringLiteral("mode2");
const QString Mode3Key = QStringLiteral("mode3");
const QString ChangedOnlyKey = QStringLiteral("changedonly");

QString boolText(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}
} // namespace

UploadSettings readUploadSettings(const AppConfig& config)
{
    const UploadSettings defaults;
    UploadSettings settings;
    settings.remoteTarget = config.readString(AppSection, DirKey, defaults.remoteTarget);
    settings.options.convert = config.readBool(AppSection, ConvertKey, defaults.options.convert);
    settings.options.charsetIndex = config.readInteger(AppSection, CharsetKey, defaults.options.charsetIndex);
    settings.options.mode1 = config.readBool(AppSection, Mode1Key, defaults.options.mode1);
    settings.options.mode2 = config.readBool(AppSection, Mode2Key, defaults.options.mode2);
    settings.options.mode3 = config.readBool(AppSection, Mode3Key, defaults.options.mode3);
    settings.options.changedOnly = config.readBool(AppSection, ChangedOnlyKey, defaults.options.changedOnly);
    return settings;
}

void writeUploadSettings(AppConfig& config, const UploadSettings& settings)
{
    // one replacement of the file per drop rather than one per key: each costs a flush to the disk
    config.writeStrings(AppSection, {{DirKey, settings.remoteTarget},
                                     {ConvertKey, boolText(settings.options.convert)},
                                     {CharsetKey, QString::number(settings.options.charsetIndex)},
                                     {Mode1Key, boolText(settings.options.mode1)},
                                     {Mode2Key, boolText(settings.options.mode2)},
                                     {Mode3Key, boolText(settings.options.mode3)},
                                     {ChangedOnlyKey, boolText(settings.options.changedOnly)}});
}
