#pragma once

// What every TLS connection of a connection handle is given while libcurl sets it up (its SSL_CTX hook): the
// certificate watch, the process's one trust store (truststore.h), and for a data connection what its control
// connection already agreed with the server.
//
// A data connection resumes the control connection's own TLS session. Many servers (vsftpd by default, and
// others) accept a data connection only when it does, so that nobody else can take it over. libcurl offers the
// session it cached last, and OpenSSL marks a TLS 1.3 session used up once a handshake has resumed it; the ticket
// that would replace it comes on the data connection after its handshake, and an upload that is done sooner has
// closed the connection before it arrives. The next data connection then offers nothing the server can resume,
// and gets "522 session reuse required". A copy of the control connection's session, made for each data
// connection, resumes every time, on TLS 1.3 and TLS 1.2 alike.
//
// A data connection also offers its key first in the group the control connection settled on, which spares the
// extra round trip of a server that asks for another group than the client's first (vsftpd does).
//
// Contract: the hook runs on the thread of the handle's operation, inside libcurl, for each TLS connection it
// makes (control and data); watch is the handle's CertificateWatch. It never turns off a check: the control
// connection is set up exactly as before, and a data connection whose control connection has no resumable
// session is left as libcurl made it.
int tlsConnectionHook(void* curl, void* sslContext, void* watch);
