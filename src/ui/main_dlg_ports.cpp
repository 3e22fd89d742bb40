// Which COM port each channel uses: chosen by hand in the eight selectors, or given
// automatically when Auto is on and a serial device arrives; a removed device takes its
// channel's port away, and during a run stops that channel.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "config/settings.h"
#include "dialog_template.h"
#include "jobs/continuous_runner.h"
#include "jobs/file_download.h"
#include "jobs/port_assignment.h"
#include "main_dlg.h"
#include "transport/port_table.h"

namespace {

constexpr int kPortEntries = 30;  // "COM1" .. "COM30"
constexpr const char* kReadyText = "Ready...";

std::string PortText(const char* format, int port) {
    char text[64];
    std::snprintf(text, sizeof text, format, port);
    return text;
}

// Whether port n is the system's COMn itself (Windows) rather than a number the port table
// gives a device.
#if defined(_WIN32)
constexpr bool kPortsAreComPorts = true;
#else
constexpr bool kPortsAreComPorts = false;
#endif

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
    std::vector<ListItem> entries{{"-----------", {}}};
    for (int n = 1; n <= kPortEntries; ++n) {
        ListItem item{"COM" + std::to_string(n), {}};
        if (!kPortsAreComPorts) {
            // The port table says which device port n stands for; the entry names it so the
            // operator can tell the sockets apart.
            item.tip = PORTTABLE_Device(n);
            if (!item.tip.empty()) item.text += ' ' + UI_PortDeviceName(item.tip);
        }
        entries.push_back(std::move(item));
    }
    for (int ch = 0; ch < kChannels; ++ch) {
        m_host.SetItems(kPortSelectorIds[ch], entries);
        UpdatePortTip(ch);
    }
}

void CMainDlg::UpdatePortTip(int channel) {
    if (!IsChannel(channel)) return;
    const int port = m_nPort[channel];
    const std::string device =
        !kPortsAreComPorts && port > 0 ? PORTTABLE_Device(port) : std::string();
    m_host.SetTip(kPortSelectorIds[channel], device);
}

void CMainDlg::ShowPort(int channel, int port) {
    // A port above 30 has no entry: the selector shows none while the channel keeps it.
    m_host.Select(kPortSelectorIds[channel], port >= 0 && port <= kPortEntries ? port : -1);
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
    EnableControl(kPortSelectorIds[channel], true);
    if (!keepText) SetControlText(kChannelBarIds[channel], std::string());
}

// --- The selectors and Auto -----------------------------------------------------------------

void CMainDlg::OnSelchangePort(int channel) {
    if (!IsChannel(channel)) return;
    // During a Download the channels run on the ports they started with: the selector goes
    // back to the port its channel runs on. Armed, a socket without a job takes a new port.
    const bool jobOnSocket = m_bArmed && m_pContinuous != nullptr &&
                             m_pContinuous->Socket(channel).state == SocketState::Running;
    if ((m_bRunning == 1 && !m_bArmed) || jobOnSocket) {
        ShowPort(channel, m_nPort[channel]);
        SetControlText(IDC_STATUS_LINE,
                       jobOnSocket ? PortText("COM%d is flashing a handset: its channel keeps it",
                                              m_nPort[channel])
                                   : std::string("The ports wait until the run has ended"));
        return;
    }
    const int before = m_nPort[channel];
    const int n = m_host.Selection(kPortSelectorIds[channel]);
    if (PORTS_Choose(m_nPort, channel, n) != n) {
        // A port already in use, this channel's own included: the channel has none.
        ShowPort(channel, 0);
        SetControlText(kChannelBarIds[channel], std::string());
    } else {
        UpdatePortTip(channel);
    }
    // Armed, the socket watches its new port at once (none: it takes no more handsets).
    if (m_bArmed && m_nPort[channel] != before) OnArmedPortChange(channel, m_nPort[channel]);
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
            SetControlText(kChannelBarIds[ch], std::string());
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
        EnableControl(kPortSelectorIds[ch], true);
    }
    EnableDownload(true);
}

// --- Device arrival and removal -------------------------------------------------------------

void CMainDlg::OnDeviceArrival(int port) {
    if (port <= 0) return;
    SetControlText(IDC_STATUS_LINE, PortText("Detect COM%d Port", port));
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
    SetControlText(IDC_STATUS_LINE, PortText("Detect COM%d Port", port));
    ShowPort(target, port);
    EnableControl(kPortSelectorIds[target], false);
    SetControlText(kChannelBarIds[target], kReadyText);
    EnableDownload(true);
}

void CMainDlg::OnDeviceRemoval(int port) {
    if (port <= 0) return;
    SetControlText(IDC_STATUS_LINE, PortText("Disconnect COM%d Port", port));
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
        PELOR_ChannelGone(channel);
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

void CMainDlg::OnDevicesPresent(const std::vector<std::string>& devices) {
    std::vector<int> ports;
    for (const std::string& device : devices) {
        const int port = PORTTABLE_Assign(device);  // a known device keeps its number
        if (port != 0) ports.push_back(port);
    }
    if (ports.empty()) return;
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    RefreshPortSelectors();
    const std::string status = ControlText(IDC_STATUS_LINE);
    for (int port : ports) OnDeviceArrival(port);
    if (!status.empty()) SetControlText(IDC_STATUS_LINE, status);
}
