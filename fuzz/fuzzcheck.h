#pragma once

#include <QByteArray>
#include <QDebug>
#include <QString>

#include <cstdlib>

// A broken invariant stops the fuzzer: libFuzzer then keeps the input as a crash file, and the message says
// which rule it broke and on what.
#define FUZZ_CHECK(condition, detail)                                                                                  \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            qCritical().noquote() << "invariant broken:" << #condition << "\n " << (detail);                           \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

inline QString fromFuzzBytes(const std::string& bytes)
{
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}
