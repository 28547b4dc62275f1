#include "ftp/truststore.h"

#include <QByteArray>
#include <QFileInfo>

#include <curl/curl.h>
#include <openssl/x509_vfy.h>

#include <mutex>

namespace {

struct Source
{
    QByteArray file;
    QByteArray folder;
    qint64 fileSize = -1;
    qint64 fileTime = 0;

    bool operator==(const Source&) const = default;
};

Source currentSource()
{
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    Source source;
    source.file = qgetenv("SSL_CERT_FILE");
    if (source.file.isEmpty() && info->cainfo)
        source.file = info->cainfo;
    source.folder = qgetenv("SSL_CERT_DIR");
    if (source.folder.isEmpty() && info->capath)
        source.folder = info->capath;
    if (!source.file.isEmpty()) {
        const QFileInfo file(QString::fromLocal8Bit(source.file));
        source.fileSize = file.exists() ? file.size() : -1;
        source.fileTime = file.exists() ? file.lastModified().toMSecsSinceEpoch() : 0;
    }
    return source;
}

X509_STORE* buildStore(const Source& source)
{
    X509_STORE* store = X509_STORE_new();
    if (!store)
        return nullptr;
    if (!source.file.isEmpty())
        X509_STORE_load_file(store, source.file.constData());
    // The folder is looked up certificate by certificate as a chain needs them, so it costs nothing up front.
    if (!source.folder.isEmpty())
        X509_STORE_load_path(store, source.folder.constData());
    // What libcurl sets on the store it would have made: a trusted certificate ends the chain even where a longer
    // one exists, and an intermediate authority in the store is trusted like a root.
    X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    return store;
}

std::mutex lock;
Source cachedSource;
X509_STORE* cachedStore = nullptr;

} // namespace

x509_store_st* acquireTrustStore()
{
    const Source source = currentSource();
    const std::lock_guard guard(lock);
    if (!cachedStore || !(source == cachedSource)) {
        X509_STORE* store = buildStore(source);
        if (!store)
            return nullptr;
        X509_STORE_free(cachedStore);
        cachedStore = store;
        cachedSource = source;
    }
    X509_STORE_up_ref(cachedStore);
    return cachedStore;
}
