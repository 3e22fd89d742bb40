// The settings globals, the settings file "pelorw.ini" and the job file.
#include "config/settings.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "config/atomic_file.h"
#include "config/ini_file.h"
#include "config/paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

// Values at program start. The job values are those a job file without any key gives; the
// code address is the one every job load sets.
#ifdef _WIN32
#define PELOR_DEFAULT_CODE_FILE "\\WZRTAll"
#else
#define PELOR_DEFAULT_CODE_FILE "/WZRTAll"
#endif
#define PELOR_DEFAULT_CODE_ADDRESS "18000"
#define PELOR_DEFAULT_FONT_FILE "HLNFONT.FNT"
#define PELOR_DEFAULT_FONT_ADDRESS "0"
#define PELOR_DEFAULT_DATA_FILE "HLNDATA.DAT"
#define PELOR_DEFAULT_DATA_ADDRESS "1400000"

char g_szWorkDir[261] = "";
char g_szJobFile[264] = "";
std::atomic<int> g_bAutoDetect{1};
std::array<int, kPortChannels> g_nChPort{};
std::atomic<int> g_nDelay{kDefaultDelayMs};
std::atomic<int> g_dwBaudRate{kDefaultBaudRate};
int g_bChangeBootArea = 0;
int g_bEraseAllNand = 0;
int g_bEraseNand = 0;
int g_bCodeCheck = 1;
char g_szCodeFile[261] = PELOR_DEFAULT_CODE_FILE;
char g_szCodeAddress[34] = PELOR_DEFAULT_CODE_ADDRESS;
char g_szImagePath[261] = "";
int g_bFontCheck = 0;
char g_szFontFile[261] = PELOR_DEFAULT_FONT_FILE;
char g_szFontAddress[35] = PELOR_DEFAULT_FONT_ADDRESS;
int g_bDataCheck = 0;
char g_szDataFile[261] = PELOR_DEFAULT_DATA_FILE;
char g_szDataAddress[35] = PELOR_DEFAULT_DATA_ADDRESS;
int g_bEtc1Check = 0;
char g_szEtc1File[261] = "";
char g_szEtc1Address[35] = "";
int g_bEtc2Check = 0;
char g_szEtc2File[261] = "";
char g_szEtc2Address[35] = "";
char g_szImageBaseName[52] = PELOR_DEFAULT_CODE_FILE;
char g_szImageFolder[1024] = PELOR_DEFAULT_CODE_FILE;
std::atomic<int> g_bFormat{1};

