#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// A small routed network of three network namespaces for the tests: a client with a private address
// (10.77.0.2/24) behind a router that masquerades its traffic onto a second link, where a server has an address
// from 198.18.0.0/15 (set aside for benchmarks, so it never names a real host). The router has no route anywhere
// else and the namespaces share no interface with the machine, so nothing leaves them.
//
// Contract (use from the test's main thread):
// - create() needs root, `ip` (iproute2) and `nft` (nftables) and a kernel with network namespaces and NAT; false
//   with reason() set when any is missing, so the caller can skip. The namespaces are named after the process, and
//   create() first deletes those of earlier test processes that are gone (a crashed run).
// - remove() and the destructor delete the namespaces, after a failed create() too.
// - runInClient() runs work on a thread of its own that has joined the client namespace (sockets it opens live
//   there) and returns once work returned; events are processed meanwhile. False when the namespace could not be
//   joined (work did not run).
class NatNetwork
{
public:
    NatNetwork();
    ~NatNetwork();
    NatNetwork(const NatNetwork&) = delete;
    NatNetwork& operator=(const NatNetwork&) = delete;

    bool create();
    void remove();
    QString reason() const { return m_reason; }

    QString clientNamespace() const { return m_prefix + QStringLiteral("c"); }
    QString serverNamespace() const { return m_prefix + QStringLiteral("s"); }
    static QString clientAddress() { return QStringLiteral("10.77.0.2"); }
    static QString routerOutsideAddress() { return QStringLiteral("198.18.0.1"); }
    static QString serverAddress() { return QStringLiteral("198.18.0.2"); }

    // The program and arguments that run `program arguments` inside the given namespace.
    QString execProgram() const { return m_ip; }
    QStringList execArguments(const QString& networkNamespace, const QString& program,
                              const QStringList& arguments) const;

    bool runInClient(const std::function<void()>& work);

private:
    bool run(const QString& program, const QStringList& arguments, const QByteArray& input = QByteArray());
    void removeStale();

    QString m_prefix;
    QString m_ip;
    QString m_nft;
    QString m_reason;
    bool m_created = false;
};
