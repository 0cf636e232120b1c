#include "platform/dialog.h"

#include "platform/data_exchange.h"
#include "platform/dialog_button_accessible.h"
#include "platform/dialog_combo_accessible.h"
#include "platform/program_icon.h"
#include "platform/spin_button.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>

namespace {

// Dialog units are measured from the template font: a quarter of the average
// width of the Latin letters horizontally, an eighth of the line height vertically.
void BaseUnits(const QFont& font, int& baseX, int& baseY)
{
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX = (width / 26 + 1) / 2;
    baseY = fm.height();
    if (baseX <= 0)
        baseX = 6;
    if (baseY <= 0)
        baseY = 13;
}

int MulDiv(int a, int b, int c)
{
    return static_cast<int>((static_cast<long long>(a) * b + c / 2) / c);
}

} // namespace

CDialog::CDialog(const DialogTemplate& tpl, QWidget* parent) : QDialog(parent), m_template(tpl)
{
    InstallDialogButtonAccessibility();
    InstallDialogComboAccessibility();
    m_templateFont = QFont(QString::fromUtf8(tpl.fontFace));
    m_templateFont.setPointSize(tpl.fontPoints);
    BaseUnits(m_templateFont, m_baseUnitX, m_baseUnitY);
}

CDialog::~CDialog() = default;

QRect CDialog::MapDialogRect(int x, int y, int cx, int cy) const
{
    return QRect(MulDiv(x, m_baseUnitX, 4), MulDiv(y, m_baseUnitY, 8), MulDiv(cx, m_baseUnitX, 4),
                 MulDiv(cy, m_baseUnitY, 8));
}

bool CDialog::Create()
{
    if (m_bCreated)
        return true;
    m_bCreated = true;

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if (m_template.style & DS_CAPTION)
        flags |= Qt::WindowTitleHint;
    if (m_template.style & DS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (m_template.style & DS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);
    setWindowTitle(QString::fromUtf8(m_template.title));
    setFont(m_templateFont);
    setFixedSize(MapDialogRect(0, 0, m_template.cx, m_template.cy).size());

    BuildControls();
    if (OnInitDialog()) {
        // Focus the first control that takes it, as the dialog manager does.
        for (const ControlTemplate& c : m_template.controls) {
            QWidget* w = GetDlgItem(c.id);
            if (w && w->isEnabled() && w->focusPolicy() != Qt::NoFocus && !(c.style & CS_HIDDEN)) {
                w->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
    return true;
}

int CDialog::DoModal()
{
    Create();
    m_bModalLoop = true;
    const int result = exec();
    m_bModalLoop = false;
    return result;
}

void CDialog::EndDialog(int result)
{
    setResult(result);
    if (m_bModalLoop)
        done(result);
    else
        hide();
}

void CDialog::BuildControls()
{
    QWidget* previousTabStop = nullptr;
    QButtonGroup* radioGroup = nullptr;
    for (const ControlTemplate& c : m_template.controls) {
        QWidget* w = nullptr;
        if (c.kind == ControlKind::RichEdit || c.kind == ControlKind::Custom ||
            c.kind == ControlKind::Progress)
            w = CreateControl(c, this);
        if (!w)
            w = CreateStandardControl(c);
        w->setParent(this);
        w->setFont(m_templateFont);

        QRect r = MapDialogRect(c.x, c.y, c.cx, c.cy);
        if (c.kind == ControlKind::ComboDropList) // the template height is the list's extent
            r.setHeight(std::min(r.height(), w->sizeHint().height()));
        if (c.kind == ControlKind::Icon)
            r.setSize(QSize(32, 32));
        w->setGeometry(r);
        if (c.style & CS_DISABLED)
            w->setEnabled(false);
        if (!(c.style & CS_HIDDEN))
            w->show();
        else
            w->hide();

        if (c.kind == ControlKind::RadioButton) {
            if ((c.style & CS_GROUP) || !radioGroup) {
                radioGroup = new QButtonGroup(this);
                radioGroup->setExclusive(true);
            }
            radioGroup->addButton(static_cast<QAbstractButton*>(w));
        } else if (c.style & CS_GROUP) {
            radioGroup = nullptr;
        }

        if (c.kind == ControlKind::GroupBox)
            w->lower(); // a frame, painted behind its neighbours
        if (w->focusPolicy() != Qt::NoFocus && !(c.style & CS_NOTABSTOP)) {
            if (previousTabStop)
                QWidget::setTabOrder(previousTabStop, w);
            previousTabStop = w;
        }
        if (c.id != IDC_STATIC)
            m_controls[c.id] = w;
        ConnectNotifications(c, w);
    }
}

QWidget* CDialog::CreateStandardControl(const ControlTemplate& c)
{
    const QString text = QString::fromUtf8(c.text);
    switch (c.kind) {
    case ControlKind::Static: {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        if (c.style & CS_BORDER)
            label->setFrameStyle(QFrame::Box | QFrame::Plain);
        label->setAlignment((c.style & CS_RIGHT ? Qt::AlignRight : c.style & CS_CENTER ? Qt::AlignHCenter
                                                                                         : Qt::AlignLeft) |
                            Qt::AlignTop);
        return label;
    }
    case ControlKind::Icon: {
        auto* label = new QLabel(this);
        label->setPixmap(ProgramIcon().pixmap(32, 32));
        return label;
    }
    case ControlKind::GroupBox:
        return new QGroupBox(text, this);
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* button = new QPushButton(text, this);
        button->setAutoDefault(true);
        button->setDefault(c.kind == ControlKind::DefPushButton);
        return button;
    }
    case ControlKind::CheckBox:
        return new QCheckBox(text, this);
    case ControlKind::RadioButton: {
        auto* radio = new QRadioButton(text, this);
        radio->setAutoExclusive(false); // exclusivity comes from the template's groups
        return radio;
    }
    case ControlKind::Edit: {
        if (c.style & CS_MULTILINE) {
            auto* edit = new QPlainTextEdit(text, this);
            edit->setReadOnly(c.style & CS_READONLY);
            return edit;
        }
        auto* edit = new QLineEdit(text, this);
        edit->setReadOnly(c.style & CS_READONLY);
        edit->setFrame(c.style & CS_BORDER);
        if (c.style & CS_RIGHT)
            edit->setAlignment(Qt::AlignRight);
        return edit;
    }
    case ControlKind::ComboDropList: {
        auto* combo = new QComboBox(this);
        for (const char* item : c.items)
            combo->addItem(QString::fromUtf8(item));
        return combo;
    }
    case ControlKind::UpDown:
        return new CSpinButtonCtrl(this);
    case ControlKind::Progress:
        return new QProgressBar(this);
    case ControlKind::RichEdit:
    case ControlKind::Custom: {
        auto* edit = new QTextEdit(this);
        edit->setReadOnly(c.style & CS_READONLY);
        return edit;
    }
    }
    return new QWidget(this);
}

void CDialog::ConnectNotifications(const ControlTemplate& c, QWidget* w)
{
    const int id = c.id;
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        connect(button, &QAbstractButton::clicked, this, [this, id] { SendCommand(id, BN_CLICKED); });
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        connect(combo, &QComboBox::activated, this, [this, id] { SendCommand(id, CBN_SELCHANGE); });
    }
}

void CDialog::MapNotify(int id, int code, std::function<void()> handler)
{
    m_messageMap[{id, code}] = std::move(handler);
}

void CDialog::SendCommand(int id, int code)
{
    const auto it = m_messageMap.find({id, code});
    if (it != m_messageMap.end()) {
        // Copy: the handler may remap itself.
        const std::function<void()> handler = it->second;
        handler();
        return;
    }
    if (code == BN_CLICKED && id == IDOK)
        OnOK();
    else if (code == BN_CLICKED && id == IDCANCEL)
        OnCancel();
}

QWidget* CDialog::GetDlgItem(int id) const
{
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CDialog::SetDlgItemText(int id, const QString& text)
{
    QWidget* w = GetDlgItem(id);
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->text() != text)
            label->setText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        // Writing the same text back would lose the caret and selection.
        if (edit->text() != text)
            edit->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(text);
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
        plain->setPlainText(text);
    } else if (auto* rich = qobject_cast<QTextEdit*>(w)) {
        rich->setPlainText(text);
    }
}

QString CDialog::GetDlgItemText(int id) const
{
    QWidget* w = GetDlgItem(id);
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(w))
        return group->title();
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->currentText();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
        return plain->toPlainText();
    if (auto* rich = qobject_cast<QTextEdit*>(w))
        return rich->toPlainText();
    return {};
}