namespace {

// Read capacities of the files' text keys (characters + 1). Paths are read whole, up to
// kPathProbeCapacity, so that one too long for its setting is seen as such and never cut.
constexpr std::size_t kAddressReadCapacity = 32;
constexpr std::size_t kPathProbeCapacity = 32768;

// Paths the last load refused as too long: key -> the value the setting kept instead. A save
// leaves those keys as the file has them unless the setting has changed since.
std::mutex g_refusedLock;
std::map<std::string, std::string> g_refused;
std::vector<std::string> g_notices;

// kept: the value the setting keeps instead, to leave the file's own value alone at the next
// save; nullptr when the path came from elsewhere than the file.
void Refuse(const char* key, const std::string& value, std::size_t capacity, const char* kept) {
    std::lock_guard lock(g_refusedLock);
    if (kept != nullptr) g_refused[key] = kept;
    g_notices.push_back(std::string(key) + " ignored: its path is " + std::to_string(value.size()) +
                        " characters, at most " + std::to_string(capacity - 1) + " fit");
}

// True when a save may write key with this value: the key was not refused at load, or the
// setting has changed since.
bool MayWrite(const char* key, const char* value) {
    std::lock_guard lock(g_refusedLock);
    const auto it = g_refused.find(key);
    return it == g_refused.end() || it->second != value;
}

constexpr const char* kPortKeys[kPortChannels] = {"CH0_PORT", "CH1_PORT", "CH2_PORT", "CH3_PORT",
                                                  "CH4_PORT", "CH5_PORT", "CH6_PORT", "CH7_PORT"};

// One image row of the job file.
struct JobRow {
    const char* checkKey;
    const char* fileKey;
    const char* addressKey;
    int* check;
    char* file;
    std::size_t fileCapacity;
    char* address;
    std::size_t addressCapacity;
    const char* defaultFile;
    const char* defaultAddress;
};

// The FONT, DATA, ETC1 and ETC2 rows, in the order they are read and written.
const JobRow kRows[] = {
    {"FONTCHECK", "FONTFILE", "FONTADDRESS", &g_bFontCheck, g_szFontFile, sizeof g_szFontFile,
     g_szFontAddress, sizeof g_szFontAddress, PELOR_DEFAULT_FONT_FILE, PELOR_DEFAULT_FONT_ADDRESS},
    {"DATACHECK", "DATAFILE", "DATAADDRESS", &g_bDataCheck, g_szDataFile, sizeof g_szDataFile,
     g_szDataAddress, sizeof g_szDataAddress, PELOR_DEFAULT_DATA_FILE, PELOR_DEFAULT_DATA_ADDRESS},
    {"ETC1CHECK", "ETC1FILE", "ETC1ADDRESS", &g_bEtc1Check, g_szEtc1File, sizeof g_szEtc1File,
     g_szEtc1Address, sizeof g_szEtc1Address, "", ""},
    {"ETC2CHECK", "ETC2FILE", "ETC2ADDRESS", &g_bEtc2Check, g_szEtc2File, sizeof g_szEtc2File,
     g_szEtc2Address, sizeof g_szEtc2Address, "", ""},
};

// Reads a path key into a global of its own capacity; a path that does not fit is refused
// (the global keeps its value, and a notice says why), never cut into another path.
void ReadPath(const IniDocument& doc, const char* key, const char* defaultValue, char* out,
              std::size_t outCapacity) {
    std::string buffer(kPathProbeCapacity, '\0');
    const int n =
        doc.GetString(kSettingsSection, key, defaultValue, buffer.data(), kPathProbeCapacity);
    buffer.resize(static_cast<std::size_t>(n));
    if (buffer.size() >= outCapacity) {
        Refuse(key, buffer, outCapacity, out);
        return;
    }
    SETTINGS_CopyText(out, outCapacity, buffer.c_str());
}

// Reads a text key with a read capacity into a global of its own capacity.
void ReadText(const IniDocument& doc, const char* key, const char* defaultValue,
              std::size_t readCapacity, char* out, std::size_t outCapacity) {
    std::string buffer(readCapacity, '\0');
    const int n = doc.GetString(kSettingsSection, key, defaultValue, buffer.data(), readCapacity);
    buffer.resize(static_cast<std::size_t>(n));
    SETTINGS_CopyText(out, outCapacity, buffer.c_str());
}

void ReadSettingsFile(const IniDocument& doc) {
    g_bAutoDetect = doc.GetInt(kSettingsSection, "AUTODETECT", 1);
    for (int ch = 0; ch < kPortChannels; ++ch) {
        g_nChPort[static_cast<std::size_t>(ch)] = doc.GetInt(kSettingsSection, kPortKeys[ch], 0);
    }
    g_nDelay = doc.GetInt(kSettingsSection, "DELAY", kDefaultDelayMs);
    g_dwBaudRate = doc.GetInt(kSettingsSection, "BAUDRATE", kDefaultBaudRate);
}

// A row's check key: 1 for any number but 0, else 0; the Code row is ticked when absent.
int RowCheck(const IniDocument& doc, const char* checkKey) {
    const int defaultValue = std::strcmp(checkKey, "CODECHECK") == 0 ? 1 : 0;
    return doc.GetInt(kSettingsSection, checkKey, defaultValue) != 0 ? 1 : 0;
}

void ReadJobFile(const IniDocument& doc) {
    g_bCodeCheck = RowCheck(doc, "CODECHECK");
    ReadPath(doc, "CODEFILE", PELOR_DEFAULT_CODE_FILE, g_szCodeFile, sizeof g_szCodeFile);
    SETTINGS_SplitCodePath();
    SETTINGS_CopyText(g_szCodeAddress, PELOR_DEFAULT_CODE_ADDRESS);
    for (const JobRow& row : kRows) {
        *row.check = RowCheck(doc, row.checkKey);
        ReadPath(doc, row.fileKey, row.defaultFile, row.file, row.fileCapacity);
        ReadText(doc, row.addressKey, row.defaultAddress, kAddressReadCapacity, row.address,
                 row.addressCapacity);
    }
}

// What the last load found of the job file it named.
enum class JobFileState {
    Loaded,      // read: it may be written back
    NotMadeYet,  // the work folder's default job file, not there: a save makes it
    NotRead,     // missing or unreadable: the defaults were loaded, and it is left alone
    ReadOnly,    // read, but locked: it is left alone
};

// The job file the last load named (or Save As chose), and what was found there.
std::string g_jobPath;
JobFileState g_jobState = JobFileState::NotRead;

void Notice(std::string text) {
    std::lock_guard lock(g_refusedLock);
    g_notices.push_back(std::move(text));
}

// "C:\Pelor\line7.plr" where drive letters mean nothing: a name, not a place.
bool IsForeignDrivePath(const std::string& path) {
#ifdef _WIN32
    (void)path;
    return false;
#else
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
#endif
}

// Reads the job file into the globals and says what became of it. A file that is not there or
// cannot be read leaves the defaults (an empty document).
JobFileState ReadJob(const std::string& path, bool isDefault) {
    IniDocument job;
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    JobFileState state = JobFileState::Loaded;
    std::string why;
    if (!std::filesystem::exists(status)) {
        state = isDefault ? JobFileState::NotMadeYet : JobFileState::NotRead;
        why = IsForeignDrivePath(path) ? "not found (a Windows path)" : "not found";
    } else if (std::filesystem::is_directory(status)) {
        state = JobFileState::NotRead;
        why = "is a folder";
    } else if (!job.Load(path)) {
        state = JobFileState::NotRead;
        why = "could not be read";
    } else if (ATOMIC_IsReadOnly(path)) {
        state = JobFileState::ReadOnly;
    }
    ReadJobFile(job);
    if (state == JobFileState::NotRead) {
        Notice("Job file " + path + " " + why + ": defaults shown, not saved on closing");
    } else if (state == JobFileState::ReadOnly) {
        Notice("Job file " + path + " is read-only: not saved on closing");
    }
    return state;
}

// Loads path, sets the keys and replaces the file once. 0 when the file could not be read or
// written; an unreadable file is left alone rather than replaced by the station's keys alone.
template <typename SetKeys>
int RewriteFile(const std::string& path, SetKeys&& setKeys) {
    if (ATOMIC_IsReadOnly(path)) {
        // Locked on purpose (a line's job): left as it is, as Windows leaves it.
        Notice(path + " is read-only: not replaced");
        return 1;
    }
    IniDocument doc;
    if (!doc.Load(path)) return 0;
    setKeys(doc);
    return doc.Save(path);
}

void SetInt(IniDocument& doc, const char* key, int value) {
    doc.Set(kSettingsSection, key, std::to_string(value));
}

// A file of the work folder; before the folder is known, the name alone (the current folder)
// rather than a path at the root of the file system.
std::string InWorkDir(const char* name) {
    return g_szWorkDir[0] == '\0' ? std::string(name) : JoinPath(g_szWorkDir, name);
}

}  // namespace

