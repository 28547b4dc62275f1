// The server field of the connect dialog and of "open": "host", "host:port", "[v6]:port", "[v6]".
//
// Input: the field's text; its last two bytes also give the default port.

#include "ftp/ftpconnection.h"

#include "fuzzcheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const quint16 defaultPort = size >= 2 ? quint16(data[size - 2] << 8 | data[size - 1]) : 21;

    QString host = QStringLiteral("\x01unset");
    quint16 port = 7;
    if (!parseFtpServer(text, defaultPort, host, port)) {
        FUZZ_CHECK(host == QStringLiteral("\x01unset") && port == 7, text); // a refusal leaves both alone
        return 0;
    }
    FUZZ_CHECK(!host.isEmpty() && port != 0, text);
    for (QChar c : host)
        FUZZ_CHECK(c.unicode() > 0x20 && c.unicode() != 0x7f && !QStringLiteral("/\\@?#[]").contains(c), text);
    const bool v6 = host.contains(QLatin1Char(':'));
    FUZZ_CHECK(!v6 || text.trimmed().startsWith(QLatin1Char('[')) || text.trimmed() == host, text);
    if (!text.contains(QLatin1Char(':')))
        FUZZ_CHECK(port == defaultPort, text);

    // What was understood, written back in the field's own form, reads the same whatever the default.
    const QString written =
        (v6 ? QLatin1Char('[') + host + QLatin1Char(']') : host) + QLatin1Char(':') + QString::number(port);
    QString again;
    quint16 againPort = 0;
    FUZZ_CHECK(parseFtpServer(written, quint16(defaultPort ^ 1), again, againPort),
               text + QLatin1String(" -> ") + written);
    FUZZ_CHECK(again == host && againPort == port, text + QLatin1String(" -> ") + written);
    return 0;
}
