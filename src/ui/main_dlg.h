#pragma once
// The operator's window: one dialog built from template 103, holding the image rows and
// options, the eight channel rows (port selector and captioned progress bar), the station
// status line and Download. It is also the notification target of a run: workers' status
// messages are handed to the window's thread and the sender waits until they are shown.
// This is what the window does; what draws it is a WindowHost (window_host.h): the Qt window
// (qt_main_dlg.h), the Win32 window (win32/win_main_dlg.h) or the tests' in-memory one.
//
// The handlers are grouped by file:
//   main_dlg.cpp           start-up, shut-down
//   main_dlg_routing.cpp   which control notification runs which handler
//   main_dlg_settings.cpp  ApplySettings, CollectSettings, the row check handlers, Change Boot
//                          Area, Format
//   main_dlg_download.cpp  Download, the status display, the delivery of workers' messages
//   main_dlg_resource.cpp  Create Resource Binary
//   main_dlg_rows.cpp      the file and folder pickers, Erase NAND and the erase options
//   main_dlg_jobs.cpp      Load and Save As of job files
//   main_dlg_ports.cpp     the port selectors, Auto, device arrival and removal
// The folder browser is CFolderBrowser (folder_browser.h).
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "jobs/status.h"
#include "jobs/status_board.h"
#include "results/recorder.h"
#include "results/run_recording.h"
#include "results/socket_state_feed.h"
#include "results/suspect_sockets.h"
#include "transport/channels.h"
#include "window_host.h"

class ContinuousRunner;
struct ContinuousJob;
class UiDialogs;

class CMainDlg : public NotifyTarget {
public:
    // How the process ends on the paths that end it at once (closing during a run). The
    // default flushes the standard streams and ends the process without unwinding.
    using ExitFn = std::function<void(int code)>;

    // host: the controls of template 103, created by the host before OnInitDialog.
    explicit CMainDlg(WindowHost& host);
    ~CMainDlg() override;
    CMainDlg(const CMainDlg&) = delete;
    CMainDlg& operator=(const CMainDlg&) = delete;

    WindowHost& Host() const { return m_host; }

    // --- Controls (through the host) -------------------------------------------------------
    bool IsChecked(int id) const { return m_host.Checked(id); }
    void SetCheck(int id, bool checked) { m_host.SetChecked(id, checked); }
    void EnableControl(int id, bool enabled) { m_host.Enable(id, enabled); }
    std::string ControlText(int id) const { return m_host.Text(id); }
    void SetControlText(int id, const std::string& text) { m_host.SetText(id, text); }

    // --- State -----------------------------------------------------------------------------
    int Running() const { return m_bRunning; }
    int Port(int channel) const { return m_nPort.at(channel); }
    const std::array<int, kChannels>& Ports() const { return m_nPort; }
    // Jobs put on record this session (main_dlg_results.cpp); the status line shows them.
    int ResultsDone() const;
    int ResultsFailed() const;
    // Simulated handsets: their jobs are not jobs of the line and are not recorded.
    void KeepNoResults() { m_bKeepResults = false; }
    // Gives a channel a port as an automatic assignment does: the selector shows it (index =
    // port number; no entry above 30), the bar reads "Ready..." and Download is enabled.
    void SetChannelPort(int channel, int port);

    // --- Start-up and shut-down ------------------------------------------------------------
    // The controls exist: their initial state, the settings loaded. The host calls it once.
    bool OnInitDialog();
    void SetExitHandler(ExitFn exitFn);
    // Whether closing the idle window saves the settings file and the job file (it does,
    // unless a simulated session turned it off).
    void SetSaveOnClose(bool save) { m_bSaveOnClose = save; }
    // Production mode (main_dlg_continuous.cpp): Download arms the station, and each channel
    // runs a job whenever a handset arrives on its port, until Download ("Stop") is pressed
    // again.
    void SetContinuous(bool on) { m_bContinuous = on; }
    bool Armed() const { return m_bArmed; }
    // The operator closes the window (Escape, the close box). Idle: the settings are saved and
    // true tells the host to close. During a run the channels are stopped, each job goes on
    // record as it ends (one that does not end within the bound as stopped, "window closed"),
    // nothing is saved and the process ends through the exit handler; false (when that
    // handler returns).
    bool OnClose();
    // The system ends the station (SIGTERM, SIGHUP, the user logging out): as OnClose, but the
    // jobs cut off are recorded as stopped by "station ended"; idle, true tells the host to
    // close as after OnClose.
    bool OnEndSession();
    // During a run the window does no dialog keyboard handling (Escape does not close it).
    bool DialogKeysEnabled() const { return m_bRunning == 0; }

