#include "ftp/tlsconnectionsetup.h"

#include "ftp/tlscertificate.h"
#include "ftp/truststore.h"

#include <QByteArray>

#include <curl/curl.h>
#include <openssl/ssl.h>

namespace {

void freeSessionCopy(void*, void* copy, CRYPTO_EX_DATA*, int, long, void*)
{
    SSL_SESSION_free(static_cast<SSL_SESSION*>(copy));
}

int sessionCopyIndex()
{
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, freeSessionCopy);
    return index;
}

// The control connection, once its handshake is done; null while the hook sets up the control connection itself
// (libcurl makes its SSL object only after the hook).
SSL* establishedControlConnection(CURL* curl)
{
    curl_tlssessioninfo* info = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK || !info ||
        info->backend != CURLSSLBACKEND_OPENSSL || !info->internals)
        return nullptr;
    SSL* control = static_cast<SSL*>(info->internals);
    return SSL_is_init_finished(control) ? control : nullptr;
}

// libcurl has put its cached session on the connection by the time the handshake starts; the copy replaces it
// before the first message is written.
void offerSessionCopy(const SSL* ssl, int where, int)
{
    if (!(where & SSL_CB_HANDSHAKE_START))
        return;
    SSL_CTX* context = SSL_get_SSL_CTX(ssl);
    auto* copy = static_cast<SSL_SESSION*>(SSL_CTX_get_ex_data(context, sessionCopyIndex()));
    if (!copy)
        return;
    SSL_set_session(const_cast<SSL*>(ssl), copy);
    SSL_CTX_set_ex_data(context, sessionCopyIndex(), nullptr);
    SSL_SESSION_free(copy);
}

void preferGroup(SSL_CTX* context, SSL* control)
{
    const int group = SSL_get_negotiated_group(control);
    const char* name = group ? SSL_group_to_name(control, group) : nullptr;
    if (!name)
        return;
    // OpenSSL's own order after it; a name twice would fail the whole list.
    QByteArray list = name;
    for (const char* other : {"x25519", "secp256r1", "x448", "secp521r1", "secp384r1"}) {
        if (qstricmp(other, name) != 0)
            list += QByteArray(":") + other;
    }
    SSL_CTX_set1_groups_list(context, list.constData());
}

void resumeControlSession(SSL_CTX* context, SSL* control)
{
    SSL_SESSION* session = SSL_get1_session(control);
    if (!session)
        return;
    // Never the control connection's object itself: a handshake that resumes it marks it used up.
    SSL_SESSION* copy = SSL_SESSION_is_resumable(session) ? SSL_SESSION_dup(session) : nullptr;
    SSL_SESSION_free(session);
    if (!copy)
        return;
    if (!SSL_CTX_set_ex_data(context, sessionCopyIndex(), copy)) {
        SSL_SESSION_free(copy);
        return;
    }
    SSL_CTX_set_info_callback(context, offerSessionCopy);
}

} // namespace

int tlsConnectionHook(void* curl, void* sslContext, void* watch)
{
    auto* context = static_cast<SSL_CTX*>(sslContext);
    CertificateWatch::contextHook(curl, sslContext, watch);
    if (X509_STORE* store = acquireTrustStore()) {
        SSL_CTX_set1_cert_store(context, store);
        X509_STORE_free(store);
    }
    if (SSL* control = establishedControlConnection(curl)) {
        preferGroup(context, control);
        resumeControlSession(context, control);
    }
    return CURLE_OK;
}