void SETTINGS_CopyText(char* out, std::size_t capacity, const char* text) {
    if (out == nullptr || capacity == 0) return;
    if (text == nullptr) text = "";
    std::size_t n = 0;
    while (n + 1 < capacity && text[n] != '\0') ++n;
    std::memmove(out, text, n);
    out[n] = '\0';
}

void SETTINGS_InitDirectory() {
    std::string cwd;
#ifdef _WIN32
    char buffer[MAX_PATH + 1] = {};
    const DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(sizeof buffer), buffer);
    if (n > 0 && n < sizeof buffer) cwd = buffer;
#else
    char buffer[4097] = {};
    if (::getcwd(buffer, sizeof buffer) != nullptr) cwd = buffer;
#endif
    // A directory that does not fit is named relatively rather than cut into another path.
    if (cwd.empty() || cwd.size() >= sizeof g_szWorkDir) cwd = ".";
    SETTINGS_CopyText(g_szWorkDir, cwd);
}

bool SETTINGS_JobRowChecked(const std::string& jobFile, const char* checkKey) {
    IniDocument doc;
    doc.Load(jobFile);  // an unreadable file reads as an empty one, every key at its default
    return RowCheck(doc, checkKey) == 1;
}

int SETTINGS_RestartSettleMs(const std::string& path, int fallbackMs) {
    constexpr int kLongest = 600000;
    // Read as digits only: a word there ("soon") must not turn the settle time off as a 0.
    const std::string text = INI_GetString(path, kSettingsSection, "SETTLE", "");
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return fallbackMs;
    }
    const int value = std::stoi(text);
    return value <= kLongest ? value : fallbackMs;
}

std::string SETTINGS_FilePath() {
    return InWorkDir(kSettingsFileName);
}

