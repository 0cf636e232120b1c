#include "messages/messages_dlg.h"

#include "messages/byte_entry_dlg.h"
#include "messages/cli_command.h"
#include "net/endpoint.h"
#include "platform/message_box.h"
#include "platform/strings.h"
#include "tls/tls_dlg.h"
#include "ui/korvo_dlg.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include <limits>

namespace {

const QString kPlaceSection = QStringLiteral("Messages");
const QString kKind = QStringLiteral("messages");
// The Data column shows the start of a long message.
constexpr qsizetype kDataShown = 32;

std::vector<CMessagesDlg::MessageModel::Column> Columns()
{
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
    return {
        {LoadStr(238), [](const SavedMessage& m) { return m.name; }},
        {LoadStr(260),
         [](const SavedMessage& m) { return FormatTemplate(ByteForm::Hex, m.data, kDataShown); }},
        {LoadStr(261), [](const SavedMessage& m) { return QString::number(m.repeatMs); }, right},
        {LoadStr(262), [](const SavedMessage& m) { return QString::number(m.count); }, right},
        {LoadStr(263), [](const SavedMessage& m) { return QString::number(m.sent); }, right},
    };
}

void SetCaption(QPushButton* button, int id)
{
    const QString text = LoadStr(id);
    if (button->text() == text)
        return;
    button->setText(text);
    button->setAccessibleName(PlainCaption(text));
}

} // namespace

CMessagesDlg::CMessagesDlg(CKorvoDlg& owner, const QString& listPath)
    : QDialog(&owner), m_sender(owner.m_outgoing), m_owner(owner),
      m_file(listPath.isEmpty() ? CListFile::BesideProfile(QStringLiteral("messages.json")) : listPath, kKind,
             MESSAGES_FILE_VERSION)
{
    setWindowTitle(LoadStr(259));
    setModal(false);
    m_model = new MessageModel(Columns(), MessageToJson, MessageFromJson, this);
    m_panel = new CListPanel(
        m_model, &m_file, [this](int row) { return EditMessage(row); }, LoadStr(259), this);
    QHeaderView* header = m_panel->m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(COLUMN_NAME, QHeaderView::Interactive);
    header->resizeSection(COLUMN_NAME, 8 * header->fontMetrics().averageCharWidth() * 2);
    header->setSectionResizeMode(COLUMN_DATA, QHeaderView::Stretch);

    const auto button = [this](int id, void (CMessagesDlg::*handler)()) {
        auto* b = new QPushButton(this);
        b->setAutoDefault(false);
        SetCaption(b, id);
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    m_btnSend = button(264, &CMessagesDlg::OnSend);
    m_btnRunList = button(266, &CMessagesDlg::OnRunList);
    m_checkLoop = new QCheckBox(LoadStr(268), this);
    m_checkLoop->setAccessibleName(PlainCaption(m_checkLoop->text()));
    connect(m_checkLoop, &QCheckBox::toggled, this, &CMessagesDlg::OnLoop);
    m_btnStopAll = button(269, &CMessagesDlg::OnStopAll);
    m_btnToSendPane = button(270, &CMessagesDlg::OnToSendPane);
    m_btnCopyCommand = button(276, &CMessagesDlg::OnCopyCommand);
    m_btnClose = new QPushButton(LoadStr(129), this);
    m_btnClose->setAutoDefault(false);
    m_btnClose->setAccessibleName(m_btnClose->text());
    connect(m_btnClose, &QPushButton::clicked, this, &CMessagesDlg::reject);

    auto* sending = new QHBoxLayout;
    sending->addWidget(m_btnSend);
    sending->addWidget(m_btnRunList);
    sending->addWidget(m_checkLoop);
    sending->addWidget(m_btnStopAll);
    sending->addWidget(m_btnToSendPane);
    sending->addWidget(m_btnCopyCommand);
    sending->addStretch(1);
    sending->addWidget(m_btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_panel, 1);
    layout->addLayout(sending);
    resize(720, 320);

    m_sender.m_onSent = [this](std::uint64_t id) { OnSent(id); };
    m_sender.m_onEnded = [this] { UpdateButtons(); };
    connect(m_panel, &CListPanel::currentRowChanged, this, [this] { UpdateButtons(); });
    // A message that is removed stops first.
    connect(m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                for (int row = first; row <= last; ++row)
                    m_sender.Stop(m_model->At(row).id);
            });
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] { UpdateButtons(); });
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, [this] { UpdateButtons(); });
    connect(m_model, &QAbstractItemModel::rowsMoved, this, [this] { UpdateButtons(); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { UpdateButtons(); });
    m_owner.m_taps.Add(this);
    UpdateButtons();
}

