#pragma once

class QHostAddress;

// Whether an active data connection can be expected to work, judged from the two ends of the control
// connection. Used by the FTP layer in the automatic data-connection mode, right after each login.
//
// Contract: pure functions, any thread.
// - Publicly routable: any address outside loopback, RFC 1918 (10/8, 172.16/12, 192.168/16), the shared address
//   space 100.64/10, link-local (169.254/16, fe80::/10), IPv6 unique-local (fc00::/7), unspecified and multicast.
//   An IPv4 address written as IPv6 (::ffff:a.b.c.d) is judged as the IPv4 address.
// - Two addresses are on the same private network when neither is publicly routable and both lie in the same one
//   of those blocks (both loopback, both 10/8, ...). Without the interface's netmask this is the closest the two
//   addresses alone can tell, and a wrong guess only costs the one retry in passive mode.
// - Passive is chosen when the local address is not publicly routable while the server's is (a router that
//   translates addresses stands between them), and whenever TLS protects the control connection and the server
//   is not on the same private network (a router cannot read, and so cannot rewrite, an encrypted PORT).
bool isPubliclyRoutable(const QHostAddress& address);
bool onSamePrivateNetwork(const QHostAddress& local, const QHostAddress& server);
bool passiveModeNeeded(const QHostAddress& local, const QHostAddress& server, bool controlEncrypted);
