#include "tls/tls_context.h"

#include "platform/strings.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// The session keys in the NSS key log format, for tools that decrypt a
// capture of the real traffic. Appended line by line, as browsers do.
void WriteKeyLogLine(const SSL*, const char* line)
{
    const char* path = std::getenv("SSLKEYLOGFILE");
    if (!path || !*path)
        return;
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    std::string text(line);
    text += '\n';
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    ::close(fd);
}

QByteArray FileName(const QString& path)
{
    return QFile::encodeName(path);
}

} // namespace

QString TakeOpenSslError()
{
    // The first error is the cause ("No such file or directory", "no start
    // line"); the later ones only say which layer passed it on ("PEM lib").
    const unsigned long code = ERR_peek_error();
    ERR_clear_error();
    if (code == 0)
        return {};
    if (ERR_SYSTEM_ERROR(code))
        return QString::fromLocal8Bit(std::strerror(ERR_GET_REASON(code)));
    const char* reason = ERR_reason_error_string(code);
    return reason ? QString::fromUtf8(reason) : QString::fromLatin1(ERR_error_string(code, nullptr));
}

TlsContext::TlsContext(const TlsSettings& settings, TlsRole role) : m_role(role), m_settings(settings) {}

TlsContext::~TlsContext()
{
    SSL_CTX_free(m_pCtx);
}

bool TlsContext::UseCertificateFiles(const QString& certFile, const QString& keyFile, QString* error)
{
    ERR_clear_error();
    if (SSL_CTX_use_certificate_chain_file(m_pCtx, FileName(certFile).constData()) != 1) {
        *error = LoadStr(445).arg(certFile, TakeOpenSslError());
        return false;
    }
    const QString key = keyFile.isEmpty() ? certFile : keyFile;
    if (SSL_CTX_use_PrivateKey_file(m_pCtx, FileName(key).constData(), SSL_FILETYPE_PEM) != 1) {
        // A file that read as no key: say so, not how the decoders gave up.
        const int library = ERR_GET_LIB(ERR_peek_error());
        const bool noKey = !ERR_SYSTEM_ERROR(ERR_peek_error()) &&
                           (library == ERR_LIB_PEM || library == ERR_LIB_OSSL_DECODER || library == ERR_LIB_ASN1);
        const QString why = TakeOpenSslError();
        *error = LoadStr(445).arg(key, noKey ? LoadStr(449) : why);
        return false;
    }
    if (SSL_CTX_check_private_key(m_pCtx) != 1) {
        *error = LoadStr(445).arg(key, TakeOpenSslError());
        return false;
    }
    m_ownCertificate = DescribeCertificate(SSL_CTX_get0_certificate(m_pCtx));
    return true;
}

std::shared_ptr<const TlsContext> TlsContext::Create(const TlsSettings& settings, TlsRole role,
                                                     QString* error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    ERR_clear_error();
    std::shared_ptr<TlsContext> context(new TlsContext(settings, role));
    context->m_pCtx = SSL_CTX_new(role == TlsRole::Client ? TLS_client_method() : TLS_server_method());
    SSL_CTX* ctx = context->m_pCtx;
    if (!ctx) {
        *error = LoadStr(443).arg(TakeOpenSslError());
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, settings.minVersion == TlsMinVersion::Tls13 ? TLS1_3_VERSION
                                                                                   : TLS1_2_VERSION);
    // Records are read several at a time; what was read ahead is drained
    // without waiting for the socket (see CAsyncSocket).
    SSL_CTX_set_read_ahead(ctx, 1);
    SSL_CTX_set_default_read_buffer_len(ctx, 4 * SSL3_RT_MAX_PACKET_SIZE);
    SSL_CTX_set_keylog_callback(ctx, WriteKeyLogLine);

    const bool caFile = settings.UsesCaFile();
    if (settings.verify) {
        const bool loaded = caFile ? SSL_CTX_load_verify_file(ctx, FileName(settings.caFile).constData()) == 1
                                   : SSL_CTX_set_default_verify_paths(ctx) == 1;
        if (!loaded) {
            *error = LoadStr(445).arg(settings.caFile, TakeOpenSslError());
            return nullptr;
        }
    }

    if (role == TlsRole::Server) {
        if (settings.selfSigned) {
            SelfSignedCertificate made = MakeSelfSignedCertificate();
            if (!made.certificate || SSL_CTX_use_certificate(ctx, made.certificate.get()) != 1 ||
                SSL_CTX_use_PrivateKey(ctx, made.key.get()) != 1) {
                *error = LoadStr(443).arg(TakeOpenSslError());
                return nullptr;
            }
            context->m_ownCertificate = DescribeCertificate(made.certificate.get());
            context->m_bSelfSigned = true;
        } else if (!context->UseCertificateFiles(settings.certFile, settings.keyFile, error)) {
            return nullptr;
        }
        // A server asks for a client certificate only when it can check one.
        if (settings.verify && caFile) {
            SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
            if (STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(FileName(settings.caFile).constData()))
                SSL_CTX_set_client_CA_list(ctx, names);
        }
    } else if (!settings.clientCertFile.isEmpty() &&
               !context->UseCertificateFiles(settings.clientCertFile, settings.clientKeyFile, error)) {
        return nullptr;
    }
    return context;
}
