#pragma once

struct x509_store_st;

// The certificate authorities that TLS connections trust, read once per process and shared by every connection.
// libcurl would otherwise read and parse the whole system bundle again for each connection it makes, data
// connections included: tens of milliseconds of processor time for every file an FTPS upload sends.
//
// The authorities are those of SSL_CERT_FILE and SSL_CERT_DIR, as every OpenSSL program honours them, and else
// libcurl's own bundle and folder. A change of those variables, or of the bundle file itself, is read anew at the
// next connection.
//
// Contract: thread-safe; any thread may ask. The store comes with a reference of the caller's own, given back with
// X509_STORE_free; null when no store could be made. A file or folder that cannot be read leaves its authorities
// out, so a certificate that only they would vouch for fails its check as it would without them.
x509_store_st* acquireTrustStore();