    // --- Which notification runs which handler (main_dlg_routing.cpp) ----------------------
    // A button was clicked (a check box or radio button has already changed its state).
    // False for an id without a handler.
    bool OnCommand(int id);
    // The operator chose an entry of a drop-down list, also the one it already showed.
    bool OnSelectionChange(int id);
    // The operator acknowledges a suspect socket (a double-click on its bar): its flag and its
    // jobs so far are forgotten. False when it was not suspect.
    bool OnAcknowledgeSuspect(int channel);

    // --- Settings transfer and the handlers that start-up needs (main_dlg_settings.cpp) ----
    void ApplySettings(const char* jobFile);
    // Takes the ports and the texts that live only in controls into the globals and saves
    // the settings file, and the job file when it is the one the window loaded (or Save As
    // chose). 1 when both were written (a read-only file is left alone and counts as written).
    int CollectSettings();
    void OnCodeCheck();
    void OnFontCheck();
    void OnDataCheck();
    void OnEtc1Check();
    void OnResourceCheck();
    void OnChangeBootArea();
    void OnFormat();
    // Dialog data exchange of the four int members bound to buttons: true takes them from
    // the buttons, false puts them into the buttons.
    void UpdateData(bool saveAndValidate);

    // --- Download and the status display (main_dlg_download.cpp) ---------------------------
    void OnDownload();
    // The Download's check (the command line's: every file, the ports) and the image tables
    // filled from the rows' controls; false after telling the operator why nothing starts.
    bool FillImagesFromControls();
    void OnDownloadContinuous();
    void ShowJobResult(const ContinuousJob& job);
    void ShowLineTotals();
    void OnArmedPortChange(int channel, int port);
    void OnArmedRemoval(int channel);
    // A socket going bad (main_dlg_suspects.cpp): the flags start afresh when the station is
    // armed; each job that ends is judged, and the bars and the status line show the flags.
    void SuspectsArmed();
    void JudgeSocket(const ContinuousJob& job);
    void ShowSuspectBars();
    // "; suspect: ch2 (double-click its bar to acknowledge)", or empty.
    std::string SuspectStatus() const;
    // WM_DOWNLOAD_STATUS on the window's thread; always returns 0.
    long OnDownloadStatus(std::uintptr_t wParam, const void* lParam);
    // NotifyTarget: called on a worker's thread (or the window's own); returns after the
    // window has shown the message.
    long OnStatusMessage(unsigned message, std::uintptr_t wParam, const void* lParam) override;
    void OnAlert(int channel, const char* text) override;

    // --- Job records (main_dlg_results.cpp) ------------------------------------------------
    // Around a run: takes what it sends, records each channel's job as it ends, and shows the
    // session's count (and any recording problem) on the status line at the end.
    void ResultsRunStarted();
    void ResultsPoll();
    void ResultsRunEnded();
    // Production mode: the session starts when the station is armed; each job is seen as it
    // starts (from the runner's pump) and recorded as it ends.
    void ResultsSessionStarted();
    void ResultsJobsStarted();
    void ResultsJobEnded(const ContinuousJob& job);
    // The window closes during a run, its channels stopped: each job is recorded as it ends
    // (the window's events are handled meanwhile, for the jobs' last texts), for up to half a
    // second; each one still running then as stopped (reason), and the server is given what is
    // left of the second; the rest waits on the station.
    void ResultsCutOff(const std::string& reason);
    // Recording to a line's server, each socket's state is published for the line view: the
    // running jobs' bars (from the run's pump), the suspect badges, and 'off' when the window
    // ends (within bound).
    void PublishBars();
    void PublishSuspects();
    void PublishOff(std::chrono::milliseconds bound);

    // --- Create Resource Binary (main_dlg_resource.cpp) ------------------------------------
    void OnCreateResourceBinary();

    // --- Image rows and options (main_dlg_rows.cpp) ----------------------------------------
    void OnPickCodeFolder();
    void OnPickFontFile();
    void OnPickDataFile();
    void OnPickEtc1File();
    void OnPickResourceFile();
    void OnEraseNand();
    void OnEraseNone();
    void OnEraseAll();
    void OnEraseExceptBackup();

    // --- Job files (main_dlg_jobs.cpp) -----------------------------------------------------
    void OnLoadJob();
    void OnSaveJobAs();

