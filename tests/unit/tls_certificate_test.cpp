// Fingerprints as people type and read them, and the throwaway certificate.
#include "tls/tls_certificate.h"

#include <gtest/gtest.h>

#include <openssl/x509v3.h>

namespace {

TEST(TlsFingerprint, ParsedFromTheFormsPeopleCopy)
{
    const QByteArray digest =
        QByteArray::fromHex("00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");
    const QString shown = FormatFingerprint(digest);
    EXPECT_EQ(QStringLiteral("00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:"
                             "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF"),
              shown);
    const struct
    {
        QString text;
        bool valid;
    } cases[] = {
        {shown, true},
        {QStringLiteral("sha256:") + shown, true},
        {QStringLiteral("SHA256:") + shown.toLower(), true},
        {QStringLiteral("  ") + QString::fromLatin1(digest.toHex()) + QStringLiteral(" "), true},
        {shown.left(shown.size() - 3), false},  // a byte short
        {shown + QStringLiteral(":00"), false}, // a byte more
        {QString(shown).replace(0, 1, QLatin1Char('g')), false},
        {QStringLiteral("sha1:") + shown, false},
        {QString(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(c.valid ? digest : QByteArray(), ParseFingerprint(c.text));
    }
}

TEST(TlsCertificate, ThrowawayIsFreshSelfSignedAndNamesThisMachine)
{
    const SelfSignedCertificate first = MakeSelfSignedCertificate();
    const SelfSignedCertificate second = MakeSelfSignedCertificate();
    ASSERT_TRUE(first.certificate && first.key && second.certificate);
    const CertificateInfo info = DescribeCertificate(first.certificate.get());
    EXPECT_EQ(info.subject, info.issuer);
    EXPECT_EQ(QStringLiteral("CN=Korvo throwaway certificate"), info.subject);
    EXPECT_NE(info.sha256, DescribeCertificate(second.certificate.get()).sha256);
    EXPECT_EQ(1, X509_check_ip_asc(first.certificate.get(), "127.0.0.1", 0));
    EXPECT_EQ(1, X509_check_host(first.certificate.get(), "localhost", 0, 0, nullptr));
    EXPECT_EQ(1, X509_check_private_key(first.certificate.get(), first.key.get()));
    // Valid now, and for days, not for years.
    EXPECT_LT(X509_cmp_current_time(X509_get0_notBefore(first.certificate.get())), 0);
    EXPECT_GT(X509_cmp_time(X509_get0_notAfter(first.certificate.get()), nullptr), 0);
    EXPECT_TRUE(info.notAfter.endsWith(QLatin1String(" UTC")));
}

} // namespace
