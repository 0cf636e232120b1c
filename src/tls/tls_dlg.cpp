#include "tls/tls_dlg.h"

#include "messages/byte_entry_dlg.h"
#include "messages/list_window.h"
#include "platform/file_dialog.h"
#include "platform/strings.h"
#include "tls/tls_stream.h"
#include "ui/korvo_dlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

// The profile's section for the window's place (the settings have their own).
const QString kPlaceSection = QStringLiteral("TLSWindow");

QLineEdit* ReadOnlyField(QWidget* parent, const QString& label)
{
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(true);
    edit->setAccessibleName(PlainCaption(label));
    return edit;
}

} // namespace

CTlsDlg::CTlsDlg(CKorvoDlg& dlg) : QDialog(&dlg), m_dlg(dlg)
{
    setWindowTitle(LoadStr(401));

    m_checkUse = new QCheckBox(LoadStr(402), this);
    m_checkUse->setAccessibleName(PlainCaption(LoadStr(402)));

    // How the peer is checked.
    auto* verifyBox = new QGroupBox(LoadStr(429), this);
    m_checkVerify = new QCheckBox(LoadStr(403), verifyBox);
    m_checkVerify->setAccessibleName(PlainCaption(LoadStr(403)));
    m_radioSystemCa = new QRadioButton(LoadStr(404), verifyBox);
    m_radioSystemCa->setAccessibleName(PlainCaption(LoadStr(404)));
    m_radioCaFile = new QRadioButton(LoadStr(405), verifyBox);
    m_radioCaFile->setAccessibleName(PlainCaption(LoadStr(405)));
    auto* caGroup = new QButtonGroup(verifyBox);
    caGroup->addButton(m_radioSystemCa);
    caGroup->addButton(m_radioCaFile);
    auto* verifyGrid = new QGridLayout(verifyBox);
    verifyGrid->addWidget(m_checkVerify, 0, 0, 1, 3);
    verifyGrid->addWidget(m_radioSystemCa, 1, 0, 1, 3);
    m_editCaFile = AddFileRow(verifyGrid, 2, m_radioCaFile, 405);

    // What a server presents.
    auto* serverBox = new QGroupBox(LoadStr(406), this);
    m_radioSelfSigned = new QRadioButton(LoadStr(407), serverBox);
    m_radioSelfSigned->setAccessibleName(PlainCaption(LoadStr(407)));
    m_radioCertFiles = new QRadioButton(LoadStr(408), serverBox);
    m_radioCertFiles->setAccessibleName(PlainCaption(LoadStr(408)));
    auto* certGroup = new QButtonGroup(serverBox);
    certGroup->addButton(m_radioSelfSigned);
    certGroup->addButton(m_radioCertFiles);
    auto* serverGrid = new QGridLayout(serverBox);
    serverGrid->addWidget(m_radioSelfSigned, 0, 0, 1, 3);
    m_editCertFile = AddFileRow(serverGrid, 1, m_radioCertFiles, 408);
    auto* keyLabel = new QLabel(LoadStr(409), serverBox);
    // Under the radio button's text, where the key belongs to it.
    keyLabel->setIndent(QRadioButton().sizeHint().height());
    m_editKeyFile = AddFileRow(serverGrid, 2, keyLabel, 409);
    m_caFileControls = {m_editCaFile, verifyGrid->itemAtPosition(2, 2)->widget()};
    m_certFileControls = {m_editCertFile, serverGrid->itemAtPosition(1, 2)->widget(), keyLabel, m_editKeyFile,
                          serverGrid->itemAtPosition(2, 2)->widget()};

    // What a client presents when asked.
    auto* clientBox = new QGroupBox(LoadStr(410), this);
    auto* clientGrid = new QGridLayout(clientBox);
    m_editClientCertFile = AddFileRow(clientGrid, 0, new QLabel(LoadStr(408), clientBox), 408);
    m_editClientKeyFile = AddFileRow(clientGrid, 1, new QLabel(LoadStr(409), clientBox), 409);
    // Two rows share their captions with the server's: screen readers tell
    // them apart by the group.
    for (QLineEdit* edit : {m_editClientCertFile, m_editClientKeyFile})
        edit->setAccessibleDescription(LoadStr(410));

    m_comboMinVersion = new QComboBox(this);
    // Named before anything can ask for its accessible interface, which is
    // chosen by the name it has then.
    m_comboMinVersion->setAccessibleName(PlainCaption(LoadStr(411)));
    m_comboMinVersion->addItem(TlsVersionName(TlsMinVersion::Tls12));
    m_comboMinVersion->addItem(TlsVersionName(TlsMinVersion::Tls13));
    m_editServerName = new QLineEdit(this);
    m_editServerName->setPlaceholderText(LoadStr(413));
    m_editServerName->setAccessibleName(PlainCaption(LoadStr(412)));
    m_editServerName->setAccessibleDescription(LoadStr(413));
    auto* options = new QFormLayout;
    auto* versionLabel = new QLabel(LoadStr(411), this);
    versionLabel->setBuddy(m_comboMinVersion);
    auto* nameLabel = new QLabel(LoadStr(412), this);
    nameLabel->setBuddy(m_editServerName);
    options->addRow(versionLabel, m_comboMinVersion);
    options->addRow(nameLabel, m_editServerName);

    // What the last handshake came to.
    auto* sessionBox = new QGroupBox(LoadStr(415), this);
    auto* sessionForm = new QFormLayout(sessionBox);
    const auto addField = [&](int captionId) {
        QLineEdit* edit = ReadOnlyField(sessionBox, LoadStr(captionId));
        sessionForm->addRow(LoadStr(captionId), edit);
        return edit;
    };
    m_editVersion = addField(417);
    m_editCipher = addField(418);
    m_editSubject = addField(419);
    m_editIssuer = addField(420);
    m_editValidity = addField(421);
    m_editFingerprint = addField(423);
    m_editOwnFingerprint = addField(425);
    m_editVersion->setText(LoadStr(416));
    // A fingerprint is read whole: its field spans the window under its label.
    sessionForm->setRowWrapPolicy(QFormLayout::WrapLongRows);
    const QString widest = QStringLiteral("8B:").repeated(32);
    for (QLineEdit* edit : {m_editFingerprint, m_editOwnFingerprint})
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(widest) + 12);

    m_btnClose = new QPushButton(LoadStr(129), this);
    m_btnClose->setAutoDefault(false);
    m_btnClose->setAccessibleName(PlainCaption(LoadStr(129)));
    connect(m_btnClose, &QPushButton::clicked, this, &QDialog::hide);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(m_btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_checkUse);
    layout->addWidget(verifyBox);
    layout->addWidget(serverBox);
    layout->addWidget(clientBox);
    layout->addLayout(options);
    layout->addWidget(sessionBox);
    layout->addLayout(bottom);

    Load(LoadTlsSettings());

    connect(m_checkUse, &QCheckBox::toggled, this, [this] { m_dlg.ShowTitle(); });
    for (QAbstractButton* button :
         {static_cast<QAbstractButton*>(m_checkVerify), static_cast<QAbstractButton*>(m_radioCaFile),
          static_cast<QAbstractButton*>(m_radioCertFiles)})
        connect(button, &QAbstractButton::toggled, this, [this] {
            UpdateEnabled();
            Save();
        });
    for (QLineEdit* edit : {m_editCaFile, m_editCertFile, m_editKeyFile, m_editClientCertFile,
                            m_editClientKeyFile, m_editServerName})
        connect(edit, &QLineEdit::textChanged, this, [this] { Save(); });
    connect(m_comboMinVersion, &QComboBox::currentIndexChanged, this, [this] { Save(); });

    m_dlg.m_taps.Add(this);
}