    // --- Ports (main_dlg_ports.cpp) --------------------------------------------------------
    void OnSelchangePort(int channel);
    void OnAutoDetect();
    // A serial device arrived or was removed: its port number, as the operating system's
    // device-change broadcast names it.
    void OnDeviceArrival(int port);
    void OnDeviceRemoval(int port);
    // The same for a device named by its path (the device watcher, the simulated session):
    // an arrival gives the device its port number in the port table (a new one is kept), a
    // removal of a device without a number is not this station's business.
    void OnDeviceArrived(const std::string& device);
    void OnDeviceRemoved(const std::string& device);
    // The serial devices present when the window starts (the host calls it once, after
    // OnInitDialog): with Auto on, each is given a channel as if it had just arrived, in port
    // order. A notice of the settings' load keeps the status line.
    void OnDevicesPresent(const std::vector<std::string>& devices);
    // Puts the port table's devices into the selectors' entries ("COM3 ttyUSB0") and tips.
    // Where port n is COMn itself (Windows) the entries are the plain "COMn".
    void RefreshPortSelectors();

protected:
    int m_bRunning = 0;
    std::array<int, kChannels> m_nPort{};
    int m_nEraseNone = 1;
    int m_nEraseAll = 0;
    int m_nEraseExceptBackup = 0;
    int m_bFormat = 1;

private:
    // Closing the idle window: the settings are saved.
    void OnDestroy();
    // The recorder, made at the first run.
    void ResultsOpen();
    // Ends the process during a run: the channels stopped, their jobs on record (reason for
    // those that do not end in time), then the exit handler.
    void EndRun(const std::string& reason);
    // A channel's captioned bar: caption, then range and position.
    void ShowBar(int barId, const std::string& caption, int lower, int upper, int pos);
    // What the settings' loads and saves refused, on the status line.
    void ShowSettingsNotices();
    // During a run (armed included) the run's inputs stay put: true, with a status line saying
    // that what (the control) waits until the run has ended.
    bool RefusedDuringRun(const char* what);
    // Enables or disables Download; during a run it stays disabled until the run ends.
    void EnableDownload(bool enabled);
    bool AnyPort() const;
    // Channel loses its port: selector to "-----------" and enabled; the bar's text emptied
    // unless keepText.
    void ClearChannelPort(int channel, bool keepText);
    // A channel's selector shows port (no entry above 30).
    void ShowPort(int channel, int port);
    // The selector's tip names the device of its current entry.
    void UpdatePortTip(int channel);
    // Puts a picked path into a text setting of the given capacity; a path that does not fit
    // is refused with a notice rather than cut (0).
    int TakePath(const std::string& path, char* setting, std::size_t capacity);
    // The open-file dialog of a row's "...": the file goes into the setting and the bar's
    // text. 1 when a file was taken (its path in *chosen when given).
    int PickFile(const char* filter, const char* defExt, char* setting, std::size_t capacity,
                 int bar, std::string* chosen = nullptr);

    // A worker's message or alert waiting for the window's thread; it lives on the worker's
    // stack until the worker has seen done.
    struct HandOver {
        enum Kind { STATUS, ALERT } kind = STATUS;
        std::uintptr_t wParam = 0;
        const void* lParam = nullptr;
        const std::string* text = nullptr;
        long result = 0;
        bool done = false;  // guarded by m_handOver
    };
    // Queues the item, has the window's thread handle it (the worker blocks meanwhile) and
    // returns the handler's result.
    long HandOverToWindow(HandOver& item);
    // On the window's thread: handles every queued item in order.
    void DeliverPending();

    WindowHost& m_host;
    StatusBoard m_board;
    bool m_bKeepResults = true;
    bool m_bEnding = false;  // EndRun is under way (its events may ask to close again)
    std::unique_ptr<ResultsRecorder> m_results;  // made at the first Download
    std::unique_ptr<RunRecording> m_resultsRun;
    std::unique_ptr<SocketStateFeed> m_published;  // made with m_results
    std::string m_stationTextBeforeRun;
    ExitFn m_exit;
    bool m_bSaveOnClose = true;
    bool m_bContinuous = false;
    bool m_bArmed = false;                      // production mode: Download has armed it
    ContinuousRunner* m_pContinuous = nullptr;  // the armed station's runner
    std::unique_ptr<SocketWatch> m_suspects;    // made when the station is armed
    // The hand-over between workers and the window's thread. The host wakes the window's
    // thread and holds the worker; the items themselves pass through this queue under the
    // mutex, so that their data is visibly published to the window's thread and handled before
    // the worker goes on (race checkers see it too).
    std::mutex m_handOver;
    std::condition_variable m_handed;
    std::deque<HandOver*> m_pending;  // guarded by m_handOver
};

// The port number of a device-change broadcast's port name: the decimal number from its fourth
// character on ("COM7" -> 7); 0 when there is none.
int UI_PortNumberFromName(const std::string& name);
// How a selector entry names a device: "ttyUSB0" for /dev/ttyUSB0 or a link to it, "pts3" for
// the pseudo-terminal /dev/pts/3.
std::string UI_PortDeviceName(const std::string& device);
