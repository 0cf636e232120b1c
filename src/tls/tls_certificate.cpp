#include "tls/tls_certificate.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>

namespace {

QString NameText(const X509_NAME* name)
{
    if (!name)
        return {};
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio)
        return {};
    // One line, most significant part first, UTF-8 as it is.
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    QString text = QString::fromUtf8(data, static_cast<qsizetype>(length));
    BIO_free(bio);
    return text;
}

QString TimeText(const ASN1_TIME* time)
{
    std::tm tm{};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1)
        return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return QString::fromLatin1(text);
}

} // namespace

void X509Deleter::operator()(X509* x) const
{
    X509_free(x);
}

void EvpPkeyDeleter::operator()(EVP_PKEY* k) const
{
    EVP_PKEY_free(k);
}

QByteArray CertificateSha256(X509* certificate)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!certificate || X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length));
}

QString FormatFingerprint(const QByteArray& digest)
{
    return QString::fromLatin1(digest.toHex(':').toUpper());
}

QByteArray ParseFingerprint(const QString& text)
{
    QString hex = text.trimmed();
    if (hex.startsWith(QLatin1String("sha256:"), Qt::CaseInsensitive))
        hex = hex.mid(7);
    hex.remove(QLatin1Char(':'));
    if (hex.size() != 64)
        return {};
    for (const QChar c : hex) {
        if (!isxdigit(c.unicode()) || c.unicode() > 0x7F)
            return {};
    }
    return QByteArray::fromHex(hex.toLatin1());
}

CertificateInfo DescribeCertificate(X509* certificate)
{
    CertificateInfo info;
    if (!certificate)
        return info;
    info.subject = NameText(X509_get_subject_name(certificate));
    info.issuer = NameText(X509_get_issuer_name(certificate));
    info.notBefore = TimeText(X509_get0_notBefore(certificate));
    info.notAfter = TimeText(X509_get0_notAfter(certificate));
    info.sha256 = FormatFingerprint(CertificateSha256(certificate));
    return info;
}

SelfSignedCertificate MakeSelfSignedCertificate()
{
    SelfSignedCertificate made;
    EvpPkeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr cert(X509_new());
    if (!key || !cert)
        return {};
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1)
        return {};
    serial[0] &= 0x7F; // a positive number
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool serialSet = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get()));
    BN_free(number);
    X509_NAME* name = X509_get_subject_name(cert.get());
    const auto* common = reinterpret_cast<const unsigned char*>("Korvo throwaway certificate");
    bool ok = serialSet && X509_set_version(cert.get(), X509_VERSION_3) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) &&
              X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600) &&
              X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, common, -1, -1, 0) == 1 &&
              X509_set_issuer_name(cert.get(), name) == 1 && X509_set_pubkey(cert.get(), key.get()) == 1;
    // The names a client on this machine uses, so that a client that trusts
    // this very certificate can also check the name.
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
    for (const auto& [nid, value] : {std::pair{NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1"},
                                     std::pair{NID_basic_constraints, "critical,CA:FALSE"},
                                     std::pair{NID_ext_key_usage, "serverAuth"}}) {
        if (!ok)
            break;
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
        ok = extension && X509_add_ext(cert.get(), extension, -1) == 1;
        X509_EXTENSION_free(extension);
    }
    if (!ok || X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0)
        return {};
    made.certificate = std::move(cert);
    made.key = std::move(key);
    return made;
}
