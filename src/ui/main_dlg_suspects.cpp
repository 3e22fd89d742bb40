// A socket going bad, in the window: while the station is armed each job that ends is judged
// against the station's other sockets (results/suspect_sockets.h); a suspect socket's bar
// carries its badge after its last result, and the status line names it. A double-click on the
// bar acknowledges it (the cable was changed, the contacts cleaned); arming the station again
// starts every flag afresh.
#include "config/settings.h"
#include "dialog_template.h"
#include "jobs/continuous_runner.h"
#include "main_dlg.h"

namespace {

constexpr const char* kBadgeSeparator = "  ";
constexpr const char* kAcknowledgeTip = "Suspect socket: double-click to acknowledge";

// The bar's text without a badge.
std::string WithoutBadge(const std::string& text) {
    const auto at = text.find(std::string(kBadgeSeparator) + "SUSPECT: ");
    return at == std::string::npos ? text : text.substr(0, at);
}

}  // namespace

void CMainDlg::SuspectsArmed() {
    m_suspects = std::make_unique<SocketWatch>(RESULTS_SuspectRule(SETTINGS_FilePath()));
    ShowSuspectBars();
}

void CMainDlg::JudgeSocket(const ContinuousJob& job) {
    if (m_suspects)
        m_suspects->Add(RESULTS_EndedSocketJob(job.channel, job.ok, job.start, job.end));
}

void CMainDlg::ShowSuspectBars() {
    for (int ch = 0; ch < kChannels; ++ch) {
        const std::string text = ControlText(kChannelBarIds[ch]);
        std::string shown = WithoutBadge(text);
        SuspectEvidence e;
        const bool suspect = m_suspects && m_suspects->Evidence(ch, &e);
        if (suspect) shown += kBadgeSeparator + RESULTS_SuspectBadge(e);
        if (shown == text) continue;
        SetControlText(kChannelBarIds[ch], shown);
        m_host.SetTip(kChannelBarIds[ch], suspect ? kAcknowledgeTip : "");
        m_host.ChannelBarShown(ch);
    }
    PublishSuspects();
}

std::string CMainDlg::SuspectStatus() const {
    if (!m_suspects) return "";
    std::string channels;
    for (const SuspectEvidence& e : m_suspects->Suspects()) {
        channels += (channels.empty() ? "ch" : ", ch") + std::to_string(e.channel);
    }
    if (channels.empty()) return "";
    return "; suspect: " + channels + " (double-click its bar to acknowledge)";
}

bool CMainDlg::OnAcknowledgeSuspect(int channel) {
    if (!m_suspects || !IsChannel(channel) || !m_suspects->Acknowledge(channel)) return false;
    ShowSuspectBars();
    ShowLineTotals();
    if (m_pContinuous == nullptr) {
        // Disarmed: the status line no longer counts, only the flag goes.
        const std::string line = ControlText(IDC_STATUS_LINE);
        const auto at = line.find("; suspect: ");
        if (at != std::string::npos) SetControlText(IDC_STATUS_LINE, line.substr(0, at));
    }
    return true;
}
