#pragma once

// What the user chose for TLS sessions. Everything but the switch is kept in
// the profile; TLS itself is off at every start.
#include <QByteArray>
#include <QString>

enum class TlsMinVersion { Tls12, Tls13 };

struct TlsSettings
{
    // Verify the peer's certificate: the server's chain and name as a client,
    // a client certificate (then required) as a server with a CA file.
    bool verify = true;
    // The system's certificate authorities, or those of the file.
    bool useCaFile = false;
    QString caFile;
    // Server: a certificate made at Listen, or the files below.
    bool selfSigned = true;
    QString certFile;
    QString keyFile;
    // Client: an optional certificate for servers that ask for one.
    QString clientCertFile;
    QString clientKeyFile;
    TlsMinVersion minVersion = TlsMinVersion::Tls12;
    // Sent as SNI and checked against the certificate; empty: the remote host.
    QString serverName;
    // SHA-256 of the peer's certificate (32 bytes): when set, that certificate
    // and no other is accepted, whoever issued it.
    QByteArray pin;
    // How long a handshake may take before the session gives up.
    int handshakeTimeoutMs = 10000;

    bool UsesCaFile() const { return useCaFile && !caFile.isEmpty(); }
    bool operator==(const TlsSettings&) const = default;
};

// The profile's section "TLS"; missing or unreadable entries keep their defaults.
TlsSettings LoadTlsSettings();
void SaveTlsSettings(const TlsSettings& settings);

// "TLS 1.2" and "TLS 1.3", as the user reads and the command line writes them.
QString TlsVersionName(TlsMinVersion version);
