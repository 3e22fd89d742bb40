#pragma once
// The operator's window drawn with Qt Widgets: the controls of template 103 as widgets placed in
// dialog units, a WindowHost for the window's logic (CMainDlg, which it also is), the Qt message
// boxes and pickers, and the device watcher's reports routed to the logic.
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QRect>
#include <array>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dialog_template.h"
#include "main_dlg.h"
#include "window_host.h"

class QAbstractButton;
class QComboBox;
class QLabel;
class QLineEdit;
class CCaptionProgressCtrl;
class DeviceWatcher;
class EndSignals;
class UiDialogs;

class QtMainDlg : public QDialog, public WindowHost, public CMainDlg {
    Q_OBJECT

public:
    // Creates the controls from the template and initialises the dialog (settings loaded).
    // dialogs: the message boxes and pickers to use; null = the real Qt dialogs.
    explicit QtMainDlg(UiDialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~QtMainDlg() override;

    // --- The widgets -----------------------------------------------------------------------
    QWidget* Control(int id) const;  // null for an unknown id
    QAbstractButton* Button(int id) const;
    QLineEdit* Edit(int id) const;
    QComboBox* Combo(int id) const;
    CCaptionProgressCtrl* Bar(int id) const;
    QLabel* Label(int id) const;
    CCaptionProgressCtrl* ChannelBar(int channel) const { return m_ChannelBars.at(channel); }
    QComboBox* PortSelector(int channel) const { return m_PortSelectors.at(channel); }
    const DialogUnits& Units() const { return m_units; }

    // The watcher's arrivals and removals go to OnDeviceArrived and OnDeviceRemoved.
    void ConnectDeviceWatcher(DeviceWatcher& watcher);
    // From now on SIGTERM, SIGHUP and SIGINT, and the desktop session ending, end the station
    // as closing the window does (OnEndSession): a run's jobs go on record first.
    void EndOnSystemRequests();

    // --- WindowHost ------------------------------------------------------------------------
    std::string Text(int id) const override;
    void SetText(int id, const std::string& text) override;
    bool Checked(int id) const override;
    void SetChecked(int id, bool checked) override;
    bool Enabled(int id) const override;
    void Enable(int id, bool enabled) override;
    bool Shown(int id) const override;
    void Show(int id, bool shown) override;
    void SetTip(int id, const std::string& tip) override;
    void SetItems(int id, const std::vector<ListItem>& items) override;
    int Selection(int id) const override;
    void Select(int id, int index) override;
    void SetBarRange(int id, int lower, int upper) override;
    void SetBarPos(int id, int pos) override;
    void SetCaption(const std::string& caption) override;
    UiDialogs& Dialogs() override { return *m_dialogs; }
    bool OnWindowThread() const override;
    bool RunOnWindowThread(const std::function<void()>& task) override;
    void PumpEvents(std::chrono::milliseconds bound) override;
    void ChannelBarShown(int channel) override { emit ChannelBarChanged(channel); }
    void DownloadStarted() override { emit RunStarted(); }

signals:
    // A status message changed channel's bar (text, range and position are already set).
    void ChannelBarChanged(int channel);
    // Download has started the channels (Running() is 1).
    void RunStarted();

protected:
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;
    // A double-click on a channel's bar acknowledges its socket's suspect flag.
    bool eventFilter(QObject* watched, QEvent* event) override;
#if defined(_WIN32)
    // The device-change broadcast reaches the window here.
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

private:
    void CreateControls();
    void RouteNotifications();

    std::unique_ptr<EndSignals> m_endSignals;
    std::unique_ptr<UiDialogs> m_ownDialogs;
    UiDialogs* m_dialogs = nullptr;
    DialogUnits m_units;
    QIcon m_hIcon;
    std::vector<std::unique_ptr<QWidget>> m_controls;  // template order
    std::vector<std::pair<int, QWidget*>> m_byId;
    std::array<CCaptionProgressCtrl*, kChannels> m_ChannelBars{};
    std::array<QComboBox*, kChannels> m_PortSelectors{};
    // Per edit: the text it showed when the logic set it, and the bytes it was set to.
    std::map<int, std::pair<QString, std::string>> m_editBytes;
};

// Dialog units of a Qt font.
DialogUnits UI_DialogUnits(const QFont& font);
// "MS Sans Serif" at 9 points where it is installed, otherwise the system's sans-serif at 9.
QFont UI_DialogFont();
QRect UI_QRect(const DialogRect& r);
