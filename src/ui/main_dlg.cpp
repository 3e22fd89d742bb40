#include "main_dlg.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <cstdio>
#include <cstdlib>

#include "address_edits.h"
#include "caption_progress_ctrl.h"
#include "config/settings.h"
#include "dialog_template.h"
#include "jobs/runner.h"
#include "station_icon.h"
#include "transport/port_table.h"
#include "ui_dialogs.h"

namespace {

constexpr int kPortEntries = 30;  // "COM1" .. "COM30"
constexpr const char* kNoPortText = "-----------";
// A closed drop-down list is about as tall as an edit; the rest of its height is the list.
constexpr int kClosedListHeight = 14;
constexpr int kListItemHeight = 8;

void EndProcess(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}

std::unique_ptr<QWidget> MakeControl(const DialogControl& c, QWidget* parent) {
    const QString caption = QString::fromUtf8(c.caption);
    switch (c.kind) {
        case ControlKind::CheckBox:
            return std::make_unique<QCheckBox>(caption, parent);
        case ControlKind::PushButton: {
            auto button = std::make_unique<QPushButton>(caption, parent);
            button->setAutoDefault(false);
            return button;
        }
        case ControlKind::Edit:
            return std::make_unique<QLineEdit>(parent);
        case ControlKind::HexEdit:
            return std::make_unique<CHexEdit>(parent);
        case ControlKind::NoTypeEdit:
            return std::make_unique<CNoTypeEdit>(parent);
        case ControlKind::DropDownList: {
            auto list = std::make_unique<QComboBox>(parent);
            list->setMaxVisibleItems((c.cy - kClosedListHeight) / kListItemHeight);
            return list;
        }
        case ControlKind::ProgressBar:
            return std::make_unique<CCaptionProgressCtrl>(parent);
        case ControlKind::GroupBox: {
            auto box = std::make_unique<QGroupBox>(caption, parent);
            // A frame drawn behind the controls it surrounds; it takes no clicks.
            box->setAttribute(Qt::WA_TransparentForMouseEvents);
            return box;
        }
        case ControlKind::StaticText: {
            auto label = std::make_unique<QLabel>(caption, parent);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(true);
            return label;
        }
        case ControlKind::StaticTextCentred: {
            auto label = std::make_unique<QLabel>(caption, parent);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
            return label;
        }
        case ControlKind::RadioButton:
            return std::make_unique<QRadioButton>(caption, parent);
    }
    return nullptr;
}

}  // namespace

CMainDlg::CMainDlg(UiDialogs* dialogs, QWidget* parent)
    : QDialog(parent), m_units(std::make_unique<DialogUnits>()), m_exit(EndProcess) {
    if (dialogs == nullptr) {
        m_ownDialogs = std::make_unique<QtUiDialogs>(this);
        dialogs = m_ownDialogs.get();
    }
    m_dialogs = dialogs;
    m_hIcon = STATION_Icon();
    // Caption bar with system menu and minimise box; no maximise box, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(UI_DialogFont());
    *m_units = DialogUnits::FromFont(font());
    setFixedSize(m_units->X(kMainDialogWidth), m_units->Y(kMainDialogHeight));
    CreateControls();
    RouteNotifications();
    OnInitDialog();
}

CMainDlg::~CMainDlg() {
    // The controls go before the dialog; nothing may reach them from a worker by then.
    if (g_hNotifyWnd.load() == this) g_hNotifyWnd = nullptr;
    m_controls.clear();
}

void CMainDlg::CreateControls() {
    QWidget* previous = nullptr;
    for (const DialogControl& c : kMainDialogTemplate) {
        std::unique_ptr<QWidget> control = MakeControl(c, this);
        QWidget* w = control.get();
        w->setObjectName(QString::number(c.id));
        QRect r = m_units->Map(c.x, c.y, c.cx, c.cy);
        if (c.kind == ControlKind::DropDownList) r.setHeight(m_units->Y(kClosedListHeight));
        if (c.kind == ControlKind::CheckBox || c.kind == ControlKind::RadioButton) {
            // The box and its text take more room in this style than in the template's: the
            // button grows to the right (nothing in the template lies there) and about its
            // middle, so the whole text shows.
            const QSize hint = w->sizeHint();
            if (hint.width() > r.width()) r.setWidth(hint.width());
            if (hint.height() > r.height()) {
                const int grow = hint.height() - r.height();
                r.adjust(0, -grow / 2, 0, grow - grow / 2);
            }
        }
        w->setGeometry(r);
        w->setEnabled(c.enabled);
        if (!c.tabStop) {
            w->setFocusPolicy(c.kind == ControlKind::CheckBox ? Qt::ClickFocus : Qt::NoFocus);
        }
        if (c.kind == ControlKind::GroupBox) w->lower();
        if (c.tabStop) {
            if (previous != nullptr) QWidget::setTabOrder(previous, w);
            previous = w;
        }
        w->setVisible(c.visible);
        if (c.id != IDC_STATIC) m_byId.emplace_back(c.id, w);
        m_controls.push_back(std::move(control));
    }
    for (int ch = 0; ch < kChannels; ++ch) {
        m_ChannelBars[ch] = Bar(kChannelBarIds[ch]);
        m_PortSelectors[ch] = Combo(kPortSelectorIds[ch]);
    }
    // The group boxes lie behind every control, whatever their place in the tab order.
    for (auto& control : m_controls) {
        if (qobject_cast<QGroupBox*>(control.get()) != nullptr) control->lower();
    }
}