CTlsDlg::~CTlsDlg()
{
    m_dlg.m_taps.Remove(this);
}

QLineEdit* CTlsDlg::AddFileRow(QGridLayout* grid, int row, QWidget* label, int captionId)
{
    auto* edit = new QLineEdit(label->parentWidget());
    edit->setAccessibleName(PlainCaption(LoadStr(captionId)));
    if (auto* text = qobject_cast<QLabel*>(label))
        text->setBuddy(edit);
    auto* browse = new QPushButton(LoadStr(414), label->parentWidget());
    browse->setAutoDefault(false);
    browse->setAccessibleName(LoadStr(414));
    browse->setAccessibleDescription(PlainCaption(LoadStr(captionId)));
    connect(browse, &QPushButton::clicked, this, [this, edit] {
        FileDialogRequest request;
        request.open = true;
        request.title = LoadStr(426);
        request.filters = {LoadStr(427), LoadStr(428)};
        request.initialPath = edit->text().isEmpty() ? QDir::homePath() + QLatin1Char('/') : edit->text();
        request.parent = this;
        const FileDialogResult result = RunFileDialog(request);
        if (result.accepted)
            edit->setText(result.path);
    });
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(browse, row, 2);
    return edit;
}

void CTlsDlg::Load(const TlsSettings& s)
{
    m_bLoading = true;
    m_checkVerify->setChecked(s.verify);
    m_editCaFile->setText(s.caFile);
    (s.useCaFile ? m_radioCaFile : m_radioSystemCa)->setChecked(true);
    (s.selfSigned ? m_radioSelfSigned : m_radioCertFiles)->setChecked(true);
    m_editCertFile->setText(s.certFile);
    m_editKeyFile->setText(s.keyFile);
    m_editClientCertFile->setText(s.clientCertFile);
    m_editClientKeyFile->setText(s.clientKeyFile);
    m_comboMinVersion->setCurrentIndex(s.minVersion == TlsMinVersion::Tls13 ? 1 : 0);
    m_editServerName->setText(s.serverName);
    m_bLoading = false;
    UpdateEnabled();
}

