#include "ftp/addressrule.h"

#include <QHostAddress>

#include <array>
#include <utility>

namespace {

QHostAddress plain(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

// The index of the non-public block holding the address, -1 for a public one.
int privateBlockOf(const QHostAddress& given)
{
    static const std::array<std::pair<const char*, int>, 10> blocks = {{{"127.0.0.0", 8},
                                                                        {"10.0.0.0", 8},
                                                                        {"172.16.0.0", 12},
                                                                        {"192.168.0.0", 16},
                                                                        {"100.64.0.0", 10},
                                                                        {"169.254.0.0", 16},
                                                                        {"::1", 128},
                                                                        {"fe80::", 10},
                                                                        {"fc00::", 7},
                                                                        {"0.0.0.0", 8}}};
    const QHostAddress address = plain(given);
    if (address.isNull())
        return -1;
    for (int i = 0; i < int(blocks.size()); ++i) {
        if (address.isInSubnet(QHostAddress(QString::fromLatin1(blocks[i].first)), blocks[i].second))
            return i;
    }
    if (address.isMulticast() || address == QHostAddress(QHostAddress::AnyIPv6))
        return int(blocks.size());
    return -1;
}

} // namespace

bool isPubliclyRoutable(const QHostAddress& address)
{
    return !address.isNull() && privateBlockOf(address) < 0;
}

bool onSamePrivateNetwork(const QHostAddress& local, const QHostAddress& server)
{
    const int block = privateBlockOf(local);
    return block >= 0 && block == privateBlockOf(server);
}

bool passiveModeNeeded(const QHostAddress& local, const QHostAddress& server, bool controlEncrypted)
{
    if (!isPubliclyRoutable(local) && isPubliclyRoutable(server))
        return true;
    return controlEncrypted && !onSamePrivateNetwork(local, server);
}
