#include "qt_main_dlg.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <algorithm>

#include "address_edits.h"
#include "caption_progress_ctrl.h"
#include "device_watcher.h"
#include "end_signals.h"
#include "jobs/station.h"
#include "qt_paths.h"
#include "qt_ui_dialogs.h"
#include "station_icon.h"

#if defined(_WIN32)
// clang-format off
#include <windows.h>
#include <dbt.h>  // after windows.h, whose types it uses
// clang-format on
#endif

namespace {

// A closed drop-down list is about as tall as an edit; the rest of its height is the list.
constexpr int kClosedListHeight = 14;
constexpr int kListItemHeight = 8;

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

QRect UI_QRect(const DialogRect& r) {
    return QRect(r.x, r.y, r.width, r.height);
}

DialogUnits UI_DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    return DialogUnits::FromMetrics(metrics.horizontalAdvance(QStringLiteral(
                                        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")),
                                    metrics.height());
}

QFont UI_DialogFont() {
    const QString preferred = QStringLiteral("MS Sans Serif");
    QFont font;
    if (QFontDatabase::families().contains(preferred, Qt::CaseInsensitive)) {
        font = QFont(preferred);
    } else {
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    }
    font.setPointSize(9);
    return font;
}

QtMainDlg::QtMainDlg(UiDialogs* dialogs, QWidget* parent)
    : QDialog(parent), CMainDlg(static_cast<WindowHost&>(*this)) {
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
    m_units = UI_DialogUnits(font());
    setFixedSize(m_units.X(kMainDialogWidth), m_units.Y(kMainDialogHeight));
    CreateControls();
    RouteNotifications();
    setWindowIcon(m_hIcon);
    OnInitDialog();
}

QtMainDlg::~QtMainDlg() {
    // The controls go before the dialog; nothing may reach them from a worker by then.
    NotifyTarget* self = static_cast<CMainDlg*>(this);
    STATION_Current().notifyTarget.compare_exchange_strong(self, nullptr);
    m_controls.clear();
}

void QtMainDlg::CreateControls() {
    QWidget* previous = nullptr;
    for (const DialogControl& c : kMainDialogTemplate) {
        std::unique_ptr<QWidget> control = MakeControl(c, this);
        QWidget* w = control.get();
        w->setObjectName(QString::number(c.id));
        QRect r = UI_QRect(m_units.Map(c.x, c.y, c.cx, c.cy));
        if (c.kind == ControlKind::DropDownList) r.setHeight(m_units.Y(kClosedListHeight));
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
        m_ChannelBars[ch]->installEventFilter(this);
    }
    // The group boxes lie behind every control, whatever their place in the tab order.
    for (auto& control : m_controls) {
        if (qobject_cast<QGroupBox*>(control.get()) != nullptr) control->lower();
    }
}

QWidget* QtMainDlg::Control(int id) const {
    for (const auto& [controlId, widget] : m_byId) {
        if (controlId == id) return widget;
    }
    return nullptr;
}

QAbstractButton* QtMainDlg::Button(int id) const {
    return qobject_cast<QAbstractButton*>(Control(id));
}
QLineEdit* QtMainDlg::Edit(int id) const {
    return qobject_cast<QLineEdit*>(Control(id));
}
QComboBox* QtMainDlg::Combo(int id) const {
    return qobject_cast<QComboBox*>(Control(id));
}
CCaptionProgressCtrl* QtMainDlg::Bar(int id) const {
    return qobject_cast<CCaptionProgressCtrl*>(Control(id));
}
QLabel* QtMainDlg::Label(int id) const {
    return qobject_cast<QLabel*>(Control(id));
}

// --- WindowHost -----------------------------------------------------------------------------

bool QtMainDlg::Checked(int id) const {
    const QAbstractButton* b = Button(id);
    return b != nullptr && b->isChecked();
}

void QtMainDlg::SetChecked(int id, bool checked) {
    if (QAbstractButton* b = Button(id)) b->setChecked(checked);
}

bool QtMainDlg::Enabled(int id) const {
    const QWidget* w = Control(id);
    return w != nullptr && w->isEnabled();
}

void QtMainDlg::Enable(int id, bool enabled) {
    if (QWidget* w = Control(id)) w->setEnabled(enabled);
}

bool QtMainDlg::Shown(int id) const {
    const QWidget* w = Control(id);
    return w != nullptr && !w->isHidden();
}

void QtMainDlg::Show(int id, bool shown) {
    if (QWidget* w = Control(id)) w->setVisible(shown);
}

void QtMainDlg::SetTip(int id, const std::string& tip) {
    if (QWidget* w = Control(id)) w->setToolTip(QString::fromStdString(tip));
}

std::string QtMainDlg::Text(int id) const {
    QWidget* w = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        // What was put in comes back byte for byte (a job file's path in the file system's
        // bytes) until the operator edits it.
        const auto set = m_editBytes.find(id);
        if (set != m_editBytes.end() && set->second.first == edit->text())
            return set->second.second;
        return UI_PathFromQt(edit->text());
    }
    if (auto* bar = qobject_cast<CCaptionProgressCtrl*>(w)) {
        return bar->GetWindowText().toStdString();
    }
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text().toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text().toStdString();
    return {};
}

void QtMainDlg::SetText(int id, const std::string& text) {
    QWidget* w = Control(id);
    const QString t = QString::fromStdString(text);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        const QString shown = UI_PathToQt(text);
        edit->setText(shown);
        m_editBytes[id] = {edit->text(), text};
    } else if (auto* bar = qobject_cast<CCaptionProgressCtrl*>(w)) {
        bar->SetWindowText(t);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(t);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(t);
    }
}