int SETTINGS_Load(const char* jobFile) {
    IniDocument settings;
    settings.Load(SETTINGS_FilePath());  // unreadable reads as empty: the defaults apply
    ReadSettingsFile(settings);
    if (ATOMIC_IsReadOnly(SETTINGS_FilePath())) {
        Notice(std::string(kSettingsFileName) + " is read-only: not saved on closing");
    }
    g_jobPath.clear();
    g_jobState = JobFileState::NotRead;

    {
        std::lock_guard lock(g_refusedLock);
        g_refused.clear();
    }
    if (jobFile == nullptr) {
        std::string stored(kPathProbeCapacity, '\0');
        const int n = settings.GetString(kSettingsSection, "PELORFILE", "", stored.data(),
                                         kPathProbeCapacity);
        stored.resize(static_cast<std::size_t>(n));
        if (stored.size() >= sizeof g_szJobFile) {
            // No job file is loaded rather than another one named by the cut path.
            Refuse("PELORFILE", stored, sizeof g_szJobFile, g_szJobFile);
            return 1;
        }
        if (stored.empty()) stored = InWorkDir(kDefaultJobFileName);
        SETTINGS_CopyText(g_szJobFile, stored);
    } else if (std::strlen(jobFile) >= sizeof g_szJobFile) {
        Refuse("PELORFILE", jobFile, sizeof g_szJobFile, nullptr);
        return 1;
    } else {
        SETTINGS_CopyText(g_szJobFile, jobFile);
    }
    if (g_szJobFile[0] == '\0') return 1;

    g_bChangeBootArea = 0;
    g_bEraseAllNand = 0;
    g_bEraseNand = 0;

    g_jobPath = g_szJobFile;
    g_jobState = ReadJob(g_jobPath, g_jobPath == InWorkDir(kDefaultJobFileName));
    return 1;
}

bool SETTINGS_MayWriteJob() {
    if (g_szJobFile[0] == '\0' || g_jobPath != g_szJobFile) return false;
    if (g_jobState == JobFileState::Loaded) return true;
    std::error_code ec;
    return g_jobState == JobFileState::NotMadeYet && !std::filesystem::exists(g_jobPath, ec) && !ec;
}

int SETTINGS_TakeJobFile(const std::string& path) {
    if (path.size() >= sizeof g_szJobFile) return 0;
    SETTINGS_CopyText(g_szJobFile, path);
    g_jobPath = path;
    g_jobState = JobFileState::Loaded;
    return 1;
}

int SETTINGS_Save(bool writeJob) {
    int ok = RewriteFile(SETTINGS_FilePath(), [](IniDocument& doc) {
        SetInt(doc, "AUTODETECT", g_bAutoDetect);
        for (int ch = 0; ch < kPortChannels; ++ch) {
            SetInt(doc, kPortKeys[ch], g_nChPort[static_cast<std::size_t>(ch)]);
        }
        SetInt(doc, "DELAY", g_nDelay);
        SetInt(doc, "BAUDRATE", g_dwBaudRate);
        if (MayWrite("PELORFILE", g_szJobFile)) doc.Set(kSettingsSection, "PELORFILE", g_szJobFile);
    });
    if (g_szJobFile[0] == '\0' || !writeJob) return ok;

    ok &= RewriteFile(g_szJobFile, [](IniDocument& doc) {
        SetInt(doc, "CODECHECK", g_bCodeCheck);
        if (MayWrite("CODEFILE", g_szCodeFile)) doc.Set(kSettingsSection, "CODEFILE", g_szCodeFile);
        for (const JobRow& row : kRows) {
            SetInt(doc, row.checkKey, *row.check);
            if (MayWrite(row.fileKey, row.file)) doc.Set(kSettingsSection, row.fileKey, row.file);
            doc.Set(kSettingsSection, row.addressKey, row.address);
        }
    });
    return ok;
}

std::vector<std::string> SETTINGS_TakeNotices() {
    std::lock_guard lock(g_refusedLock);
    return std::exchange(g_notices, {});
}

void SETTINGS_SplitCodePath() {
    SETTINGS_CopyText(g_szImageFolder, g_szCodeFile);
    std::string base;
    for (const char* p = g_szCodeFile; *p != '\0'; ++p) {
        if (IsPathSeparator(*p)) {
            base.assign(1, kPathSeparator);
        } else {
            base += *p;
        }
    }
    SETTINGS_CopyText(g_szImageBaseName, base);
}

void SETTINGS_ResetGlobals() {
    g_jobPath.clear();
    g_jobState = JobFileState::NotRead;
    g_szWorkDir[0] = '\0';
    g_szJobFile[0] = '\0';
    g_bAutoDetect = 1;
    g_nChPort.fill(0);
    g_nDelay = kDefaultDelayMs;
    g_dwBaudRate = kDefaultBaudRate;
    g_bChangeBootArea = 0;
    g_bEraseAllNand = 0;
    g_bEraseNand = 0;
    g_bCodeCheck = 1;
    SETTINGS_CopyText(g_szCodeFile, PELOR_DEFAULT_CODE_FILE);
    SETTINGS_CopyText(g_szCodeAddress, PELOR_DEFAULT_CODE_ADDRESS);
    g_szImagePath[0] = '\0';
    for (const JobRow& row : kRows) {
        *row.check = 0;
        SETTINGS_CopyText(row.file, row.fileCapacity, row.defaultFile);
        SETTINGS_CopyText(row.address, row.addressCapacity, row.defaultAddress);
    }
    SETTINGS_SplitCodePath();
    g_bFormat = 1;
}