CMessagesDlg::~CMessagesDlg()
{
    m_owner.m_taps.Remove(this);
    if (isVisible())
        SaveWindowPlace(this, kPlaceSection);
}

void CMessagesDlg::Open()
{
    if (!m_bOpened) {
        m_bOpened = true;
        RestoreWindowPlace(this, kPlaceSection, &m_owner);
        show();
        m_panel->Load();
    }
    show();
    raise();
    activateWindow();
    m_panel->m_table->setFocus();
    UpdateButtons();
}

void CMessagesDlg::reject()
{
    m_sender.StopAll();
    SaveWindowPlace(this, kPlaceSection);
    QDialog::reject();
    UpdateButtons();
}

int CMessagesDlg::EditMessage(int row)
{
    CByteEntryDlg dialog(LoadStr(271), this);
    CByteField* data = dialog.AddByteField(LoadStr(272));
    data->SetFieldsAllowed(true);
    QSpinBox* repeat = dialog.AddNumberRow(LoadStr(273), 0, MESSAGE_REPEAT_MAX_MS);
    QSpinBox* count = dialog.AddNumberRow(LoadStr(274), 0, std::numeric_limits<int>::max());
    if (row >= 0) {
        const SavedMessage& m = m_model->At(row);
        dialog.m_editName->setText(m.name);
        data->SetForm(m.form);
        data->SetTemplate(m.data);
        data->SetNextCounter(m_sender.NextCounter(m.id));
        repeat->setValue(m.repeatMs);
        count->setValue(m.count);
    }
    if (dialog.exec() != QDialog::Accepted)
        return -1;

    // Taken after the dialog: the row's counter went on meanwhile.
    SavedMessage message = row >= 0 ? m_model->At(row) : SavedMessage{};
    message.name = dialog.m_editName->text();
    message.data = data->Template();
    message.form = data->Form();
    message.repeatMs = repeat->value();
    message.count = count->value();
    if (row >= 0) {
        // A repeat goes on with what it was started with no longer.
        m_sender.Stop(message.id);
        m_model->Replace(row, std::move(message));
        UpdateButtons();
        return row;
    }
    m_model->Insert(m_model->Count(), std::move(message));
    return m_model->Count() - 1;
}

bool CMessagesDlg::CanSend() const
{
    // The Telnet window owns a session of its own making.
    return m_owner.m_taps.IsOpen() && !m_owner.m_taps.Current().telnet;
}

bool CMessagesDlg::FitsSession(const SavedMessage& message)
{
    if (m_owner.m_taps.Current().protocol != SessionProtocol::Udp ||
        message.data.Size() <= MESSAGE_DATAGRAM_MAX)
        return true;
    ShowMessageBox(this,
                   LoadStr(275).arg(message.name, QLocale(QLocale::English).toString(message.data.Size())),
                   LoadStr(104), MB_OK | MB_ICONEXCLAMATION);
    return false;
}

void CMessagesDlg::OnSend()
{
    const int row = m_panel->CurrentRow();
    if (row < 0)
        return;
    const SavedMessage& message = m_model->At(row);
    if (message.repeatMs > 0 && m_sender.IsRunning(message.id)) {
        m_sender.Stop(message.id);
    } else if (CanSend() && FitsSession(message)) {
        // A message sent once that is still queued is queued again, not twice.
        m_sender.Start(message.id, message.data, std::chrono::milliseconds(message.repeatMs), message.count);
    }
    UpdateButtons();
}

void CMessagesDlg::OnRunList()
{
    if (m_sender.IsListRunning()) {
        m_sender.StopList();
    } else if (CanSend()) {
        std::vector<MessageSender::Step> steps;
        for (const SavedMessage& message : m_model->Rows()) {
            if (!FitsSession(message))
                return;
            steps.push_back({message.id, message.data, std::chrono::milliseconds(message.repeatMs)});
        }
        m_sender.StartList(std::move(steps), m_checkLoop->isChecked());
    }
    UpdateButtons();
}

