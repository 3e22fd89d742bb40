// Download: the check and slot filling shared with the command line, the run with the window's
// event loop as its pump, and the display of the workers' status messages.
#include <algorithm>

#include "config/settings.h"
#include "dialog_template.h"
#include "jobs/download_plan.h"
#include "jobs/runner.h"
#include "main_dlg.h"
#include "ui_dialogs.h"

bool CMainDlg::FillImagesFromControls() {
    DownloadControls controls;
    controls.codeChecked = IsChecked(IDC_CODE_CHECK);
    controls.codeAddressText = ControlText(IDC_CODE_ADDRESS);
    controls.resourceChecked = IsChecked(IDC_RESOURCE_CHECK);
    controls.resourceAddressText = ControlText(IDC_RESOURCE_ADDRESS);
    // Armed with Auto on, a socket gets its port when its handset arrives.
    controls.portsMayArrive = m_bContinuous && IsChecked(IDC_AUTO);
    std::string message;
    // The command line's check: every file of the run, and the ports by the devices they are.
    if (PELOR_CheckDownload(controls, m_nPort, &message) == DOWNLOAD_READY) return true;
    // Also "ERR: No File": nothing was started, and the window stays open with the operator's
    // choices as they are.
    m_host.Dialogs().Notice(message);
    return false;
}

void CMainDlg::OnDownload() {
    if (m_bContinuous) {
        OnDownloadContinuous();
        return;
    }
    if (m_bRunning == 1) return;
    if (!FillImagesFromControls()) return;
    PELOR_SetRunOptions(g_nDelay.load(), g_bFormat.load());
    if (PELOR_Start(this, WM_DOWNLOAD_STATUS, m_nPort, g_dwBaudRate.load()) == 0) return;
    m_bRunning = 1;
    EnableControl(IDC_DOWNLOAD, false);
    ResultsRunStarted();
    m_host.DownloadStarted();
    PELOR_Run([this](std::chrono::milliseconds bound) {
        m_host.PumpEvents(bound);
        ResultsPoll();
    });
    if (m_bRunning == 1) {
        EnableControl(IDC_DOWNLOAD, true);
        PELOR_Stop();
        m_bRunning = 0;
    }
    ResultsRunEnded();
}

void CMainDlg::ShowBar(int barId, const std::string& caption, int lower, int upper, int pos) {
    SetControlText(barId, caption);
    m_host.SetBarRange(barId, lower, upper);
    m_host.SetBarPos(barId, pos);  // shown at once when the filled width changes
}

long CMainDlg::OnDownloadStatus(std::uintptr_t wParam, const void* lParam) {
    int channel = -1;
    switch (m_board.Apply(wParam, lParam, &channel)) {
        case StatusBoard::STATION:
            SetControlText(IDC_STATUS_LINE, m_board.station);
            break;
        case StatusBoard::BAR: {
            const BarState& state = m_board.bars[channel];
            ShowBar(kChannelBarIds[channel], state.text, state.lower, state.upper, state.pos);
            m_host.ChannelBarShown(channel);
            break;
        }
        default:
            break;
    }
    return 0;
}

long CMainDlg::OnStatusMessage(unsigned message, std::uintptr_t wParam, const void* lParam) {
    if (message != WM_DOWNLOAD_STATUS) return 0;
    // From the window's own thread (the resource builder, a removal during a run) the message
    // is handled here: a blocking hand-over to itself would never be taken.
    if (m_host.OnWindowThread()) return OnDownloadStatus(wParam, lParam);
    HandOver item;
    item.kind = HandOver::STATUS;
    item.wParam = wParam;
    item.lParam = lParam;
    return HandOverToWindow(item);
}

void CMainDlg::OnAlert(int /*channel*/, const char* text) {
    const std::string alert = text != nullptr ? text : "";
    if (m_host.OnWindowThread()) {
        m_host.Dialogs().Notice(alert);
        return;
    }
    // The box is modal on the window's thread; its own event loop keeps the other channels'
    // messages flowing while this worker waits for the operator.
    HandOver item;
    item.kind = HandOver::ALERT;
    item.text = &alert;
    HandOverToWindow(item);
}

long CMainDlg::HandOverToWindow(HandOver& item) {
    {
        std::lock_guard lock(m_handOver);
        m_pending.push_back(&item);
    }
    // Returns once the window's thread has run DeliverPending, which takes every item queued
    // so far; the wait below covers an item that a nested DeliverPending is still handling.
    const bool invoked = m_host.RunOnWindowThread([this] { DeliverPending(); });
    std::unique_lock lock(m_handOver);
    if (!invoked) {
        const auto queued = std::find(m_pending.begin(), m_pending.end(), &item);
        if (queued != m_pending.end()) {
            m_pending.erase(queued);
            return 0;
        }
    }
    m_handed.wait(lock, [&item] { return item.done; });
    return item.result;
}

void CMainDlg::DeliverPending() {
    for (;;) {
        HandOver* item = nullptr;
        {
            std::lock_guard lock(m_handOver);
            if (m_pending.empty()) return;
            item = m_pending.front();
            m_pending.pop_front();
        }
        long result = 0;
        if (item->kind == HandOver::STATUS) {
            result = OnDownloadStatus(item->wParam, item->lParam);
        } else {
            m_host.Dialogs().Notice(*item->text);
        }
        {
            std::lock_guard lock(m_handOver);
            item->result = result;
            item->done = true;
        }
        m_handed.notify_all();
    }
}
