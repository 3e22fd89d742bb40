#pragma once
// A session of the window without hardware: simulated handsets on pseudo-terminals given to
// the first channels, a demo image set when the job's code folder does not exist, and
// optionally an unattended run that saves a picture of the window in the middle of it.
// The session's ports and images are not saved on closing.
#include <QObject>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QtMainDlg;
class SimHandset;

struct SimulationOptions {
    int handsets = 1;              // channels 0 .. handsets-1
    std::uint32_t baud = 1382400;  // UART pacing of the handsets; 0 = as fast as they can
    std::uint32_t amssBytes = 3 * 512 * 1024;  // AMSS image of a generated demo set
    std::string screenshot;                    // PNG to save during an unattended run; empty = none
    // Pulls the cable of one handset during the run: its channel, and how long after Download
    // started. -1 = none.
    int unplugChannel = -1;
    std::chrono::milliseconds unplugAfter{0};
};

class StationSimulation : public QObject {
    Q_OBJECT

public:
    StationSimulation(QtMainDlg& dlg, SimulationOptions options);
    ~StationSimulation() override;
    StationSimulation(const StationSimulation&) = delete;
    StationSimulation& operator=(const StationSimulation&) = delete;

    // Starts the handsets, gives them ports and channels, supplies images when needed, and
    // with a screenshot path schedules the unattended run for when the window's event loop
    // starts. With Auto on the handsets arrive as devices do, and Auto assigns them; with Auto
    // off channel n gets handset n's port as if chosen by hand. 1 on success; 0 with *error.
    int Start(std::string* error);

    // Pulls handset channel's cable and announces the removal to the window, as the device
    // watcher would. Once per handset.
    void Unplug(int channel);

    // The unattended run: presses Download, saves the picture during the run (or after it,
    // when the AMSS image showed no progress past 40 %), then ends the dialog.
    void RunUnattended();

    // 0 when the screenshot was saved and every channel finished; 1 otherwise.
    int ExitCode() const;
    // What the session has to say at the end (where the picture went, or why it did not).
    const std::string& Message() const { return message_; }
    // The simulated handset of a channel (null beyond the session's handsets).
    SimHandset* Handset(int channel) const;
    // The folder of a generated demo image set; empty when the job's images were used.
    const std::string& DemoFolder() const { return demoRoot_; }

private:
    int UseDemoImages(std::string* error);
    void OnChannelBar(int channel);
    void OnRunStarted();
    void SaveScreenshot();

    QtMainDlg& dlg_;
    const SimulationOptions options_;
    std::vector<std::unique_ptr<SimHandset>> handsets_;
    std::string demoRoot_;
    int shotChannel_ = 0;  // the channel whose AMSS progress times the picture
    bool unplugScheduled_ = false;
    bool shotTaken_ = false;
    bool shotSaved_ = false;
    bool runOk_ = false;
    std::string message_;
};
