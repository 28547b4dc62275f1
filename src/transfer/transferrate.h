#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

// Transfer rate and time left of an upload, as the progress layout shows them, and the totals of the completion
// message.
//
// Contract: pure arithmetic and formatting, no widgets, no clock of its own: the caller passes the time of each
// sample (milliseconds since the run began). Main thread in practice, but safe anywhere.

// The rate over the last few seconds: samples of the bytes sent so far, taken about once a second. Older samples
// fall out of the window, so the rate follows changes within a few seconds instead of averaging the whole run.
class TransferRateWindow
{
public:
    static constexpr qint64 kWindowMs = 5000;
    // Below this span of samples the rate says too little to estimate from.
    static constexpr qint64 kMinimumSpanMs = 2000;

    void clear() { m_samples.clear(); }
    // A sample older than the last one is ignored; so is a byte count below the last (a counter never shrinks).
    void addSample(qint64 msecs, qint64 bytesSoFar);
    // Bytes per second over the window; nullopt until the samples span kMinimumSpanMs.
    std::optional<double> bytesPerSecond() const;

private:
    struct Sample
    {
        qint64 msecs;
        qint64 bytes;
    };
    QList<Sample> m_samples;
};

// Seconds left for the remaining bytes at this rate, rounded up; nullopt without a rate, or at a rate of zero
// while bytes remain.
std::optional<qint64> secondsLeft(qint64 remainingBytes, std::optional<double> bytesPerSecond);

// "1.9 MB/s", "512.0 KB/s" (1 KB = 1024 bytes; below 1 MB/s in KB/s); "--" without a rate.
QString formatRate(std::optional<double> bytesPerSecond);
// "hh:mm:ss", hours beyond 99 kept whole; "--:--:--" without an estimate.
QString formatTimeLeft(std::optional<qint64> seconds);
// "8.2 MB", "3.0 KB", "17 B".
QString formatBytes(qint64 bytes);
// The totals appended to the completion message: "(1,000 ファイル, 8.2 MB, 1.9 MB/s)". The average rate is over
// the whole run; a run shorter than a millisecond counts as one.
QString completionTotals(qint64 files, qint64 bytes, qint64 elapsedMs);
