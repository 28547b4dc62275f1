// Connection profiles stored one after the other as the connect dialog stores them, on a file that already
// holds the fuzzer's text.
//
// Input (FuzzedDataProvider): up to three profiles (name, server, user ID, password), then the file.

#include "ftp/profiles.h"
#include "settings/appconfig.h"
#include "settings/apperror.h"

#include "fuzzcheck.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

struct Stored
{
    QString name;
    Credentials profile;
};

bool hasLineBreak(const QString& text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

QString describe(const QString& name, const Credentials& p)
{
    return name + QLatin1String(" | ") + p.server + QLatin1String(" | ") + p.userId + QLatin1String(" | ") + p.password;
}

bool sameProfile(const Credentials& a, const Credentials& b)
{
    return a.server == b.server && a.userId == b.userId && a.password == b.password;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("AppConfig.ini"));

    FuzzedDataProvider in(data, size);
    QList<Stored> wanted;
    const int count = in.ConsumeIntegralInRange(1, 3);
    for (int i = 0; i < count; ++i) {
        Stored s;
        // the dialog's fields cannot hold a NUL; a name list longer than a stored value is out of reach here
        s.name = fromFuzzBytes(in.ConsumeRandomLengthString(60)).remove(QChar(0));
        s.profile.server = fromFuzzBytes(in.ConsumeRandomLengthString(200));
        s.profile.userId = fromFuzzBytes(in.ConsumeRandomLengthString(200));
        s.profile.password = fromFuzzBytes(in.ConsumeRandomLengthString(200));
        wanted << s;
    }
    const std::string original = in.ConsumeRemainingBytesAsString();
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), path);
        file.write(original.data(), qint64(original.size()));
    }

    AppConfig config(path);
    QStringList names = readProfileNames(config);
    if (names.join(QString()).toUtf8().size() > 1500)
        return 0;
    QList<Stored> done;
    for (const Stored& s : wanted) {
        const QStringList before = names;
        const bool refuse = hasLineBreak(s.name) || hasLineBreak(s.profile.server) || hasLineBreak(s.profile.userId) ||
                            hasLineBreak(s.profile.password);
        bool refused = false;
        try {
            storeProfile(config, s.name, s.profile, names);
        } catch (const AppError&) {
            refused = true;
        }
        FUZZ_CHECK(refused == refuse, describe(s.name, s.profile));
        if (refused) {
            FUZZ_CHECK(names == before, describe(s.name, s.profile));
            continue;
        }
        FUZZ_CHECK(sameProfile(readProfile(config, s.name), s.profile),
                   describe(s.name, s.profile) + QLatin1String(" -> ") + describe(s.name, readProfile(config, s.name)));
        FUZZ_CHECK(readDefaultProfileName(config) == s.name, s.name);
        FUZZ_CHECK(isProfileListed(names, s.name), s.name);
        FUZZ_CHECK(names.size() == before.size() + (isProfileListed(before, s.name) ? 0 : 1), s.name);
        for (qsizetype i = done.size() - 1; i >= 0; --i) {
            if (done[i].name.compare(s.name, Qt::CaseInsensitive) == 0)
                done.removeAt(i);
        }
        done << s;
    }
    // the file lists what the dialog lists, and every stored profile reads back as the last store left it
    FUZZ_CHECK(readProfileNames(config) == names, names.join(QLatin1String(" | ")));
    for (const Stored& s : done)
        FUZZ_CHECK(sameProfile(readProfile(config, s.name), s.profile), describe(s.name, s.profile));
    return 0;
}