QWidget* CMainDlg::Control(int id) const {
    for (const auto& [controlId, widget] : m_byId) {
        if (controlId == id) return widget;
    }
    return nullptr;
}

QAbstractButton* CMainDlg::Button(int id) const {
    return qobject_cast<QAbstractButton*>(Control(id));
}
QLineEdit* CMainDlg::Edit(int id) const {
    return qobject_cast<QLineEdit*>(Control(id));
}
QComboBox* CMainDlg::Combo(int id) const {
    return qobject_cast<QComboBox*>(Control(id));
}
CCaptionProgressCtrl* CMainDlg::Bar(int id) const {
    return qobject_cast<CCaptionProgressCtrl*>(Control(id));
}
QLabel* CMainDlg::Label(int id) const {
    return qobject_cast<QLabel*>(Control(id));
}

bool CMainDlg::IsChecked(int id) const {
    const QAbstractButton* b = Button(id);
    return b != nullptr && b->isChecked();
}

void CMainDlg::SetCheck(int id, bool checked) {
    if (QAbstractButton* b = Button(id)) b->setChecked(checked);
}

void CMainDlg::EnableControl(int id, bool enabled) {
    if (QWidget* w = Control(id)) w->setEnabled(enabled);
}

std::string CMainDlg::ControlText(int id) const {
    QWidget* w = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text().toStdString();
    if (auto* bar = qobject_cast<CCaptionProgressCtrl*>(w)) {
        return bar->GetWindowText().toStdString();
    }
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text().toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text().toStdString();
    return {};
}

void CMainDlg::SetControlText(int id, const std::string& text) {
    QWidget* w = Control(id);
    const QString t = QString::fromStdString(text);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(t);
    } else if (auto* bar = qobject_cast<CCaptionProgressCtrl*>(w)) {
        bar->SetWindowText(t);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(t);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(t);
    }
}

void CMainDlg::SetChannelPort(int channel, int port) {
    if (!IsChannel(channel)) return;
    m_nPort[channel] = port;
    ShowPort(channel, port);
    if (port != 0) m_ChannelBars[channel]->SetWindowText(QStringLiteral("Ready..."));
    EnableDownload(AnyPort());
}

void CMainDlg::SetExitHandler(ExitFn exitFn) {
    m_exit = exitFn ? std::move(exitFn) : EndProcess;
}

void CMainDlg::UpdateData(bool saveAndValidate) {
    struct Binding {
        int id;
        int* member;
    };
    const Binding bindings[] = {{IDC_FORMAT, &m_bFormat},
                                {IDC_ERASE_NONE, &m_nEraseNone},
                                {IDC_ERASE_ALL, &m_nEraseAll},
                                {IDC_ERASE_EXCEPT_BACKUP, &m_nEraseExceptBackup}};
    for (const Binding& b : bindings) {
        if (saveAndValidate) {
            *b.member = IsChecked(b.id) ? 1 : 0;
        } else {
            SetCheck(b.id, *b.member != 0);
        }
    }
}

bool CMainDlg::OnInitDialog() {
    // 1. The controls exist; the bound members go into their buttons.
    UpdateData(false);
    // 2. The window's icon.
    setWindowIcon(m_hIcon);
    // 3. The five image bars.
    for (int id : {IDC_CODE_BAR, IDC_FONT_BAR, IDC_DATA_BAR, IDC_ETC1_BAR, IDC_RESOURCE_BAR}) {
        Bar(id)->SetRange(0, 100);
        Bar(id)->SetPos(0);
    }
    // 4. The port selectors: index = port number.
    for (int ch = 0; ch < kChannels; ++ch) {
        QComboBox* selector = m_PortSelectors[ch];
        selector->addItem(QString::fromUtf8(kNoPortText));
        for (int n = 1; n <= kPortEntries; ++n) selector->addItem(QStringLiteral("COM%1").arg(n));
        m_nPort[ch] = 0;
        selector->setCurrentIndex(0);
    }
    // 5. - 8.
    SetCheck(IDC_AUTO, false);
    setWindowTitle(QString::fromUtf8(kMainDialogCaption));
    m_nPort.fill(0);
    m_bRunning = 0;
    SetCheck(IDC_FORMAT, true);
    // 9. The work folder, the port numbers' devices, the settings and the job.
    SETTINGS_InitDirectory();
    PORTTABLE_Load(SETTINGS_FilePath());
    RefreshPortSelectors();
    ApplySettings(nullptr);
    return true;
}

void CMainDlg::reject() {
    if (m_bRunning == 1) {
        // The workers are cut off: the channels are stopped and nothing is saved.
        PELOR_Stop();
        m_bRunning = 0;
        m_exit(1);
        return;
    }
    QDialog::reject();
    OnDestroy();
}

void CMainDlg::OnDestroy() {
    if (!m_bSaveOnClose) return;
    if (CollectSettings() == 0) {
        m_dialogs->Notice(std::string("The settings could not be saved to ") + SETTINGS_FilePath() +
                          " and " + g_szJobFile + ".");
    }
}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
    // During a run the window does no dialog keyboard handling: Escape does not close it.
    if (m_bRunning == 1) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}
