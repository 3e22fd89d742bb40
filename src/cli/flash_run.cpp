#include "flash_run.h"

#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "config/atomic_file.h"
#include "config/ini_file.h"
#include "config/paths.h"
#include "config/settings.h"
#include "console_display.h"
#include "jobs/download_plan.h"
#include "jobs/file_download.h"
#include "jobs/port_assignment.h"
#include "jobs/runner.h"
#include "link/image_table.h"
#include "link/outcome.h"
#include "transport/port_table.h"
#include "transport/trace.h"

namespace {

// Applies the job file's Code and Resource choices (options given on the command line win).
bool ApplyJobFile(FlashOptions& o, std::string* error) {
    if (o.job.empty()) return true;
    std::FILE* f = std::fopen(o.job.c_str(), "rb");
    if (f == nullptr) {
        *error = "cannot read job file " + o.job;
        return false;
    }
    std::fclose(f);
    const char* section = kSettingsSection;
    if (o.codeDir.empty() && INI_GetInt(o.job, section, "CODECHECK", 1) == 1) {
        o.codeDir = INI_GetString(o.job, section, "CODEFILE", std::string());
    }
    if (o.resource.empty() && INI_GetInt(o.job, section, "ETC2CHECK", 0) == 1) {
        o.resource = INI_GetString(o.job, section, "ETC2FILE", std::string());
        if (o.resourceAddress.empty()) {
            o.resourceAddress = INI_GetString(o.job, section, "ETC2ADDRESS", std::string());
        }
    }
    return true;
}

// Puts the choices into the settings globals as the window's handlers would.
bool SetChoices(const FlashOptions& o, DownloadControls& controls, std::string* error) {
    SETTINGS_ResetGlobals();
    const bool code = !o.codeDir.empty();
    if (o.erase != "none" && o.erase != "all" && o.erase != "except-backup") {
        *error = "--erase takes none, all or except-backup";
        return false;
    }
    if (o.erase != "none" && !code) {
        *error = "--erase needs --code";
        return false;
    }
    if (o.erase == "except-backup" && o.resource.empty()) {
        *error = "--erase except-backup needs --resource, as the window's Erase NAND does";
        return false;
    }
    if (!code && o.resource.empty()) {
        *error = "Select Image ! (give --code, --resource or --job)";
        return false;
    }
    if (o.codeDir.size() >= sizeof g_szCodeFile) {
        *error = "code folder is longer than 260 characters";
        return false;
    }
    if (o.resource.size() >= sizeof g_szEtc2File) {
        *error = "resource path is longer than 260 characters";
        return false;
    }
    SETTINGS_CopyText(g_szCodeFile, o.codeDir);
    SETTINGS_SplitCodePath();
    const bool boot = o.boot || o.erase != "none";
    g_bChangeBootArea = boot ? 1 : 0;
    SETTINGS_CopyText(g_szCodeAddress, boot ? "0" : "70000");
    g_bEraseAllNand = o.erase == "all" ? 1 : 0;
    g_bEraseNand = o.erase == "except-backup" ? 1 : 0;
    g_bCodeCheck = code ? 1 : 0;
    g_bEtc2Check = o.resource.empty() ? 0 : 1;
    SETTINGS_CopyText(g_szEtc2File, o.resource);
    g_bFormat = o.noFormat ? 0 : 1;
    g_nDelay = o.delay;
    g_dwBaudRate = o.baud;
    controls.codeChecked = code;
    controls.codeAddressText = g_szCodeAddress;
    controls.resourceChecked = !o.resource.empty();
    controls.resourceAddressText = o.resourceAddress;
    return true;
}

// Every image the run would send must be readable before anything is sent.
bool AllImagesReadable(std::string* error) {
    for (int slot = 0; slot < kSlots; ++slot) {
        const IMAGE_ENTRY& e = g_ImageTable[0][slot];
        if (e.szPath[0] == '\0' || std::strcmp(e.szPath, kDummyPath) == 0) continue;
        std::FILE* f = std::fopen(e.szPath, "rb");
        if (f == nullptr) {
            *error = std::string("ERR: No File: ") + e.szPath;
            return false;
        }
        std::fclose(f);
    }
    return true;
}

}  // namespace