TlsSettings CTlsDlg::Settings() const
{
    TlsSettings s;
    s.verify = m_checkVerify->isChecked();
    s.useCaFile = m_radioCaFile->isChecked();
    s.caFile = m_editCaFile->text().trimmed();
    s.selfSigned = m_radioSelfSigned->isChecked();
    s.certFile = m_editCertFile->text().trimmed();
    s.keyFile = m_editKeyFile->text().trimmed();
    s.clientCertFile = m_editClientCertFile->text().trimmed();
    s.clientKeyFile = m_editClientKeyFile->text().trimmed();
    s.minVersion = m_comboMinVersion->currentIndex() == 1 ? TlsMinVersion::Tls13 : TlsMinVersion::Tls12;
    s.serverName = m_editServerName->text().trimmed();
    s.handshakeTimeoutMs = m_nHandshakeTimeoutMs;
    return s;
}

void CTlsDlg::Save()
{
    if (m_bLoading)
        return;
    SaveTlsSettings(Settings());
}

void CTlsDlg::UpdateEnabled()
{
    const bool verify = m_checkVerify->isChecked();
    m_radioSystemCa->setEnabled(verify);
    m_radioCaFile->setEnabled(verify);
    for (QWidget* w : m_caFileControls)
        w->setEnabled(verify && m_radioCaFile->isChecked());
    for (QWidget* w : m_certFileControls)
        w->setEnabled(m_radioCertFiles->isChecked());
}

bool CTlsDlg::IsOn() const
{
    return m_checkUse->isChecked();
}

void CTlsDlg::Open()
{
    if (!m_bPlaceRestored) {
        // Its size first, so that the place beside the main window fits it.
        adjustSize();
        RestoreWindowPlace(this, kPlaceSection, &m_dlg);
        m_bPlaceRestored = true;
    }
    show();
    raise();
    activateWindow();
}

void CTlsDlg::hideEvent(QHideEvent* event)
{
    SaveWindowPlace(this, kPlaceSection);
    QDialog::hideEvent(event);
}

void CTlsDlg::ShowOwnCertificate(const std::optional<CertificateInfo>& certificate)
{
    m_editOwnFingerprint->setText(certificate ? certificate->sha256 : QString());
    m_editOwnFingerprint->setCursorPosition(0);
}

void CTlsDlg::ShowHandshake(const TlsStream& stream)
{
    const TlsSessionDetails details = stream.Details();
    m_editVersion->setText(details.version);
    m_editCipher->setText(details.cipher);
    if (details.peer) {
        m_editSubject->setText(details.peer->subject);
        m_editIssuer->setText(details.peer->issuer);
        m_editValidity->setText(LoadStr(422).arg(details.peer->notBefore, details.peer->notAfter));
        m_editFingerprint->setText(details.peer->sha256);
    } else {
        m_editSubject->setText(LoadStr(424));
        m_editIssuer->clear();
        m_editValidity->clear();
        m_editFingerprint->clear();
    }
    for (QLineEdit* edit :
         {m_editVersion, m_editCipher, m_editSubject, m_editIssuer, m_editValidity, m_editFingerprint})
        edit->setCursorPosition(0);
    const auto& own = stream.Context().OwnCertificate();
    ShowOwnCertificate(own);
}

void CTlsDlg::OnSessionOpened(const SessionInfo& session, const TapTime&)
{
    if (session.protocol != SessionProtocol::Tcp)
        return;
    if (const TlsStream* tls = m_dlg.m_sock.Tls())
        ShowHandshake(*tls);
}
