#include "messages/list_window.h"

#include "messages/byte_entry_dlg.h"
#include "platform/file_dialog.h"
#include "platform/message_box.h"
#include "platform/profile.h"
#include "platform/strings.h"
#include "platform/system_error.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>

namespace {

// Counters are redrawn at most this often.
constexpr int kRefreshMs = 50;

void Tell(QWidget* parent, const QString& text)
{
    ShowMessageBox(parent ? parent->window() : nullptr, text, LoadStr(104), MB_OK | MB_ICONEXCLAMATION);
}

} // namespace

void CListModelBase::RefreshColumnSoon(int column)
{
    if (std::find(m_refreshColumns.begin(), m_refreshColumns.end(), column) == m_refreshColumns.end())
        m_refreshColumns.push_back(column);
    if (!m_pRefresh) {
        m_pRefresh = new QTimer(this);
        m_pRefresh->setSingleShot(true);
        m_pRefresh->setInterval(kRefreshMs);
        connect(m_pRefresh, &QTimer::timeout, this, [this] {
            const std::vector<int> columns = std::move(m_refreshColumns);
            m_refreshColumns.clear();
            if (Count() == 0)
                return;
            for (const int c : columns)
                emit dataChanged(index(0, c), index(Count() - 1, c));
        });
    }
    if (!m_pRefresh->isActive())
        m_pRefresh->start();
}

QString InvalidEntryReason(int row)
{
    return LoadStr(258).arg(row + 1);
}

CListPanel::CListPanel(CListModelBase* model, CListFile* file, EditFunction edit, const QString& name,
                       QWidget* parent)
    : QWidget(parent), m_model(model), m_file(file), m_edit(std::move(edit))
{
    m_table = new QTableView(this);
    m_table->setModel(m_model);
    m_table->setAccessibleName(name);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setTabKeyNavigation(false);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setHighlightSections(false);
    m_table->installEventFilter(this);
    connect(m_table, &QTableView::doubleClicked, this, [this] { OnEdit(); });
    // The current row counts while it is selected: both may change alone.
    const auto selected = [this] {
        UpdateButtons();
        emit currentRowChanged(CurrentRow());
    };
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this, selected);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, selected);
    connect(m_model, &CListModelBase::userEdited, this, [this] { Save(); });

    const auto button = [this](int id, void (CListPanel::*handler)()) {
        auto* b = new QPushButton(LoadStr(id), this);
        b->setAutoDefault(false);
        b->setAccessibleName(PlainCaption(b->text()));
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    m_btnAdd = button(230, &CListPanel::OnAdd);
    m_btnEdit = button(231, &CListPanel::OnEdit);
    m_btnDuplicate = button(232, &CListPanel::OnDuplicate);
    m_btnRemove = button(233, &CListPanel::OnRemove);
    m_btnMoveUp = button(234, &CListPanel::OnMoveUp);
    m_btnMoveDown = button(235, &CListPanel::OnMoveDown);
    m_btnImport = button(236, &CListPanel::OnImport);
    m_btnExport = button(237, &CListPanel::OnExport);

    m_buttons = new QVBoxLayout;
    for (QPushButton* b : {m_btnAdd, m_btnEdit, m_btnDuplicate, m_btnRemove, m_btnMoveUp, m_btnMoveDown})
        m_buttons->addWidget(b);
    m_buttons->addStretch(1);
    m_buttons->addWidget(m_btnImport);
    m_buttons->addWidget(m_btnExport);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_table, 1);
    layout->addLayout(m_buttons);
    UpdateButtons();
}

