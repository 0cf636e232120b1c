#pragma once

// Certificates as people read them, and the throwaway one a server makes for
// itself.
#include <QString>

#include <openssl/types.h>

#include <memory>

struct CertificateInfo
{
    QString subject;
    QString issuer;
    // "2025-06-01 12:00:00 UTC"
    QString notBefore;
    QString notAfter;
    // Upper-case hex in pairs with colons, as openssl x509 -fingerprint shows it.
    QString sha256;
};

CertificateInfo DescribeCertificate(X509* certificate);
// The SHA-256 of the certificate's DER form; empty on failure.
QByteArray CertificateSha256(X509* certificate);
QString FormatFingerprint(const QByteArray& digest);
// "sha256:AB:CD..." or "AB:CD..." or plain hex back to 32 bytes; empty when it
// is none of these.
QByteArray ParseFingerprint(const QString& text);

struct X509Deleter
{
    void operator()(X509* x) const;
};
struct EvpPkeyDeleter
{
    void operator()(EVP_PKEY* k) const;
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyDeleter>;

struct SelfSignedCertificate
{
    X509Ptr certificate;
    EvpPkeyPtr key;
};

// A fresh P-256 key and a certificate for it, signed by itself, valid from an
// hour ago for 30 days, for "localhost", 127.0.0.1 and ::1. Empty on failure.
SelfSignedCertificate MakeSelfSignedCertificate();
