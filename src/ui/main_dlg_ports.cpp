// Which COM port each channel uses: chosen by hand in the eight selectors, or given
// automatically when Auto is on and a serial device arrives; a removed device takes its
// channel's port away, and during a run stops that channel.
#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QScrollBar>
#include <algorithm>
#include <cstdlib>

#include "caption_progress_ctrl.h"
#include "config/settings.h"
#include "device_watcher.h"
#include "dialog_template.h"
#include "jobs/file_download.h"
#include "jobs/port_assignment.h"
#include "main_dlg.h"
#include "transport/port_table.h"

#if defined(_WIN32)
// clang-format off
#include <windows.h>
#include <dbt.h>  // after windows.h, whose types it uses
// clang-format on
#endif

namespace {

constexpr int kPortEntries = 30;  // "COM1" .. "COM30"
constexpr const char* kReadyText = "Ready...";

QString PortText(const char* format, int port) {
    return QString::asprintf(format, port);
}

}  // namespace

int UI_PortNumberFromName(const std::string& name) {
    if (name.size() < 3) return 0;
    // The first three characters (normally "COM") are skipped without being compared.
    const long n = std::strtol(name.c_str() + 3, nullptr, 10);
    return n > 0 && n <= kMaxPortNumber ? static_cast<int>(n) : 0;
}

std::string UI_PortDeviceName(const std::string& device) {
    const std::string pts = "/dev/pts/";
    if (device.rfind(pts, 0) == 0) return "pts" + device.substr(pts.size());
    return PORTTABLE_ShortName(device);
}

// --- Selector entries -----------------------------------------------------------------------

void CMainDlg::RefreshPortSelectors() {
    for (int ch = 0; ch < kChannels; ++ch) {
        QComboBox* selector = m_PortSelectors[ch];
        int widest = 0;
        const QFontMetrics metrics(selector->view()->font());
        for (int n = 0; n < selector->count(); ++n) {
#if !defined(_WIN32)
            // On Windows port n is COMn itself; elsewhere the port table says which device it
            // stands for, and the entry names it so the operator can tell the sockets apart.
            if (n >= 1 && n <= kPortEntries) {
                const std::string device = PORTTABLE_Device(n);
                QString text = QStringLiteral("COM%1").arg(n);
                if (!device.empty())
                    text += ' ' + QString::fromStdString(UI_PortDeviceName(device));
                selector->setItemText(n, text);
                selector->setItemData(n,
                                      device.empty() ? QVariant() : QString::fromStdString(device),
                                      Qt::ToolTipRole);
            }
#endif
            widest = std::max(widest, metrics.horizontalAdvance(selector->itemText(n)));
        }
        // The closed selector may cut a long entry; the opened list shows every entry whole.
        QAbstractItemView* view = selector->view();
        const int content = std::max(widest + 8, view->sizeHintForColumn(0));
        const int chrome =
            2 * view->frameWidth() + view->verticalScrollBar()->sizeHint().width() + 4;
        view->setMinimumWidth(std::max(selector->width(), content + chrome));
        UpdatePortTip(ch);
    }
}

void CMainDlg::UpdatePortTip(int channel) {
    if (!IsChannel(channel)) return;
    const int port = m_nPort[channel];
#if defined(_WIN32)
    const std::string device;
#else
    const std::string device = port > 0 ? PORTTABLE_Device(port) : std::string();
#endif
    m_PortSelectors[channel]->setToolTip(QString::fromStdString(device));
}

void CMainDlg::ShowPort(int channel, int port) {
    // A port above 30 has no entry: the selector shows none while the channel keeps it.
    m_PortSelectors[channel]->setCurrentIndex(port >= 0 && port <= kPortEntries ? port : -1);
    UpdatePortTip(channel);
}

bool CMainDlg::AnyPort() const {
    for (int p : m_nPort) {
        if (p != 0) return true;
    }
    return false;
}

void CMainDlg::EnableDownload(bool enabled) {
    // Armed, Download is the Stop button and stays usable.
    EnableControl(IDC_DOWNLOAD, m_bArmed || (enabled && m_bRunning == 0));
}

void CMainDlg::ClearChannelPort(int channel, bool keepText) {
    m_nPort[channel] = 0;
    ShowPort(channel, 0);
    m_PortSelectors[channel]->setEnabled(true);
    if (!keepText) m_ChannelBars[channel]->SetWindowText(QString());
}

// --- The selectors and Auto -----------------------------------------------------------------

