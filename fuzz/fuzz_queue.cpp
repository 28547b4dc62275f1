// The queue entry forms: marker entries built from the fuzzer's folder and file names split back into the file
// and its name below the target, entries of any shape split without harm, and a real folder walked and split.
//
// Input (FuzzedDataProvider): a folder, a path below it, an entry of any shape, then names of files to create.

#include "transfer/uploadqueue.h"

#include "fuzzcheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

const QString Marker = QStringLiteral("<>");

QString lastComponent(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

void checkBuiltEntry(const QString& folder, const QString& below)
{
    if (folder.isEmpty() || (folder.size() > 1 && folder.endsWith(QLatin1Char('/'))) || below.isEmpty() ||
        below.endsWith(QLatin1Char('/')))
        return;
    const QString local = (folder == QLatin1String("/") ? folder : folder + QLatin1Char('/')) + below;
    const QString entry = Marker + folder + Marker + local;
    const auto parts = splitUploadEntry(entry, [&](const QString& path) { return path == local; });
    const QString name = lastComponent(folder);
    const QString relative = name.isEmpty() ? below : name + QLatin1Char('/') + below;
    FUZZ_CHECK(parts && parts->localPath == local && parts->relativeName == relative,
               entry + QLatin1String(" -> ") +
                   (parts ? parts->localPath + QLatin1String(" | ") + parts->relativeName : QStringLiteral("nothing")));

    const QString target = QStringLiteral("/www/");
    const QStringList directories = remoteDirectoriesOf(target, relative);
    FUZZ_CHECK(directories.size() == relative.count(QLatin1Char('/')), relative);
    for (const QString& directory : directories)
        FUZZ_CHECK((target + relative).startsWith(directory + QLatin1Char('/')), directory);
}

void checkAnyEntry(const QString& entry)
{
    const auto parts = splitUploadEntry(entry, [](const QString& path) { return path.size() % 2 == 0; });
    if (!parts)
        return;
    FUZZ_CHECK(!parts->localPath.isEmpty() && !parts->relativeName.isEmpty(), entry);
    FUZZ_CHECK(!parts->localPath.endsWith(QLatin1Char('/')), entry);
    if (!entry.startsWith(Marker)) {
        FUZZ_CHECK(parts->localPath == entry && parts->relativeName == lastComponent(entry), entry);
        return;
    }
    // the file's name below its folder is the end of both; a directory entry's local path has no trailing "/"
    const QString below = parts->relativeName.mid(parts->relativeName.indexOf(QLatin1Char('/')) + 1);
    FUZZ_CHECK(parts->localPath.endsWith(QLatin1Char('/') + below) &&
                   entry.endsWith(parts->directory ? parts->localPath + QLatin1Char('/') : parts->localPath),
               entry);
}

// Creates the files below a folder whose own name may hold "<>", walks it and splits every entry back.
void checkWalk(FuzzedDataProvider& in)
{
    QTemporaryDir base;
    QString folderName = fromFuzzBytes(in.ConsumeRandomLengthString(30));
    folderName.remove(QChar(0)).replace(QLatin1Char('/'), QLatin1Char('_'));
    if (folderName.isEmpty() || folderName == QLatin1String(".") || folderName == QLatin1String("..") ||
        folderName.toUtf8().size() > 200)
        folderName = QStringLiteral("site");
    const QString root = base.path() + QLatin1Char('/') + folderName;
    if (!QDir().mkpath(root))
        return;

    QSet<QString> created;
    const int count = in.ConsumeIntegralInRange(1, 4);
    for (int i = 0; i < count; ++i) {
        QStringList parts;
        for (const QString& part :
             fromFuzzBytes(in.ConsumeRandomLengthString(60)).remove(QChar(0)).split(QLatin1Char('/'))) {
            if (!part.isEmpty() && part != QLatin1String(".") && part != QLatin1String("..") &&
                part.toUtf8().size() <= 200)
                parts << part;
        }
        if (parts.isEmpty())
            continue;
        const QString relative = parts.join(QLatin1Char('/'));
        const QString path = root + QLatin1Char('/') + relative;
        if (!QDir().mkpath(QFileInfo(path).path()))
            continue;
        QFile file(path);
        if (QFileInfo(path).isDir() || !file.open(QIODevice::WriteOnly))
            continue;
        created << relative;
    }
    // a later name may have turned an earlier file's place into a folder
    QSet<QString> files;
    for (const QString& relative : created) {
        if (QFileInfo(root + QLatin1Char('/') + relative).isFile())
            files << relative;
    }

    QStringList queue;
    QStringList rejected;
    AddDroppedPath(root, queue, rejected);
    // only regular files and folders were made: all of them can be sent
    FUZZ_CHECK(rejected.isEmpty(), rejected.join(QLatin1Char('\n')));
    QSet<QString> seen;
    for (const QString& entry : queue) {
        const auto parts = splitUploadEntry(entry, [](const QString& path) { return QFileInfo::exists(path); });
        FUZZ_CHECK(parts && (parts->localPath == root || parts->localPath.startsWith(root + QLatin1Char('/'))), entry);
        if (parts->directory) {
            // the dropped folder and every folder below it have an entry of their own
            FUZZ_CHECK(QFileInfo(parts->localPath).isDir() &&
                           parts->relativeName ==
                               folderName + (parts->localPath == root ? QString() : parts->localPath.mid(root.size())),
                       entry + QLatin1String(" -> ") + parts->relativeName);
            continue;
        }
        const QString relative = parts->localPath.mid(root.size() + 1);
        FUZZ_CHECK(files.contains(relative) && parts->relativeName == folderName + QLatin1Char('/') + relative,
                   entry + QLatin1String(" -> ") + parts->relativeName);
        seen << relative;
    }
    FUZZ_CHECK(seen == files, queue.join(QLatin1Char('\n')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QString folder = fromFuzzBytes(in.ConsumeRandomLengthString(80));
    const QString below = fromFuzzBytes(in.ConsumeRandomLengthString(80));
    const QString entry = fromFuzzBytes(in.ConsumeRandomLengthString(160));
    checkBuiltEntry(folder, below);
    checkAnyEntry(entry);
    checkWalk(in);
    return 0;
}
