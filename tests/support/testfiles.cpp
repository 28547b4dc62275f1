#include "testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size() && file.flush();
}

QString newSourceFile(const QString& folder, const QByteArray& content)
{
    static int counter = 0;
    const QString path = folder + QStringLiteral("/src%1").arg(++counter);
    if (!writeAll(path, content))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QStringList filesBelow(const QString& folder)
{
    const QDir base(folder);
    QStringList result;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        result << base.relativeFilePath(it.next());
    result.sort();
    return result;
}

QStringList deletionPlanOnDisk(const QString& root, const QString& path)
{
    QStringList plan;
    const QDir directory(root + path);
    QStringList names = directory.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return a.toUcs4() < b.toUcs4(); });
    for (const QString& name : names) {
        if (QFileInfo(directory.filePath(name)).isDir()) {
            plan += deletionPlanOnDisk(root, path + name + QLatin1Char('/'));
            plan << QLatin1Char(' ') + path + name;
        } else {
            plan << path + name;
        }
    }
    return plan;
}
