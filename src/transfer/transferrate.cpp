#include "transfer/transferrate.h"

#include "transfer/uploadqueue.h"

#include <cmath>

namespace {
constexpr double kKilo = 1024.0;
constexpr double kMega = 1024.0 * 1024.0;
} // namespace

void TransferRateWindow::addSample(qint64 msecs, qint64 bytesSoFar)
{
    if (!m_samples.isEmpty() && (msecs < m_samples.last().msecs || bytesSoFar < m_samples.last().bytes))
        return;
    m_samples.append({msecs, bytesSoFar});
    // Keep one sample at or before the window's start, so the window is always covered in full.
    while (m_samples.size() > 2 && m_samples.at(1).msecs <= msecs - kWindowMs)
        m_samples.removeFirst();
}

std::optional<double> TransferRateWindow::bytesPerSecond() const
{
    if (m_samples.size() < 2)
        return std::nullopt;
    const Sample& first = m_samples.first();
    const Sample& last = m_samples.last();
    const qint64 span = last.msecs - first.msecs;
    if (span < kMinimumSpanMs)
        return std::nullopt;
    return double(last.bytes - first.bytes) * 1000.0 / double(span);
}

std::optional<qint64> secondsLeft(qint64 remainingBytes, std::optional<double> bytesPerSecond)
{
    if (!bytesPerSecond)
        return std::nullopt;
    if (remainingBytes <= 0)
        return 0;
    if (*bytesPerSecond <= 0.0)
        return std::nullopt;
    return qint64(std::ceil(double(remainingBytes) / *bytesPerSecond));
}

QString formatRate(std::optional<double> bytesPerSecond)
{
    if (!bytesPerSecond)
        return QStringLiteral("--");
    const double rate = std::max(*bytesPerSecond, 0.0);
    if (rate >= kMega)
        return QString::number(rate / kMega, 'f', 1) + QStringLiteral(" MB/s");
    return QString::number(rate / kKilo, 'f', 1) + QStringLiteral(" KB/s");
}

QString formatTimeLeft(std::optional<qint64> seconds)
{
    if (!seconds || *seconds < 0)
        return QStringLiteral("--:--:--");
    const qint64 s = *seconds;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString formatBytes(qint64 bytes)
{
    if (bytes >= qint64(kMega))
        return QString::number(double(bytes) / kMega, 'f', 1) + QStringLiteral(" MB");
    if (bytes >= qint64(kKilo))
        return QString::number(double(bytes) / kKilo, 'f', 1) + QStringLiteral(" KB");
    return QString::number(std::max<qint64>(bytes, 0)) + QStringLiteral(" B");
}

QString completionTotals(qint64 files, qint64 bytes, qint64 elapsedMs)
{
    const double rate = double(bytes) * 1000.0 / double(std::max<qint64>(elapsedMs, 1));
    return QStringLiteral("(%1 ファイル, %2, %3)").arg(groupedCount(files), formatBytes(bytes), formatRate(rate));
}
