#pragma once
// The station's settings globals and their loading from and saving to the settings file
// "pelorw.ini" (section "PELOR") and the job file (".plr", section "PELOR").
#include <array>
#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

inline constexpr const char* kSettingsFileName = "pelorw.ini";
inline constexpr const char* kDefaultJobFileName = "default.plr";
inline constexpr const char* kSettingsSection = "PELOR";
inline constexpr int kDefaultDelayMs = 2;
inline constexpr int kDefaultBaudRate = 1382400;
// One port setting per channel of the station ("CH0_PORT".."CH7_PORT").
inline constexpr int kPortChannels = 8;

extern char g_szWorkDir[261];
extern char g_szJobFile[264];
extern std::atomic<int> g_bAutoDetect;
extern std::array<int, kPortChannels> g_nChPort;
extern std::atomic<int> g_nDelay;  // ms before every write to a port; read by the workers
extern std::atomic<int> g_dwBaudRate;
extern int g_bChangeBootArea;
extern int g_bEraseAllNand;
extern int g_bEraseNand;
extern int g_bCodeCheck;
extern char g_szCodeFile[261];
extern char g_szCodeAddress[34];
extern char g_szImagePath[261];
extern int g_bFontCheck;
extern char g_szFontFile[261];
extern char g_szFontAddress[35];
extern int g_bDataCheck;
extern char g_szDataFile[261];
extern char g_szDataAddress[35];
extern int g_bEtc1Check;
extern char g_szEtc1File[261];
extern char g_szEtc1Address[35];
extern int g_bEtc2Check;
extern char g_szEtc2File[261];
extern char g_szEtc2Address[35];
extern char g_szImageBaseName[52];
extern char g_szImageFolder[1024];
extern std::atomic<int> g_bFormat;  // 1 at start; read by the workers at slot 13

// Copies text into a fixed buffer, cut to capacity - 1 characters; always NUL-terminates.
void SETTINGS_CopyText(char* out, std::size_t capacity, const char* text);
template <std::size_t N>
void SETTINGS_CopyText(char (&out)[N], const char* text) {
    SETTINGS_CopyText(out, N, text);
}
template <std::size_t N>
void SETTINGS_CopyText(char (&out)[N], const std::string& text) {
    SETTINGS_CopyText(out, N, text.c_str());
}

// Stores the process's current directory in g_szWorkDir.
void SETTINGS_InitDirectory();
// Settings file path: g_szWorkDir joined with "pelorw.ini".
std::string SETTINGS_FilePath();
// Reads the settings file, then the job file (jobFile, or "PELORFILE", or "default.plr"). A job
// file that is not there (but the default one) or cannot be read leaves the defaults, and a
// notice names it; a read-only one is named too.
int SETTINGS_Load(const char* jobFile);
// Writes the settings file, then (when writeJob) the job file. 1 on success, 0 when a write
// failed. A path that the last load refused as too long is left in its file as it stands, unless
// its setting was changed since. A read-only file is not replaced: a notice says so, and it
// counts as written.
int SETTINGS_Save(bool writeJob = true);

// Whether a save may write the job file g_szJobFile names now: it is the one the last load read
// (or the one SETTINGS_TakeJobFile chose), not locked, and a default job file not made yet is
// still missing. A file the station did not load is never replaced by its defaults.
bool SETTINGS_MayWriteJob();
// The operator chose path to save the job to (Save As): it becomes g_szJobFile and may be
// written. 0 when the path does not fit.
int SETTINGS_TakeJobFile(const std::string& path);
// What the last loads and saves refused and why ("CODEFILE ignored: its path is 300 characters,
// at most 260 fit", "job file x.plr not found: ..."), each once; for the status line.
std::vector<std::string> SETTINGS_TakeNotices();
// Whether a job file's row check key ("CODECHECK", "ETC2CHECK", ...) ticks its row, as the window
// reads it: any number but 0 does ("CODECHECK=2" too); an absent key gives the row's default
// (Code ticked, every other row not). The window's load and `pelor flash --job` both read so.
bool SETTINGS_JobRowChecked(const std::string& jobFile, const char* checkKey);
// Production mode's settle time after GO, in ms: the "SETTLE" key of the settings file at path,
// or fallbackMs when it is absent or out of 0..600000 (ten minutes). 0 turns the settle time off.
int SETTINGS_RestartSettleMs(const std::string& path, int fallbackMs);
// g_szImageFolder = g_szCodeFile; g_szImageBaseName = separator + last component.
void SETTINGS_SplitCodePath();
// Puts every global back to its value at program start (tests, and a fresh start).
void SETTINGS_ResetGlobals();
