#pragma once

// Shared with the automatic replies window (src/replies/): the pieces of a
// window that keeps a list of rows in a file.
//
//  - CListModel<Row>: the rows behind a QTableView, with the columns the
//    caller describes (text, or a check box the user ticks in the table);
//  - CListPanel: the table and the buttons Add, Edit, Duplicate, Remove,
//    Move Up, Move Down, Import and Export (double-click and Enter edit),
//    which saves the list through a CListFile after every change;
//  - the window's place, kept in the profile.
#include "messages/list_file.h"

#include <QAbstractTableModel>
#include <QJsonArray>
#include <QJsonObject>
#include <QWidget>

#include <any>
#include <functional>
#include <optional>
#include <vector>

class QPushButton;
class QTableView;
class QTimer;
class QVBoxLayout;

// What CListPanel needs of a model, whatever its rows.
class CListModelBase : public QAbstractTableModel
{
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;

    virtual int Count() const = 0;
    // A copy of the row right below it, as a new row (as from a file); false
    // when the copy does not read back as a row.
    virtual bool Duplicate(int row) = 0;
    virtual void Remove(int row) = 0;
    virtual void Move(int from, int to) = 0;
    virtual QJsonArray ToJson() const = 0;
    // Rows from a file, added at the end, all or none; false with the reason.
    virtual bool AppendJson(const QJsonArray& rows, QString* reason) = 0;
    // Every row as it is now, and back to that, for a change that is refused.
    virtual std::any Snapshot() const = 0;
    virtual void Restore(const std::any& snapshot) = 0;

    // Redraws a column of every row soon, coalesced (counters that change
    // many times a second).
    void RefreshColumnSoon(int column);

signals:
    // The user changed a row in the table itself (ticked a check box).
    void userEdited();

private:
    QTimer* m_pRefresh = nullptr;
    std::vector<int> m_refreshColumns;
};

// A column of a CListModel<Row>: text, or a check box the user ticks.
template <class Row> struct ListColumn
{
    using TextFunction = std::function<QString(const Row&)>;
    using CheckedFunction = std::function<bool(const Row&)>;
    using SetCheckedFunction = std::function<void(Row&, bool)>;

    ListColumn(QString caption, TextFunction text, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
        : caption(std::move(caption)), text(std::move(text)), alignment(alignment)
    {
    }
    static ListColumn CheckBox(QString caption, CheckedFunction checked, SetCheckedFunction setChecked)
    {
        ListColumn column(std::move(caption), {}, Qt::AlignCenter);
        column.checked = std::move(checked);
        column.setChecked = std::move(setChecked);
        return column;
    }

    QString caption;
    TextFunction text;
    Qt::Alignment alignment;
    CheckedFunction checked;
    SetCheckedFunction setChecked;
};

template <class Row> class CListModel : public CListModelBase
{
public:
    using Column = ListColumn<Row>;
    using ToJsonFunction = std::function<QJsonObject(const Row&)>;
    // A row from a file; none when the object is not a valid row.
    using FromJsonFunction = std::function<std::optional<Row>(const QJsonObject&)>;

    CListModel(std::vector<Column> columns, ToJsonFunction toJson, FromJsonFunction fromJson,
               QObject* parent = nullptr)
        : CListModelBase(parent), m_columns(std::move(columns)), m_toJson(std::move(toJson)),
          m_fromJson(std::move(fromJson))
    {
    }

    const Row& At(int row) const { return m_rows[static_cast<std::size_t>(row)]; }
    Row& At(int row) { return m_rows[static_cast<std::size_t>(row)]; }
    const std::vector<Row>& Rows() const { return m_rows; }

    void Insert(int at, Row row)
    {
        beginInsertRows({}, at, at);
        m_rows.insert(m_rows.begin() + at, std::move(row));
        endInsertRows();
    }
    void Replace(int at, Row row)
    {
        m_rows[static_cast<std::size_t>(at)] = std::move(row);
        RowChanged(at);
    }
    // The row's cells changed (column -1: all of them).
    void RowChanged(int row, int column = -1)
    {
        emit dataChanged(index(row, column < 0 ? 0 : column),
                         index(row, column < 0 ? columnCount() - 1 : column));
    }

    int Count() const override { return static_cast<int>(m_rows.size()); }
    bool Duplicate(int row) override
    {
        auto copy = m_fromJson(m_toJson(At(row)));
        if (copy)
            Insert(row + 1, std::move(*copy));
        return copy.has_value();
    }
    void Remove(int row) override
    {
        beginRemoveRows({}, row, row);
        m_rows.erase(m_rows.begin() + row);
        endRemoveRows();
    }
    void Move(int from, int to) override
    {
        if (from == to || from < 0 || to < 0 || from >= Count() || to >= Count())
            return;
        beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
        Row row = std::move(m_rows[static_cast<std::size_t>(from)]);
        m_rows.erase(m_rows.begin() + from);
        m_rows.insert(m_rows.begin() + to, std::move(row));
        endMoveRows();
    }
    QJsonArray ToJson() const override
    {
        QJsonArray rows;
        for (const Row& row : m_rows)
            rows.append(m_toJson(row));
        return rows;
    }
    bool AppendJson(const QJsonArray& rows, QString* reason) override;
    std::any Snapshot() const override { return m_rows; }
    void Restore(const std::any& snapshot) override
    {
        beginResetModel();
        m_rows = std::any_cast<const std::vector<Row>&>(snapshot);
        endResetModel();
    }

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : Count(); }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
            section < columnCount())
            return m_columns[static_cast<std::size_t>(section)].caption;
        if (orientation == Qt::Vertical && role == Qt::DisplayRole)
            return section + 1;
        return {};
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= Count() || index.column() >= columnCount())
            return {};
        const Column& column = m_columns[static_cast<std::size_t>(index.column())];
        const Row& row = At(index.row());
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return column.text ? column.text(row) : QString();
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(column.alignment);
        case Qt::CheckStateRole:
            if (column.checked)
                return column.checked(row) ? Qt::Checked : Qt::Unchecked;
            return {};
        default:
            return {};
        }
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        Qt::ItemFlags f = CListModelBase::flags(index);
        if (index.isValid() && m_columns[static_cast<std::size_t>(index.column())].setChecked)
            f |= Qt::ItemIsUserCheckable;
        return f;
    }
    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (!index.isValid() || role != Qt::CheckStateRole || index.row() >= Count())
            return false;
        const Column& column = m_columns[static_cast<std::size_t>(index.column())];
        if (!column.setChecked)
            return false;
        column.setChecked(At(index.row()), value.toInt() == Qt::Checked);
        emit dataChanged(index, index);
        emit userEdited();
        return true;
    }