void CMessagesDlg::OnLoop()
{
    // Unticked during a run: the list ends after its last row.
    m_sender.SetListLoop(m_checkLoop->isChecked());
}

void CMessagesDlg::OnStopAll()
{
    m_sender.StopAll();
    UpdateButtons();
}

void CMessagesDlg::OnToSendPane()
{
    const int row = m_panel->CurrentRow();
    // The bytes of one send, as the next one would carry them; copying is
    // not sending, so the counter stays.
    if (row >= 0) {
        const SavedMessage& message = m_model->At(row);
        m_owner.SetSendPaneBytes(message.data.Render(m_sender.NextCounter(message.id)));
    }
}

void CMessagesDlg::OnCopyCommand()
{
    const int row = m_panel->CurrentRow();
    if (row < 0)
        return;
    // The fields as they stand: those of the open session, which the window
    // keeps from changing, or of the next one.
    const auto port = [this](int id, unsigned bound) {
        bool ok = false;
        const unsigned typed = m_owner.GetDlgItemText(id).trimmed().toUInt(&ok);
        return ok ? typed : bound;
    };
    CliCommandSession s;
    switch (m_owner.m_comboMode->currentIndex()) {
    case MODE_TCP_SERVER:
        s.mode = CliCommandMode::TcpServer;
        break;
    case MODE_UDP:
        s.mode = CliCommandMode::Udp;
        break;
    default:
        s.mode = CliCommandMode::TcpClient;
        break;
    }
    s.remoteHost = TrimRemoteAddress(m_owner.GetDlgItemText(IDC_EDIT_REMOTE_IP));
    s.remotePort = port(IDC_EDIT_REMOTE_PORT, m_owner.m_nRemotePort);
    s.localPort = port(IDC_EDIT_LOCAL_PORT, m_owner.m_nLocalPort);
    s.ipv6 = m_owner.IsDlgButtonChecked(IDC_RADIO_IPV6);
    s.keepAlive = m_owner.m_checkKeepAlive->isChecked();
    if (m_owner.IsTlsOn()) {
        s.tls = true;
        s.tlsSettings = m_owner.m_pTlsDlg->Settings();
    }
    const QString path = QFileInfo(m_file.Path()).absoluteFilePath();
    if (path != QFileInfo(CListFile::BesideProfile(QStringLiteral("messages.json"))).absoluteFilePath())
        s.messagesFile = path;
    QGuiApplication::clipboard()->setText(CliCommandLine(s, m_model->At(row).name));
}

void CMessagesDlg::OnSessionOpened(const SessionInfo&, const TapTime&)
{
    // "Sent" counts what went out in this session, and counters start again.
    m_sender.ResetCounters();
    for (int row = 0; row < m_model->Count(); ++row)
        m_model->At(row).sent = 0;
    m_model->RefreshColumnSoon(COLUMN_SENT);
    UpdateButtons();
}

void CMessagesDlg::OnSessionEnded(const SessionEnd&, const TapTime&)
{
    // What was queued was dropped with the session; nothing resumes on the
    // next, whose counters start at 0.
    m_sender.StopAll();
    m_sender.ResetCounters();
    UpdateButtons();
}

void CMessagesDlg::OnSent(std::uint64_t id)
{
    const int row = RowOf(id);
    if (row < 0)
        return;
    ++m_model->At(row).sent;
    m_model->RefreshColumnSoon(COLUMN_SENT);
}

int CMessagesDlg::RowOf(std::uint64_t id) const
{
    const auto& rows = m_model->Rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].id == id)
            return static_cast<int>(i);
    }
    return -1;
}

void CMessagesDlg::UpdateButtons()
{
    const int row = m_panel->CurrentRow();
    const bool canSend = CanSend();
    const bool repeating =
        row >= 0 && m_model->At(row).repeatMs > 0 && m_sender.IsRunning(m_model->At(row).id);
    SetCaption(m_btnSend, repeating ? 265 : 264);
    m_btnSend->setEnabled(repeating || (row >= 0 && canSend));
    const bool listRunning = m_sender.IsListRunning();
    SetCaption(m_btnRunList, listRunning ? 267 : 266);
    m_btnRunList->setEnabled(listRunning || (canSend && m_model->Count() > 0));
    m_btnStopAll->setEnabled(!m_sender.IsIdle());
    m_btnToSendPane->setEnabled(row >= 0);
    m_btnCopyCommand->setEnabled(row >= 0);
}
