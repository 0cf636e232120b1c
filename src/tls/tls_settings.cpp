#include "tls/tls_settings.h"

#include "platform/profile.h"

namespace {

const QString kSection = QStringLiteral("TLS");

} // namespace

TlsSettings LoadTlsSettings()
{
    TlsSettings s;
    s.verify = Profile::GetProfileInt(kSection, QStringLiteral("Verify"), 1) != 0;
    s.useCaFile = Profile::GetProfileInt(kSection, QStringLiteral("UseCAFile"), 0) != 0;
    s.caFile = Profile::GetProfileString(kSection, QStringLiteral("CAFile"), {});
    s.selfSigned = Profile::GetProfileInt(kSection, QStringLiteral("SelfSigned"), 1) != 0;
    s.certFile = Profile::GetProfileString(kSection, QStringLiteral("CertFile"), {});
    s.keyFile = Profile::GetProfileString(kSection, QStringLiteral("KeyFile"), {});
    s.clientCertFile = Profile::GetProfileString(kSection, QStringLiteral("ClientCertFile"), {});
    s.clientKeyFile = Profile::GetProfileString(kSection, QStringLiteral("ClientKeyFile"), {});
    s.minVersion = Profile::GetProfileInt(kSection, QStringLiteral("MinVersion"), 12) == 13
                       ? TlsMinVersion::Tls13
                       : TlsMinVersion::Tls12;
    s.serverName = Profile::GetProfileString(kSection, QStringLiteral("ServerName"), {});
    return s;
}

void SaveTlsSettings(const TlsSettings& s)
{
    Profile::WriteProfileInt(kSection, QStringLiteral("Verify"), s.verify ? 1 : 0);
    Profile::WriteProfileInt(kSection, QStringLiteral("UseCAFile"), s.useCaFile ? 1 : 0);
    Profile::WriteProfileString(kSection, QStringLiteral("CAFile"), s.caFile);
    Profile::WriteProfileInt(kSection, QStringLiteral("SelfSigned"), s.selfSigned ? 1 : 0);
    Profile::WriteProfileString(kSection, QStringLiteral("CertFile"), s.certFile);
    Profile::WriteProfileString(kSection, QStringLiteral("KeyFile"), s.keyFile);
    Profile::WriteProfileString(kSection, QStringLiteral("ClientCertFile"), s.clientCertFile);
    Profile::WriteProfileString(kSection, QStringLiteral("ClientKeyFile"), s.clientKeyFile);
    Profile::WriteProfileInt(kSection, QStringLiteral("MinVersion"),
                             s.minVersion == TlsMinVersion::Tls13 ? 13 : 12);
    Profile::WriteProfileString(kSection, QStringLiteral("ServerName"), s.serverName);
}

QString TlsVersionName(TlsMinVersion version)
{
    return version == TlsMinVersion::Tls13 ? QStringLiteral("TLS 1.3") : QStringLiteral("TLS 1.2");
}