private:
    std::vector<Column> m_columns;
    ToJsonFunction m_toJson;
    FromJsonFunction m_fromJson;
    std::vector<Row> m_rows;
};

// "entry %1 is not valid", for the row (0-based) a file could not give.
QString InvalidEntryReason(int row);

template <class Row> bool CListModel<Row>::AppendJson(const QJsonArray& rows, QString* reason)
{
    std::vector<Row> parsed;
    parsed.reserve(static_cast<std::size_t>(rows.size()));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        std::optional<Row> row = rows[i].isObject() ? m_fromJson(rows[i].toObject()) : std::nullopt;
        if (!row) {
            if (reason)
                *reason = InvalidEntryReason(static_cast<int>(i));
            return false;
        }
        parsed.push_back(std::move(*row));
    }
    if (parsed.empty())
        return true;
    beginInsertRows({}, Count(), Count() + static_cast<int>(parsed.size()) - 1);
    for (Row& row : parsed)
        m_rows.push_back(std::move(row));
    endInsertRows();
    return true;
}

// The table and its buttons. The caller's `edit(row)` runs its edit dialog
// for the row (-1: a new row, added where it likes) and returns the row that
// changed, or -1 when the user cancelled.
class CListPanel : public QWidget
{
    Q_OBJECT

public:
    using EditFunction = std::function<int(int row)>;

    // `name`: the table's name for screen readers; `file`: where the list is
    // kept (owned by the caller, outliving the panel).
    CListPanel(CListModelBase* model, CListFile* file, EditFunction edit, const QString& name,
               QWidget* parent = nullptr);

    // Reads the list at start: a bad file is kept aside and the user told once.
    void Load();
    // Writes the list now; the user is told when it cannot be written (once,
    // until a write succeeds again). False when the list has grown larger
    // than its file may be: nothing was written, the user was told, and the
    // change is to be taken back.
    bool Save();

    int CurrentRow() const;
    void SelectRow(int row);

    void OnAdd();
    void OnEdit();
    void OnDuplicate();
    void OnRemove();
    void OnMoveUp();
    void OnMoveDown();
    void OnImport();
    void OnExport();

    QTableView* m_table = nullptr;
    QPushButton* m_btnAdd = nullptr;
    QPushButton* m_btnEdit = nullptr;
    QPushButton* m_btnDuplicate = nullptr;
    QPushButton* m_btnRemove = nullptr;
    QPushButton* m_btnMoveUp = nullptr;
    QPushButton* m_btnMoveDown = nullptr;
    QPushButton* m_btnImport = nullptr;
    QPushButton* m_btnExport = nullptr;
    // The button column, for a window that adds its own buttons to it.
    QVBoxLayout* m_buttons = nullptr;

signals:
    void currentRowChanged(int row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void UpdateButtons();
    // Saves a change; one that makes the list too large is taken back to
    // `before`. Then selects `selectRow`.
    void Changed(int selectRow, const std::any& before);
    void MoveCurrent(int by);
    // The caller's dialog for the row (-1: a new one).
    void EditRow(int row);
    // The file dialog of Import and Export.
    QString AskForFile(bool open);

    CListModelBase* m_model;
    CListFile* m_file;
    EditFunction m_edit;
    bool m_bSaveFailureShown = false;
};

// The window's place and size from the profile's `section`; the first time,
// to the right of `beside`.
void RestoreWindowPlace(QWidget* window, const QString& section, const QWidget* beside);
void SaveWindowPlace(const QWidget* window, const QString& section);
