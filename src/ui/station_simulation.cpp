#include "station_simulation.h"

#include <QAbstractButton>
#include <QPixmap>
#include <QSaveFile>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "caption_progress_ctrl.h"
#include "config/settings.h"
#include "dialog_template.h"
#include "jobs/file_download.h"
#include "qt_main_dlg.h"
#include "resources/demo_images.h"
#include "sim/sim_handset.h"
#include "transport/port_table.h"

namespace {

constexpr int kScreenshotPercent = 40;

std::string MakeTempFolder() {
    std::error_code ec;
    std::string pattern =
        (std::filesystem::temp_directory_path(ec) / "pelor-station-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

}  // namespace

StationSimulation::StationSimulation(QtMainDlg& dlg, SimulationOptions options)
    : dlg_(dlg), options_(std::move(options)) {
    dlg_.KeepNoResults();
}

StationSimulation::~StationSimulation() {
    for (auto& handset : handsets_) handset->Stop();
    handsets_.clear();
    if (!demoRoot_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(demoRoot_, ec);
    }
}

SimHandset* StationSimulation::Handset(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(handsets_.size())) return nullptr;
    return handsets_[static_cast<std::size_t>(channel)].get();
}

int StationSimulation::UseDemoImages(std::string* error) {
    demoRoot_ = MakeTempFolder();
    if (demoRoot_.empty()) {
        *error = "cannot create a temporary folder for the demo images";
        return 0;
    }
    DemoImages images;
    if (!DEMO_MakeImages(demoRoot_, options_.amssBytes, images, error)) return 0;
    if (images.codeDir.size() >= sizeof g_szCodeFile ||
        images.resourceFile.size() >= sizeof g_szEtc2File) {
        *error = "the temporary folder's path is too long for the image rows";
        return 0;
    }
    // The Code row with the whole boot chain, as its picker and Change Boot Area would set it.
    SETTINGS_CopyText(g_szCodeFile, images.codeDir);
    SETTINGS_SplitCodePath();
    dlg_.SetCheck(IDC_CODE_CHECK, true);
    dlg_.OnCodeCheck();
    dlg_.SetControlText(IDC_CODE_BAR, images.codeDir);
    dlg_.SetCheck(IDC_CHANGE_BOOT_AREA, true);
    g_bChangeBootArea = 1;
    dlg_.SetControlText(IDC_CODE_ADDRESS, "0");
    SETTINGS_CopyText(g_szCodeAddress, "0");
    // The Resource row.
    SETTINGS_CopyText(g_szEtc2File, images.resourceFile);
    dlg_.SetCheck(IDC_RESOURCE_CHECK, true);
    dlg_.OnResourceCheck();
    dlg_.SetControlText(IDC_RESOURCE_BAR, images.resourceFile);
    return 1;
}

int StationSimulation::Start(std::string* error) {
    dlg_.SetSaveOnClose(false);
    std::error_code ec;
    if (!std::filesystem::is_directory(g_szCodeFile, ec) && !UseDemoImages(error)) return 0;

    // The handsets take port numbers 1, 2, ... of their own; no channel keeps an older port.
    PORTTABLE_Clear();
    for (int ch = 0; ch < kChannels; ++ch) dlg_.SetChannelPort(ch, 0);
    dlg_.RefreshPortSelectors();
    const bool autoDetect = dlg_.IsChecked(IDC_AUTO);
    std::string mapping;
    for (int ch = 0; ch < options_.handsets && ch < kChannels; ++ch) {
        SimOptions sim;
        sim.baud = options_.baud;
        sim.seed = 0x5EED + static_cast<std::uint32_t>(ch);
        std::unique_ptr<SimHandset> handset = SimHandset::StartOnPty(sim, error);
        if (!handset) return 0;
        const std::string device = handset->DevicePath();
        if (autoDetect) {
            // Plugged in: Auto gives it the next free channel, as for a real device.
            dlg_.OnDeviceArrived(device);
        } else {
            dlg_.SetChannelPort(ch, PORTTABLE_Assign(device));
            dlg_.RefreshPortSelectors();
        }
        const int port = PORTTABLE_Find(device);
        if (port == 0 || dlg_.Port(ch) != port) {
            *error = "no channel for the simulated handset on " + device;
            return 0;
        }
        mapping += (mapping.empty() ? "" : ", ") + std::string("COM") + std::to_string(port) + " " +
                   UI_PortDeviceName(device);
        handsets_.push_back(std::move(handset));
    }
    dlg_.SetControlText(
        IDC_STATUS_LINE,
        "Simulated handsets" +
            (options_.baud != 0 ? " paced at " + std::to_string(options_.baud) + " baud"
                                : std::string()) +
            ": " + mapping);

    if (options_.unplugChannel >= 0) {
        connect(&dlg_, &QtMainDlg::RunStarted, this, &StationSimulation::OnRunStarted);
    }
    if (!options_.screenshot.empty()) {
        // The picture follows a channel whose cable stays in.
        shotChannel_ = options_.unplugChannel == 0 ? 1 : 0;
        connect(&dlg_, &QtMainDlg::ChannelBarChanged, this, &StationSimulation::OnChannelBar);
        // Runs once the dialog's event loop has started.
        QTimer::singleShot(0, this, &StationSimulation::RunUnattended);
    }
    return 1;
}

void StationSimulation::RunUnattended() {
    dlg_.Button(IDC_DOWNLOAD)->click();  // returns when the run has ended
    if (!shotTaken_) SaveScreenshot();
    // Every handset finished, except an unplugged one, which must not count as done.
    runOk_ = !handsets_.empty();
    for (std::size_t ch = 0; ch < handsets_.size(); ++ch) {
        const bool unplugged = handsets_[ch]->Unplugged();
        runOk_ = runOk_ && (g_nChannelResult[ch].load() == 1) != unplugged;
    }
    if (shotSaved_ && !runOk_) message_ += " (a channel did not finish)";
    dlg_.done(QDialog::Accepted);
}

void StationSimulation::OnRunStarted() {
    if (unplugScheduled_) return;
    unplugScheduled_ = true;
    const int channel = options_.unplugChannel;
    QTimer::singleShot(options_.unplugAfter, this, [this, channel] { Unplug(channel); });
}

void StationSimulation::Unplug(int channel) {
    SimHandset* handset = Handset(channel);
    if (handset == nullptr || handset->Unplugged()) return;
    handset->Unplug();
    dlg_.OnDeviceRemoved(handset->DevicePath());
}

void StationSimulation::OnChannelBar(int channel) {
    if (shotTaken_ || channel != shotChannel_) return;
    const CCaptionProgressCtrl* bar = dlg_.ChannelBar(channel);
    // The AMSS image is the long part of a run: the picture shows it on its way.
    if (!bar->GetWindowText().startsWith(QStringLiteral("AMSS: "))) return;
    const long long range = static_cast<long long>(bar->Upper()) - bar->Lower();
    if (range <= 0) return;
    const long long done = static_cast<long long>(bar->Pos()) - bar->Lower();
    if (done * 100 >= range * kScreenshotPercent) SaveScreenshot();
}

void StationSimulation::SaveScreenshot() {
    shotTaken_ = true;
    const QPixmap picture = dlg_.grab();
    QSaveFile file(QString::fromStdString(options_.screenshot));
    if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit()) {
        message_ = "cannot write the screenshot " + options_.screenshot;
        return;
    }
    shotSaved_ = true;
    message_ = "screenshot saved to " + options_.screenshot;
}

int StationSimulation::ExitCode() const {
    if (options_.screenshot.empty()) return 1;
    return shotSaved_ && runOk_ ? 0 : 1;
}