void CListPanel::Load()
{
    const CListFile::LoadOutcome outcome = m_file->Load(
        [this](const QJsonArray& rows, QString* reason) { return m_model->AppendJson(rows, reason); });
    if (outcome.status == ListFileRead::Newer) {
        Tell(this, LoadStr(252).arg(QDir::toNativeSeparators(m_file->Path()), outcome.reason) +
                       QStringLiteral("\n\n") + LoadStr(311));
    } else if (outcome.status == ListFileRead::Bad) {
        QString text = LoadStr(252).arg(QDir::toNativeSeparators(m_file->Path()), outcome.reason);
        text += QStringLiteral("\n\n");
        text += outcome.moveError.isEmpty()
                    ? LoadStr(253).arg(QDir::toNativeSeparators(outcome.badName))
                    : LoadStr(254).arg(QDir::toNativeSeparators(outcome.badName), outcome.moveError);
        Tell(this, text);
    }
    if (m_model->Count() > 0)
        SelectRow(0);
    UpdateButtons();
}

bool CListPanel::Save()
{
    if (!m_file->SavingAllowed())
        return true;
    QString error;
    bool tooLarge = false;
    if (m_file->Save(m_model->ToJson(), &error, &tooLarge)) {
        m_bSaveFailureShown = false;
        return true;
    }
    if (tooLarge) {
        // Saved, it could never be read again.
        Tell(this,
             LoadStr(312).arg(QDir::toNativeSeparators(m_file->Path()),
                              QLocale(QLocale::English)
                                  .formattedDataSize(m_file->MaxFileSize(), 0, QLocale::DataSizeIecFormat)));
        return false;
    }
    if (!m_bSaveFailureShown) {
        m_bSaveFailureShown = true;
        Tell(this, LoadStr(255).arg(QDir::toNativeSeparators(m_file->Path()), error));
    }
    return true;
}

int CListPanel::CurrentRow() const
{
    const QModelIndex current = m_table->selectionModel()->currentIndex();
    return current.isValid() && m_table->selectionModel()->isRowSelected(current.row(), {}) ? current.row()
                                                                                            : -1;
}

void CListPanel::SelectRow(int row)
{
    if (row < 0 || row >= m_model->Count()) {
        m_table->selectionModel()->clearSelection();
        UpdateButtons();
        return;
    }
    m_table->selectionModel()->setCurrentIndex(m_model->index(row, 0), QItemSelectionModel::ClearAndSelect |
                                                                           QItemSelectionModel::Rows);
    m_table->scrollTo(m_model->index(row, 0));
    UpdateButtons();
}

void CListPanel::UpdateButtons()
{
    const int row = CurrentRow();
    const bool selected = row >= 0;
    m_btnEdit->setEnabled(selected);
    m_btnDuplicate->setEnabled(selected);
    m_btnRemove->setEnabled(selected);
    m_btnMoveUp->setEnabled(selected && row > 0);
    m_btnMoveDown->setEnabled(selected && row + 1 < m_model->Count());
    m_btnExport->setEnabled(m_model->Count() > 0);
}

void CListPanel::Changed(int selectRow, const std::any& before)
{
    if (!Save()) {
        const int current = CurrentRow();
        m_model->Restore(before);
        SelectRow(std::min(current, m_model->Count() - 1));
        return;
    }
    SelectRow(selectRow);
}

void CListPanel::EditRow(int row)
{
    // Taken before the dialog: the rows as they stand if the change is refused.
    const std::any before = m_model->Snapshot();
    const int changed = m_edit(row);
    // Without a window manager to hand it back, the focus would go wherever
    // the system puts it.
    window()->activateWindow();
    m_table->setFocus();
    if (changed >= 0)
        Changed(changed, before);
}

void CListPanel::OnAdd()
{
    EditRow(-1);
}

void CListPanel::OnEdit()
{
    if (CurrentRow() >= 0)
        EditRow(CurrentRow());
}

void CListPanel::OnDuplicate()
{
    const int row = CurrentRow();
    if (row < 0)
        return;
    const std::any before = m_model->Snapshot();
    if (!m_model->Duplicate(row)) {
        Tell(this, LoadStr(313).arg(row + 1));
        return;
    }
    Changed(row + 1, before);
}

