#pragma once

// TlsContext: the settings of one session turned into OpenSSL's context, made
// when the session starts so that files are read and a throwaway certificate
// is made then. Shared by the streams it starts.
#include "tls/tls_certificate.h"
#include "tls/tls_settings.h"

#include <openssl/types.h>

#include <memory>
#include <optional>

enum class TlsRole { Client, Server };

class TlsContext
{
public:
    // Null, with the reason in `error`, when a file cannot be used.
    static std::shared_ptr<const TlsContext> Create(const TlsSettings& settings, TlsRole role,
                                                    QString* error);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* Handle() const { return m_pCtx; }
    TlsRole Role() const { return m_role; }
    const TlsSettings& Settings() const { return m_settings; }
    // The certificate this side presents, if any.
    const std::optional<CertificateInfo>& OwnCertificate() const { return m_ownCertificate; }
    bool SelfSigned() const { return m_bSelfSigned; }

private:
    TlsContext(const TlsSettings& settings, TlsRole role);
    bool UseCertificateFiles(const QString& certFile, const QString& keyFile, QString* error);

    SSL_CTX* m_pCtx = nullptr;
    TlsRole m_role;
    TlsSettings m_settings;
    std::optional<CertificateInfo> m_ownCertificate;
    bool m_bSelfSigned = false;
};

// OpenSSL's reason for the latest error of this thread, emptied; "" when none.
QString TakeOpenSslError();