void CDialog::EnableDlgItem(int id, bool enable)
{
    if (QWidget* w = GetDlgItem(id))
        w->setEnabled(enable);
}

void CDialog::CheckDlgButton(int id, bool checked)
{
    if (auto* button = Item<QAbstractButton>(id))
        button->setChecked(checked);
}

bool CDialog::IsDlgButtonChecked(int id) const
{
    auto* button = Item<QAbstractButton>(id);
    return button && button->isChecked();
}

void CDialog::CheckRadioButton(int firstId, int lastId, int checkId)
{
    for (int id = firstId; id <= lastId; ++id)
        CheckDlgButton(id, id == checkId);
}

bool CDialog::UpdateData(bool bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const CDataExchange*) {
        return false;
    }
    return true;
}

bool CDialog::OnInitDialog()
{
    UpdateData(false);
    return true;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK()
{
    if (!UpdateData(true))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

QWidget* CDialog::CreateControl(const ControlTemplate&, QWidget*)
{
    return nullptr;
}

void CDialog::OnSysCommand(unsigned nID)
{
    if (nID == SC_CLOSE)
        SendCommand(IDCANCEL);
}

void CDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QDialog::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // A focused push button takes Enter itself; otherwise the default button,
        // or the OK command when the template has none.
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused && focused->isEnabled()) {
            focused->click();
            return;
        }
        for (const ControlTemplate& c : m_template.controls) {
            if (c.kind == ControlKind::DefPushButton) {
                QWidget* w = GetDlgItem(c.id);
                if (w && w->isEnabled())
                    SendCommand(c.id);
                else
                    QApplication::beep();
                return;
            }
        }
        QWidget* ok = GetDlgItem(IDOK);
        if (!ok || ok->isEnabled())
            SendCommand(IDOK);
        return;
    }
    case Qt::Key_Escape:
        SendCommand(IDCANCEL);
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CDialog::closeEvent(QCloseEvent* event)
{
    // The close box is a system command; whatever ends the dialog does it by EndDialog.
    event->ignore();
    OnSysCommand(SC_CLOSE);
}

void CDialog::reject()
{
    SendCommand(IDCANCEL);
}

void CDialog::accept()
{
    SendCommand(IDOK);
}
