#include "replies/replies_dlg.h"

#include "replies/reply_file.h"

#include "messages/byte_entry_dlg.h"
#include "messages/byte_text.h"
#include "platform/message_box.h"
#include "platform/profile.h"
#include "platform/strings.h"
#include "ui/korvo_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace {

// The profile's section for the window's place and the gap.
const QString kSection = QStringLiteral("Replies");
const QString kGapEntry = QStringLiteral("Gap");
// A cell shows this many bytes of hex at most.
constexpr qsizetype kCellBytes = 24;

} // namespace

CRepliesDlg::CRepliesDlg(CKorvoDlg& dlg)
    : QDialog(&dlg), m_file(CListFile::BesideProfile(QStringLiteral("replies.json")),
                            QStringLiteral("replies"), REPLIES_FILE_VERSION),
      m_dlg(dlg)
{
    setWindowTitle(LoadStr(280));
    setModal(false);

    const auto right = Qt::AlignRight | Qt::AlignVCenter;
    std::vector<CReplyModel::Column> columns;
    columns.push_back(CReplyModel::Column::CheckBox(
        LoadStr(283), [](const ReplyRule& r) { return r.enabled; },
        [this](ReplyRule& r, bool on) {
            r.enabled = on;
            // Ticking a paused rule lets it go again.
            if (on)
                r.limit.Resume();
            // Only enabled rules are looked for.
            if (m_engine)
                m_engine->RulesChanged();
            m_model->RefreshColumnSoon(REPLY_COL_MATCHED);
        }));
    columns.emplace_back(LoadStr(238), [](const ReplyRule& r) { return r.name; });
    columns.emplace_back(LoadStr(284), [](const ReplyRule& r) { return LoadStr(ReplyWhenNameOf(r.when).caption); });
    columns.emplace_back(LoadStr(285),
                         [](const ReplyRule& r) { return FormatHexBytes(r.pattern, kCellBytes); });
    columns.emplace_back(
        LoadStr(286), [](const ReplyRule& r) { return FormatTemplate(ByteForm::Hex, r.reply, kCellBytes); });
    columns.emplace_back(
        LoadStr(287), [](const ReplyRule& r) { return QString::number(r.delayMs); }, right);
    columns.emplace_back(
        LoadStr(288),
        [](const ReplyRule& r) {
            const QString count = QString::number(r.matched);
            return r.limit.Paused() ? LoadStr(293).arg(count) : count;
        },
        right);
    m_model = new CReplyModel(std::move(columns), ReplyRuleToJson, ReplyRuleFromJson, this);
    m_panel = new CListPanel(
        m_model, &m_file, [this](int row) { return EditRule(row); }, LoadStr(300), this);
    // The bytes take the room; the other columns are as wide as they need.
    QHeaderView* header = m_panel->m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(REPLY_COL_NAME, QHeaderView::Interactive);
    header->resizeSection(REPLY_COL_NAME, header->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 16);
    header->setSectionResizeMode(REPLY_COL_PATTERN, QHeaderView::Stretch);
    header->setSectionResizeMode(REPLY_COL_REPLY, QHeaderView::Stretch);
    m_panel->m_table->installEventFilter(this);

    m_checkAuto = new QCheckBox(LoadStr(281), this);
    m_checkAuto->setAccessibleName(PlainCaption(LoadStr(281)));
    m_spinGap = new QSpinBox(this);
    m_spinGap->setRange(1, GAP_MAX_MS);
    m_spinGap->setGroupSeparatorShown(false);
    // Typing 200 is one change, not three.
    m_spinGap->setKeyboardTracking(false);
    m_spinGap->setAccessibleName(PlainCaption(LoadStr(282)));
    m_spinGap->setAccessibleDescription(LoadStr(303));
    m_spinGap->setToolTip(LoadStr(303));
    auto* gapLabel = new QLabel(LoadStr(282), this);
    gapLabel->setBuddy(m_spinGap);
    m_checkEnabled = new QCheckBox(LoadStr(301), this);
    m_checkEnabled->setAccessibleName(PlainCaption(LoadStr(301)));
    m_btnClose = new QPushButton(LoadStr(129), this);
    m_btnClose->setAutoDefault(false);
    m_btnClose->setAccessibleName(LoadStr(129));

    auto* top = new QHBoxLayout;
    top->addWidget(m_checkAuto);
    top->addStretch(1);
    top->addWidget(gapLabel);
    top->addWidget(m_spinGap);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_checkEnabled);
    bottom->addStretch(1);
    bottom->addWidget(m_btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_panel, 1);
    layout->addLayout(bottom);
    resize(760, 360);

    m_panel->Load();
    m_engine = std::make_unique<CReplyEngine>(
        dlg.m_taps, dlg.m_outgoing,
        ReplyRuleRows{[this] { return m_model->Count(); },
                      [this](int row) -> ReplyRule& { return m_model->At(row); }});
    m_engine->m_onRuleChanged = [this](int) { m_model->RefreshColumnSoon(REPLY_COL_MATCHED); };
    m_engine->m_onPaused = [this](int row) { OnPaused(row); };
    m_engine->m_onTooLong = [this](int row) {
        QTimer::singleShot(0, this, [this, row] { TellTooLong(row); });
    };
    m_spinGap->setValue(Profile::GetProfileInt(kSection, kGapEntry, CReplyEngine::GAP_DEFAULT_MS));
    m_engine->SetGap(m_spinGap->value());

    // Rows added, removed or moved: the matcher follows the table.
    const auto rebuild = [this] { m_engine->RulesChanged(); };
    connect(m_model, &QAbstractItemModel::rowsInserted, this, rebuild);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, rebuild);
    connect(m_model, &QAbstractItemModel::rowsMoved, this, rebuild);
    // A change refused for the file's size puts the rows back.
    connect(m_model, &QAbstractItemModel::modelReset, this, rebuild);
    connect(m_model, &QAbstractItemModel::dataChanged, this, [this] { ShowSelectedEnabled(); });
    connect(m_panel, &CListPanel::currentRowChanged, this, [this] { ShowSelectedEnabled(); });
    connect(m_checkAuto, &QCheckBox::toggled, this, [this](bool on) { m_engine->SetActive(on); });
    connect(m_spinGap, &QSpinBox::valueChanged, this, [this](int ms) {
        m_engine->SetGap(ms);
        Profile::WriteProfileInt(kSection, kGapEntry, ms);
    });
    // Toggled, not clicked: assistive tools toggle without a click.
    connect(m_checkEnabled, &QCheckBox::toggled, this,
            [this](bool on) { SetEnabled(m_panel->CurrentRow(), on); });
    connect(m_btnClose, &QPushButton::clicked, this, &CRepliesDlg::reject);
    // The window opens on the rules.
    QWidget::setTabOrder(m_checkAuto, m_spinGap);
    QWidget::setTabOrder(m_spinGap, m_panel->m_table);
    QWidget::setTabOrder(m_panel->m_btnExport, m_checkEnabled);
    QWidget::setTabOrder(m_checkEnabled, m_btnClose);
    m_panel->m_table->setFocus();
    ShowSelectedEnabled();
}

