#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Small file helpers for the tests.

// The whole content of a file; empty when it cannot be read.
QByteArray readAll(const QString& path);

// Writes bytes to a file, replacing it and creating its parent folders; false when that fails.
bool writeAll(const QString& path, const QByteArray& bytes);

// A new file with the content in folder, named src1, src2, ... in the order of the calls; ends the test program
// when it cannot be written.
QString newSourceFile(const QString& folder, const QByteArray& content);

// Every file below a folder (any depth), as sorted relative paths with "/" separators; folders themselves are
// not listed.
QStringList filesBelow(const QString& folder);

// The deletion plan of everything below root + path (path begins and ends with "/") as a server whose long
// listing sorts each directory by name would list it: for each directory first everything below it, then its own
// entry (a space and its path); files as their path. Dot files included.
QStringList deletionPlanOnDisk(const QString& root, const QString& path);
