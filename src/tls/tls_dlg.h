#pragma once

// CTlsDlg: the TLS window. The switch "Use TLS for TCP sessions" (off at
// every start), how the peer is verified, the certificates of each side, the
// lowest version and the server name; everything but the switch is kept in
// the profile as it changes. Once a session's handshake completes it shows
// what was agreed and who the peer is. Modeless; settings apply to the next
// session.
#include "net/session_tap.h"
#include "tls/tls_certificate.h"
#include "tls/tls_settings.h"

#include <QDialog>

#include <optional>

class CKorvoDlg;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class TlsStream;

class CTlsDlg : public QDialog, public SessionTap
{
    Q_OBJECT

public:
    explicit CTlsDlg(CKorvoDlg& dlg);
    ~CTlsDlg() override;

    void Open();
    bool IsOn() const;
    // The settings as the controls show them.
    TlsSettings Settings() const;
    // The certificate a listening server presents (its fingerprint is what a
    // client checks a throwaway certificate by).
    void ShowOwnCertificate(const std::optional<CertificateInfo>& certificate);
    void ShowHandshake(const TlsStream& stream);

    void OnSessionOpened(const SessionInfo& session, const TapTime& time) override;

    QCheckBox* m_checkUse = nullptr;
    QCheckBox* m_checkVerify = nullptr;
    QRadioButton* m_radioSystemCa = nullptr;
    QRadioButton* m_radioCaFile = nullptr;
    QLineEdit* m_editCaFile = nullptr;
    QRadioButton* m_radioSelfSigned = nullptr;
    QRadioButton* m_radioCertFiles = nullptr;
    QLineEdit* m_editCertFile = nullptr;
    QLineEdit* m_editKeyFile = nullptr;
    QLineEdit* m_editClientCertFile = nullptr;
    QLineEdit* m_editClientKeyFile = nullptr;
    QComboBox* m_comboMinVersion = nullptr;
    QLineEdit* m_editServerName = nullptr;
    // What the last handshake agreed.
    QLineEdit* m_editVersion = nullptr;
    QLineEdit* m_editCipher = nullptr;
    QLineEdit* m_editSubject = nullptr;
    QLineEdit* m_editIssuer = nullptr;
    QLineEdit* m_editValidity = nullptr;
    QLineEdit* m_editFingerprint = nullptr;
    QLineEdit* m_editOwnFingerprint = nullptr;
    QPushButton* m_btnClose = nullptr;
    // How long a handshake may take.
    int m_nHandshakeTimeoutMs = TlsSettings().handshakeTimeoutMs;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void Load(const TlsSettings& settings);
    void Save();
    void UpdateEnabled();
    QLineEdit* AddFileRow(class QGridLayout* grid, int row, QWidget* label, int captionId);

    CKorvoDlg& m_dlg;
    bool m_bLoading = false;
    bool m_bPlaceRestored = false;
    QList<QWidget*> m_caFileControls;
    QList<QWidget*> m_certFileControls;
};