CRepliesDlg::~CRepliesDlg()
{
    // The engine's last calls reach the model: it goes first.
    m_engine.reset();
}

void CRepliesDlg::Open()
{
    if (!m_bPlaceRestored) {
        RestoreWindowPlace(this, kSection, &m_dlg);
        m_bPlaceRestored = true;
    }
    show();
    raise();
    activateWindow();
}

void CRepliesDlg::hideEvent(QHideEvent* event)
{
    SaveWindowPlace(this, kSection);
    QDialog::hideEvent(event);
}

int CRepliesDlg::EditRule(int row)
{
    ReplyRule rule = row >= 0 ? m_model->At(row) : ReplyRule{};
    CByteEntryDlg entry(LoadStr(row < 0 ? 294 : 295), this);
    entry.m_editName->setText(rule.name);
    auto* when = new QComboBox(&entry);
    // Named before it has items, so that screen readers know it by its label.
    entry.AddRow(LoadStr(296), when);
    for (const ReplyWhenName& w : REPLY_WHEN_NAMES)
        when->addItem(LoadStr(w.caption));
    when->setCurrentIndex(static_cast<int>(rule.when));
    CByteField* pattern = entry.AddByteField(LoadStr(297));
    pattern->SetLimit(PATTERN_MAX);
    // A pattern longer than any datagram Korvo receives can match over TCP only.
    QLabel* udpNote = entry.AddNote(LoadStr(315).arg(QLocale(QLocale::English).toString(SESSION_BLOCK_MAX)));
    const auto showUdpNote = [pattern, udpNote] {
        const ByteTextParse parse = pattern->Parse();
        udpNote->setVisible(parse.Ok() && parse.bytes.size() > SESSION_BLOCK_MAX);
    };
    connect(pattern, &CByteField::changed, &entry, showUdpNote);
    pattern->SetBytes(rule.pattern);
    showUdpNote();
    CByteField* reply = entry.AddByteField(LoadStr(298));
    reply->SetFieldsAllowed(true);
    reply->SetTemplate(rule.reply);
    reply->SetNextCounter(rule.counter);
    QSpinBox* delay = entry.AddNumberRow(LoadStr(299), 0, DELAY_MAX_MS);
    delay->setValue(rule.delayMs);
    entry.m_editName->setFocus();
    if (entry.exec() != QDialog::Accepted)
        return -1;

    rule.name = entry.m_editName->text();
    rule.when = static_cast<ReplyWhen>(when->currentIndex());
    rule.pattern = pattern->Bytes();
    rule.reply = reply->Template();
    rule.delayMs = delay->value();
    if (row < 0) {
        m_model->Insert(m_model->Count(), std::move(rule));
        return m_model->Count() - 1;
    }
    // It went on counting while the dialog was open; an edited rule starts
    // with no pause.
    rule.matched = m_model->At(row).matched;
    rule.counter = m_model->At(row).counter;
    rule.limit.Resume();
    m_model->Replace(row, std::move(rule));
    m_engine->RulesChanged();
    return row;
}