void CMainDlg::OnSelchangePort(int channel) {
    if (!IsChannel(channel)) return;
    QComboBox* selector = m_PortSelectors[channel];
    const int n = selector->currentIndex();
    if (PORTS_Choose(m_nPort, channel, n) != n) {
        // A port already in use, this channel's own included: the channel has none.
        ShowPort(channel, 0);
        m_ChannelBars[channel]->SetWindowText(QString());
    } else {
        UpdatePortTip(channel);
    }
    EnableDownload(AnyPort());
}

void CMainDlg::OnAutoDetect() {
    if (m_bRunning == 1) {
        // Not during a run: the box goes back to the setting it stands for.
        SetCheck(IDC_AUTO, g_bAutoDetect.load() != 0);
        return;
    }
    if (IsChecked(IDC_AUTO)) {
        g_bAutoDetect = 1;
        // Every channel waits for a device to arrive; the selectors can still be used by hand.
        for (int ch = 0; ch < kChannels; ++ch) {
            m_nPort[ch] = 0;
            ShowPort(ch, 0);
            m_ChannelBars[ch]->SetWindowText(QString());
        }
        EnableDownload(false);
        return;
    }
    g_bAutoDetect = 0;
    // The channels take their saved ports, so a Download pressed now starts them.
    for (int ch = 0; ch < kChannels; ++ch) {
        const int port = g_nChPort[static_cast<std::size_t>(ch)];
        m_nPort[ch] = port;
        ShowPort(ch, port);
        m_PortSelectors[ch]->setEnabled(true);
    }
    EnableDownload(true);
}

// --- Device arrival and removal -------------------------------------------------------------

void CMainDlg::OnDeviceArrival(int port) {
    if (port <= 0) return;
    SetControlText(IDC_STATUS_LINE, PortText("Detect COM%d Port", port).toStdString());
    // Armed, a device that arrives is assigned as when idle: its channel becomes a socket.
    if ((m_bRunning == 1 && !m_bArmed) || !IsChecked(IDC_AUTO)) return;
    // The first channel that already has the port keeps it; any later one loses it.
    const std::array<int, kChannels> before = m_nPort;  // an armed socket learns of a new port
    std::array<bool, kChannels> cleared{};
    const int target = PORTS_Arrive(m_nPort, port, &cleared);
    for (int ch = 0; ch < kChannels; ++ch) {
        if (cleared[ch]) ClearChannelPort(ch, false);
    }
    if (target < 0) return;  // all eight channels have a device
    if (m_bArmed && before[target] != port) OnArmedPortChange(target, port);
    SetControlText(IDC_STATUS_LINE, PortText("Detect COM%d Port", port).toStdString());
    ShowPort(target, port);
    m_PortSelectors[target]->setEnabled(false);
    m_ChannelBars[target]->SetWindowText(QString::fromUtf8(kReadyText));
    EnableDownload(true);
}

void CMainDlg::OnDeviceRemoval(int port) {
    if (port <= 0) return;
    SetControlText(IDC_STATUS_LINE, PortText("Disconnect COM%d Port", port).toStdString());
    const int channel = PORTS_ChannelOf(m_nPort, port);
    if (channel < 0) return;
    if (m_bArmed) {
        // The socket stays; a job on it stops at once, and its next handset starts afresh.
        OnArmedRemoval(channel);
        return;
    }
    if (m_bRunning == 1) {
        // Only this channel stops: its worker gives up at its next wait pass. Its bar keeps
        // the last thing the worker said.
        PELOR_CloseChannel(channel);
        ClearChannelPort(channel, true);
    } else {
        ClearChannelPort(channel, false);
    }
    // Download keeps its state, even with no port left.
}

void CMainDlg::OnDeviceArrived(const std::string& device) {
    const int port = PORTTABLE_Assign(device);
    if (port == 0) return;  // the port table is full
    RefreshPortSelectors();
    OnDeviceArrival(port);
}

void CMainDlg::OnDeviceRemoved(const std::string& device) {
    OnDeviceRemoval(PORTTABLE_Find(device));
}

void CMainDlg::ConnectDeviceWatcher(DeviceWatcher& watcher) {
    connect(&watcher, &DeviceWatcher::DeviceArrived, this,
            [this](const QString& device) { OnDeviceArrived(device.toStdString()); });
    connect(&watcher, &DeviceWatcher::DeviceRemoved, this,
            [this](const QString& device) { OnDeviceRemoved(device.toStdString()); });
}

#if defined(_WIN32)
bool CMainDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
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