void CListPanel::OnRemove()
{
    const int row = CurrentRow();
    if (row < 0)
        return;
    const std::any before = m_model->Snapshot();
    m_model->Remove(row);
    Changed(std::min(row, m_model->Count() - 1), before);
}

void CListPanel::OnMoveUp()
{
    MoveCurrent(-1);
}

void CListPanel::OnMoveDown()
{
    MoveCurrent(1);
}

void CListPanel::MoveCurrent(int by)
{
    const int row = CurrentRow();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= m_model->Count())
        return;
    const std::any before = m_model->Snapshot();
    m_model->Move(row, to);
    Changed(to, before);
}

QString CListPanel::AskForFile(bool open)
{
    FileDialogRequest request;
    request.open = open;
    request.title = PlainCaption(LoadStr(open ? 236 : 237));
    request.defaultExtension = QStringLiteral("json");
    request.initialPath = QDir::home().filePath(QFileInfo(m_file->Path()).fileName());
    request.filters = {QStringLiteral("*.json"), QStringLiteral("*.*")};
    request.overwritePrompt = !open;
    request.parent = window();
    const FileDialogResult result = RunFileDialog(request);
    return result.accepted ? result.path : QString();
}

void CListPanel::OnImport()
{
    const QString path = AskForFile(true);
    if (path.isEmpty())
        return;
    ListFileRead read = m_file->Read(path);
    if (read.status == ListFileRead::Missing)
        read.reason = SystemErrorText(ENOENT);
    const int first = m_model->Count();
    const std::any before = m_model->Snapshot();
    if (read.status != ListFileRead::Ok || !m_model->AppendJson(read.rows, &read.reason)) {
        Tell(this, LoadStr(252).arg(QDir::toNativeSeparators(path), read.reason));
        return;
    }
    if (m_model->Count() > first)
        Changed(first, before);
}

void CListPanel::OnExport()
{
    const QString path = AskForFile(false);
    if (path.isEmpty())
        return;
    QString error;
    if (!m_file->Write(path, m_model->ToJson(), &error))
        Tell(this, LoadStr(255).arg(QDir::toNativeSeparators(path), error));
}

bool CListPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_table && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            OnEdit();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void RestoreWindowPlace(QWidget* window, const QString& section, const QWidget* beside)
{
    const int width = Profile::GetProfileInt(section, QStringLiteral("Width"), 0);
    const int height = Profile::GetProfileInt(section, QStringLiteral("Height"), 0);
    const QPoint at(Profile::GetProfileInt(section, QStringLiteral("Left"), 0),
                    Profile::GetProfileInt(section, QStringLiteral("Top"), 0));
    if (width > 0 && height > 0) {
        window->resize(width, height);
        // Only where a screen still shows it.
        if (QGuiApplication::screenAt(at + QPoint(20, 20))) {
            window->move(at);
            return;
        }
    }
    if (!beside)
        return;
    // To the right of the main window, else to its left, else as far right
    // as the screen allows.
    const QRect main = beside->frameGeometry();
    QPoint place(main.right() + 1, main.top());
    if (const QScreen* screen = beside->screen()) {
        const QRect area = screen->availableGeometry();
        const int w = window->frameGeometry().width();
        if (place.x() + w > area.right() + 1)
            place.setX(main.left() - w >= area.left() ? main.left() - w
                                                      : std::max(area.left(), area.right() + 1 - w));
    }
    window->move(place);
}

void SaveWindowPlace(const QWidget* window, const QString& section)
{
    Profile::WriteProfileInt(section, QStringLiteral("Left"), window->x());
    Profile::WriteProfileInt(section, QStringLiteral("Top"), window->y());
    Profile::WriteProfileInt(section, QStringLiteral("Width"), window->width());
    Profile::WriteProfileInt(section, QStringLiteral("Height"), window->height());
}