void CRepliesDlg::SetEnabled(int row, bool enabled)
{
    if (row >= 0 && row < m_model->Count() && m_model->At(row).enabled != enabled)
        m_model->setData(m_model->index(row, REPLY_COL_ENABLED), enabled ? Qt::Checked : Qt::Unchecked,
                         Qt::CheckStateRole);
    ShowSelectedEnabled();
}

void CRepliesDlg::ShowSelectedEnabled()
{
    const int row = m_panel->CurrentRow();
    const QSignalBlocker quiet(m_checkEnabled);
    m_checkEnabled->setEnabled(row >= 0);
    m_checkEnabled->setChecked(row >= 0 && m_model->At(row).enabled);
}

bool CRepliesDlg::eventFilter(QObject* watched, QEvent* event)
{
    // Space ticks the selected rule whichever of its cells has the focus.
    if (watched == m_panel->m_table && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Space || key->key() == Qt::Key_Select) &&
            key->modifiers() == Qt::NoModifier) {
            const int row = m_panel->CurrentRow();
            if (row >= 0)
                SetEnabled(row, !m_model->At(row).enabled);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CRepliesDlg::OnPaused(int row)
{
    m_pausedRows.push_back(row);
    // Not from inside the socket handler that found the match.
    if (m_pausedRows.size() == 1)
        QTimer::singleShot(0, this, [this] { TellPaused(); });
}

void CRepliesDlg::TellPaused()
{
    // The rules by why they were paused, a few names each: a thousand rules
    // paused at once make no message anyone reads.
    constexpr int kNamesShown = 10;
    QStringList loops, floods;
    int moreLoops = 0, moreFloods = 0;
    for (const int row : std::exchange(m_pausedRows, {})) {
        if (row >= m_model->Count())
            continue;
        const ReplyRule& rule = m_model->At(row);
        const bool loop = rule.limit.Reason() == FiringLimit::PauseReason::Loop;
        QStringList& names = loop ? loops : floods;
        if (names.size() < kNamesShown)
            names << QStringLiteral("\"%1\"").arg(rule.name);
        else
            ++(loop ? moreLoops : moreFloods);
    }
    QStringList parts;
    const auto part = [&parts](int text, QStringList names, int more) {
        if (names.isEmpty())
            return;
        if (more > 0)
            names << LoadStr(316).arg(more);
        parts << LoadStr(text).arg(names.join(QLatin1Char('\n')));
    };
    part(314, loops, moreLoops);
    part(302, floods, moreFloods);
    if (parts.isEmpty())
        return;
    ShowMessageBox(isVisible() ? static_cast<QWidget*>(this) : &m_dlg, parts.join(QStringLiteral("\n\n")),
                   LoadStr(104), MB_OK | MB_ICONEXCLAMATION);
}

void CRepliesDlg::TellTooLong(int row)
{
    if (row >= m_model->Count())
        return;
    const ReplyRule& rule = m_model->At(row);
    ShowMessageBox(isVisible() ? static_cast<QWidget*>(this) : &m_dlg,
                   LoadStr(304).arg(rule.name).arg(rule.reply.Size()).arg(CReplyEngine::DATAGRAM_MAX),
                   LoadStr(104), MB_OK | MB_ICONEXCLAMATION);
}