int CLI_RunFlash(const FlashOptions& given, std::FILE* out, std::FILE* err, FlashOutcome* result) {
    FlashOptions o = given;
    FlashOutcome local;
    FlashOutcome& outcome = result != nullptr ? *result : local;
    outcome = FlashOutcome{};
    std::string error;

    if (o.ports.empty() || o.ports.size() > static_cast<std::size_t>(kChannels)) {
        std::fprintf(err, "error: give 1 to %d ports with -p\n", kChannels);
        return kExitUsage;
    }
    if (o.baud <= 0 || o.delay < 0) {
        std::fprintf(err, "error: --baud must be positive and --delay not negative\n");
        return kExitUsage;
    }
    if (!ApplyJobFile(o, &error)) {
        std::fprintf(err, "error: %s\n", error.c_str());
        return kExitUsage;
    }
    SETTINGS_InitDirectory();
    PORTTABLE_Load(SETTINGS_FilePath());
    std::array<int, kChannels> ports{};
    std::array<std::string, kChannels> names{};
    for (std::size_t ch = 0; ch < o.ports.size(); ++ch) {
        std::string device;
        const int n = PORTS_Resolve(o.ports[ch], &device, &error);
        if (n == 0) {
            std::fprintf(err, "error: %s\n", error.c_str());
            return kExitUsage;
        }
        if (PORTS_Choose(ports, static_cast<int>(ch), n) != n) {
            // The window leaves such a channel without a port; here it is a mistake to mend.
            std::fprintf(err, "error: %s is given for two channels\n", o.ports[ch].c_str());
            return kExitUsage;
        }
        names[ch] = device;
    }

    DownloadControls controls;
    if (!SetChoices(o, controls, &error)) {
        std::fprintf(err, "error: %s\n", error.c_str());
        return kExitUsage;
    }
    const int check = PELOR_FillImages(controls, &error);
    if (check != DOWNLOAD_READY) {
        std::fprintf(err, "error: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!AllImagesReadable(&error)) {
        std::fprintf(err, "error: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!o.trace.empty() && !DBG_TraceOpen(o.trace)) {
        std::fprintf(err, "error: cannot write the trace file %s\n", o.trace.c_str());
        return kExitUsage;
    }

    ConsoleDisplay display(out, o.live, names);
    PELOR_Start(&display, WM_DOWNLOAD_STATUS, ports, o.baud);
    PELOR_Run([&display](std::chrono::milliseconds interval) {
        display.Refresh();
        std::this_thread::sleep_for(interval);
    });
    PELOR_Stop();
    display.Finish();
    if (!o.trace.empty()) DBG_TraceClose();

    const StatusBoard board = display.Board();
    outcome.ok = true;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (ports[ch] == 0) continue;
        ChannelOutcome c;
        c.channel = ch;
        c.port = names[ch];
        c.ok = g_nChannelResult[ch] == 1;
        c.text = board.bars[ch].text;
        const JobOutcome failure = OUTCOME_Get(ch);
        c.step = OUTCOME_StepName(failure.step);
        c.reason = OUTCOME_ReasonName(failure.reason);
        c.detail = failure.detail;
        if (failure.step == JobStep::Open) c.why = failure.detail;
        c.seconds = display.Seconds(ch);
        for (const IMAGE_ENTRY& e : g_ImageTable[ch]) c.bytes += e.nSent;
        outcome.ok = outcome.ok && c.ok;
        outcome.channels.push_back(c);
    }
    if (!o.report.empty() && !CLI_WriteReport(o.report, outcome, &error)) {
        std::fprintf(err, "error: cannot write the report: %s\n", error.c_str());
        return kExitFailed;
    }
    return outcome.ok ? kExitOk : kExitFailed;
}

int CLI_WriteReport(const std::string& path, const FlashOutcome& outcome, std::string* error) {
    nlohmann::json report;
    report["ok"] = outcome.ok;
    report["channels"] = nlohmann::json::array();
    for (const ChannelOutcome& c : outcome.channels) {
        report["channels"].push_back({{"channel", c.channel},
                                      {"port", c.port},
                                      {"ok", c.ok},
                                      {"text", c.text},
                                      {"why", c.why},
                                      {"step", c.step},
                                      {"reason", c.reason},
                                      {"detail", c.detail},
                                      {"seconds", c.seconds},
                                      {"bytes", c.bytes}});
    }
    return ATOMIC_WriteFile(
        path, report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n", error);
}
