#pragma once

#include <QString>
#include <optional>

// Text/binary sniffing and character-code conversion of upload files. Called on upload worker threads, up to ten
// at a time; every call is self-contained (no shared state, nothing to initialise per thread).

// Counts control bytes (0-8, 14-31, 127, 253, 254, 255) among the first 1024 bytes of the file; more than 5
// means binary. std::nullopt when the file cannot be opened or read.
std::optional<bool> IsBinaryFile(const QString& localPath);

// The single most likely Windows code page of the bytes (932 Shift-JIS, 51932 EUC-JP, 65001 UTF-8, 1252, 1254,
// 20127 ASCII, ...), 0 when unsure. Looks at a bounded prefix.
int DetectCodePage(const QByteArray& bytes);

// Target code page of an encoding name: "Shift-JIS" 932, "EUC-JP" 51932, "UFT-8" and any other name 65001.
int targetCodePage(const QString& encodingName);

enum class ConvertResult
{
    Converted, // target holds the re-encoded text
    Unchanged, // source and target code page agree, detection unsure, or conversion impossible: copied as is
    Failed     // the source could not be read or the target not written
};

// Re-encodes the file sourcePath into targetPath for the encoding name, streaming (memory stays bounded
// whatever the file size). Detection looks at the first 64 KiB; 1252 and 1254 count as UTF-8. When detection
// is unsure, the bytes are not valid in the source, or a character cannot be represented in the target, the
// target receives the source bytes unchanged. A UTF-8 byte-order mark is not carried into Shift-JIS or EUC-JP.
ConvertResult ConvertCodePage(const QString& sourcePath, const QString& targetPath, const QString& encodingName);
