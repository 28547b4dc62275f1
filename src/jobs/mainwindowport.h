#pragma once

#include "settings/uploadoptions.h"

#include <QString>

class QLabel;
class QProgressBar;
class QTimer;
class QTreeWidget;
class QWidget;
struct MainState;

// What the main window offers the browsing, upload and deletion code: its shared state, its status line, its
// layouts, and the widgets they fill (the browsing parts come to the controllers with the browser itself). The main
// window implements it; everything here runs on the main thread.
class MainWindowPort
{
public:
    enum class Layout
    {
        Start,
        Browser,
        Progress
    };

    using UploadOptions = ::UploadOptions;

    virtual ~MainWindowPort() = default;

    virtual MainState& state() = 0;
    virtual QWidget* window() = 0; // owner of the modal windows
    virtual void setStatusText(const QString& text, bool repaintNow = true) = 0;
    virtual void showLayout(Layout layout) = 0;

    virtual QTreeWidget* tree() = 0;           // TreeView1
    virtual QLabel* plannedCountLabel() = 0;   // "送信予定ファイル数："
    virtual QLabel* sentCountLabel() = 0;      // "送信済みファイル数："
    virtual QLabel* unchangedCountLabel() = 0; // "変更なしファイル数：" (files a comparison found unchanged)
    virtual QLabel* elapsedLabel() = 0;        // "経過時間："
    virtual QProgressBar* progressBar() = 0;
    virtual QTimer* elapsedTimer() = 0;  // Timer1, 1000 ms
    virtual QLabel* rateLabel() = 0;     // "転送速度："
    virtual QLabel* timeLeftLabel() = 0; // "残り時間："

    virtual UploadOptions uploadOptions() const = 0;
    virtual void applyUploadOptions(const UploadOptions& options) = 0;
};
