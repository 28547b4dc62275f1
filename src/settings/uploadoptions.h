#pragma once

#include <QString>

class AppConfig;

// The upload options of the main window's progress layout and the remote directory of the last upload, as the
// "app" section of the settings file keeps them between runs: "dir", "conv", "charset", "mode1", "mode2",
// "mode3" and "changedonly".
//
// Contract (main thread): the main window reads them when a connect succeeds and the upload stores them on each
// drop, before anything is queued; writeUploadSettings throws AppError when the settings file refuses the write,
// and then nothing of it reaches the file.
struct UploadOptions
{
    bool convert = false;     // the check box "エンコード"
    int charsetIndex = 0;     // 0 "UFT-8", 1 "Shift-JIS", 2 "EUC-JP"; -1 when none is selected
    QString charsetText;      // the text of the selected item, empty when none; not stored
    bool mode1 = false;       // "アスキーモードで転送"
    bool mode2 = false;       // "バイナリモードで転送"
    bool mode3 = true;        // "自動判別で転送"
    bool changedOnly = false; // "変更分のみ送信"
};

struct UploadSettings
{
    QString remoteTarget = QStringLiteral("/");
    UploadOptions options;
};

// Absent keys read as the defaults above.
UploadSettings readUploadSettings(const AppConfig& config);
void writeUploadSettings(AppConfig& config, const UploadSettings& settings);
