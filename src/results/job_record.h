#pragma once
// One channel job as the station keeps it on record: who, where, when, what went in, and how it
// ended. The same record is a row of the station's own store and of a line's shared server.
#include <cstdint>
#include <string>
#include <vector>

struct RecordedImage {
    std::string name;  // file name without its folder
    std::int64_t size = 0;
    std::string sha256;  // lower-case hexadecimal; empty when the file could not be read
    bool operator==(const RecordedImage&) const = default;
};

inline constexpr const char* kResultDone = "done";
inline constexpr const char* kResultFailed = "failed";

struct JobRecord {
    std::string jobId;    // UUID, lower case
    std::string station;  // the station's name (host name unless set)
    int channel = 0;
    std::string port;       // the port as the run named it (a device path, COMn)
    std::string device;     // its stable name (the /dev/serial/by-path link where there is one)
    std::string startedAt;  // UTC, "YYYY-MM-DDTHH:MM:SS.mmmZ"
    std::string endedAt;
    std::vector<RecordedImage> images;
    bool boot = false;            // Change Boot Area
    std::string erase = "none";   // none | all | except-backup
    bool format = true;           // format (true) or only initialise the handset's file system
    std::string resourceAddress;  // hexadecimal text as given
    std::int64_t bytesSent = 0;
    std::string result;      // "done" or "failed"
    std::string lastText;    // the bar's last text
    std::string failStep;    // where a failed job stopped, when known
    std::string failReason;  // why, when known
    std::string version;     // the station software's version
    bool operator==(const JobRecord&) const = default;
};

// The images as one JSON array text ([{"name":..,"size":..,"sha256":..}]) and back.
std::string RESULTS_ImagesToJson(const std::vector<RecordedImage>& images);
// False when the text is not such an array.
bool RESULTS_ImagesFromJson(const std::string& text, std::vector<RecordedImage>* images);

// Milliseconds since 1970 as "YYYY-MM-DDTHH:MM:SS.mmmZ", and back (false on a malformed text;
// a text without milliseconds or with a " " instead of "T" reads too).
std::string RESULTS_FormatUtc(std::int64_t unixMs);
bool RESULTS_ParseUtc(const std::string& text, std::int64_t* unixMs);
std::int64_t RESULTS_NowUnixMs();
// A random (version 4) UUID in lower case.
std::string RESULTS_NewJobId();
