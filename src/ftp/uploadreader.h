#pragma once

#include <QByteArray>
#include <QFile>

#include <curl/curl.h>

#include <cstring>

// Streams a file to libcurl: used by internethandle.cpp and sftptransport.cpp only, on the thread of the handle
// that uploads. In ASCII mode it hands on CR LF as a bare LF and a lone CR unchanged. Over FTP libcurl itself then
// sends every LF as CR LF (an existing CR LF would otherwise go out as CR CR LF), so the wire carries CR LF for
// both LF and CR LF sources; over SFTP, which has no text mode, the file arrives with LF line ends.
struct UploadReader
{
    QFile* file = nullptr;
    bool ascii = false;
    bool failed = false;
    bool heldCr = false; // a CR at the end of the last chunk, waiting to see whether LF follows
    bool atEnd = false;
    QByteArray pending;
    qsizetype pendingPos = 0;

    size_t read(char* buffer, size_t size)
    {
        if (!ascii) {
            const qint64 n = file->read(buffer, qint64(size));
            if (n < 0) {
                failed = true;
                return CURL_READFUNC_ABORT;
            }
            return size_t(n);
        }
        while (pendingPos >= pending.size()) {
            if (atEnd)
                return 0;
            char raw[32768];
            const qint64 n = file->read(raw, sizeof raw);
            if (n < 0) {
                failed = true;
                return CURL_READFUNC_ABORT;
            }
            pending.clear();
            pendingPos = 0;
            if (n == 0) {
                atEnd = true;
                if (heldCr)
                    pending.append('\r');
                heldCr = false;
                continue;
            }
            // Runs without CR are copied whole: text files are large and CRs rare or regular, so this is what
            // keeps the conversion at the speed of a copy.
            const char* at = raw;
            const char* const end = raw + n;
            if (heldCr) {
                heldCr = false;
                if (*at != '\n')
                    pending.append('\r');
            }
            while (at < end) {
                const auto* cr = static_cast<const char*>(std::memchr(at, '\r', size_t(end - at)));
                if (!cr) {
                    pending.append(at, end - at);
                    break;
                }
                pending.append(at, cr - at);
                if (cr + 1 == end) {
                    heldCr = true;
                } else if (cr[1] != '\n') {
                    pending.append('\r');
                }
                at = cr + 1;
            }
        }
        const size_t count = qMin(size, size_t(pending.size() - pendingPos));
        std::memcpy(buffer, pending.constData() + pendingPos, count);
        pendingPos += qsizetype(count);
        return count;
    }
};

inline size_t uploadReadCallback(char* buffer, size_t size, size_t items, void* userp)
{
    return static_cast<UploadReader*>(userp)->read(buffer, size * items);
}