void QtMainDlg::SetItems(int id, const std::vector<ListItem>& items) {
    QComboBox* list = Combo(id);
    if (list == nullptr) return;
    const int selected = list->currentIndex();
    const QFontMetrics metrics(list->view()->font());
    int widest = 0;
    for (std::size_t n = 0; n < items.size(); ++n) {
        const int i = static_cast<int>(n);
        const QString text = QString::fromStdString(items[n].text);
        if (i < list->count()) {
            list->setItemText(i, text);
        } else {
            list->addItem(text);
        }
        list->setItemData(i,
                          items[n].tip.empty() ? QVariant() : QString::fromStdString(items[n].tip),
                          Qt::ToolTipRole);
        widest = std::max(widest, metrics.horizontalAdvance(text));
    }
    while (list->count() > static_cast<int>(items.size())) list->removeItem(list->count() - 1);
    if (selected < list->count()) list->setCurrentIndex(selected);
    // The closed selector may cut a long entry; the opened list shows every entry whole.
    QAbstractItemView* view = list->view();
    const int content = std::max(widest + 8, view->sizeHintForColumn(0));
    const int chrome = 2 * view->frameWidth() + view->verticalScrollBar()->sizeHint().width() + 4;
    view->setMinimumWidth(std::max(list->width(), content + chrome));
}

int QtMainDlg::Selection(int id) const {
    const QComboBox* list = Combo(id);
    return list != nullptr ? list->currentIndex() : -1;
}

void QtMainDlg::Select(int id, int index) {
    if (QComboBox* list = Combo(id)) list->setCurrentIndex(index);
}

void QtMainDlg::SetBarRange(int id, int lower, int upper) {
    if (CCaptionProgressCtrl* bar = Bar(id)) bar->SetRange(lower, upper);
}

void QtMainDlg::SetBarPos(int id, int pos) {
    if (CCaptionProgressCtrl* bar = Bar(id)) bar->SetPos(pos);  // repaints when the width changes
}

void QtMainDlg::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}

bool QtMainDlg::OnWindowThread() const {
    return QThread::currentThread() == thread();
}

bool QtMainDlg::RunOnWindowThread(const std::function<void()>& task) {
    // Qt's blocking queued call wakes the window's thread and holds this one until it ran.
    return QMetaObject::invokeMethod(
        this, [&task] { task(); }, Qt::BlockingQueuedConnection);
}

void QtMainDlg::PumpEvents(std::chrono::milliseconds bound) {
    // A nested event loop sleeps in the event dispatcher until something arrives (a worker's
    // message, the operator's input) or the timer ends it: no polling in between.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(bound);
    loop.exec();
}

// --- Notifications, closing, keys, devices -------------------------------------------------------

void QtMainDlg::RouteNotifications() {
    for (const auto& [id, widget] : m_byId) {
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            connect(button, &QAbstractButton::clicked, this, [this, id = id] { OnCommand(id); });
        } else if (auto* list = qobject_cast<QComboBox*>(widget)) {
            // The operator's choice, also of the entry it already shows.
            connect(list, &QComboBox::activated, this, [this, id = id] { OnSelectionChange(id); });
        }
    }
}

void QtMainDlg::reject() {
    if (OnClose()) QDialog::reject();
}

bool QtMainDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        for (int ch = 0; ch < kChannels; ++ch) {
            if (watched == m_ChannelBars[ch]) return OnAcknowledgeSuspect(ch);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void QtMainDlg::keyPressEvent(QKeyEvent* event) {
    if (!DialogKeysEnabled()) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

void QtMainDlg::EndOnSystemRequests() {
    auto end = [this] {
        if (OnEndSession()) QDialog::reject();
    };
    m_endSignals = std::make_unique<EndSignals>();
    connect(m_endSignals.get(), &EndSignals::Received, this, end);
    // The desktop session ends (the user logs out): asked before the session manager ends it.
    connect(qApp, &QGuiApplication::commitDataRequest, this, end);
}

void QtMainDlg::ConnectDeviceWatcher(DeviceWatcher& watcher) {
    connect(&watcher, &DeviceWatcher::DeviceArrived, this,
            [this](const QString& device) { OnDeviceArrived(device.toStdString()); });
    connect(&watcher, &DeviceWatcher::DeviceRemoved, this,
            [this](const QString& device) { OnDeviceRemoved(device.toStdString()); });
}

#if defined(_WIN32)
bool QtMainDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg != nullptr && msg->message == WM_DEVICECHANGE &&
        (msg->wParam == DBT_DEVICEARRIVAL || msg->wParam == DBT_DEVICEREMOVECOMPLETE) &&
        msg->lParam != 0) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(msg->lParam);
        if (header->dbch_devicetype == DBT_DEVTYP_PORT) {
            // The window is a Unicode window: the port's name comes as wide characters.
            const auto* portInfo = reinterpret_cast<const DEV_BROADCAST_PORT_W*>(header);
            const std::string name = QString::fromWCharArray(portInfo->dbcp_name).toStdString();
            const int port = UI_PortNumberFromName(name);
            if (msg->wParam == DBT_DEVICEARRIVAL) {
                OnDeviceArrival(port);
            } else {
                OnDeviceRemoval(port);
            }
        }
    }
    // The framework goes on with the message either way.
    return QDialog::nativeEvent(eventType, message, result);
}
#endif
