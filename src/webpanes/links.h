#pragma once

#include <QString>

// The web addresses the program shows or opens, kept in one place. The reserved example domain stands in until
// the product's own site exists.
namespace links {
inline const QString kProductHome = QStringLiteral("https://www.example.com/pelno/");
inline const QString kManual = kProductHome + QStringLiteral("user-manual");
inline const QString kAdvertBase = QStringLiteral("https://ads.example.com/pelno/");
inline const QString kSendTo = kAdvertBase + QStringLiteral("sendto.htm");
inline const QString kRightSide = kAdvertBase + QStringLiteral("rightside.htm");
inline const QString kErrList = kAdvertBase + QStringLiteral("errlist.htm");
inline const QString kMakerHome = QStringLiteral("https://www.example.com/");
} // namespace links
