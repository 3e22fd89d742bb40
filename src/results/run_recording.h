#pragma once
// The recording of one Download: what the run sends (images with their digests, options) is
// taken when it starts, and each channel's job is put on record as soon as it has ended, so a
// crash later in the run loses nothing already finished. Both front ends call Poll from their
// run's pump and Finish when the run is over.
#include <array>
#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "results/job_record.h"
#include "transport/channels.h"

class ResultsRecorder;

// A channel's last bar text, as the front end shows it.
using BarTextOf = std::function<std::string(int channel)>;

class RunRecording {
public:
    // ports: each channel's port as the run names it (empty = not in the run). Takes the images
    // from the image table and the options from the settings; call it after the image table is
    // filled and PELOR_Start has run.
    RunRecording(ResultsRecorder& recorder, const std::array<std::string, kChannels>& ports);

    // Records every channel whose job has ended since the last call.
    void Poll(const BarTextOf& barText);
    // Records the channels not recorded yet (the run is over).
    void Finish(const BarTextOf& barText);
    // The record a channel would get now (tests).
    JobRecord Build(int channel, bool ok, const std::string& lastText) const;

private:
    void RecordChannel(int channel, int result, const BarTextOf& barText);

    ResultsRecorder& recorder_;
    std::array<std::string, kChannels> ports_;
    std::array<bool, kChannels> pending_{};
    std::array<std::string, kChannels> jobIds_;
    std::int64_t startMs_ = 0;
    // The digests are taken beside the run (a large image takes a while), and waited for when
    // the first job ends.
    std::future<std::vector<RecordedImage>> digests_;
    std::vector<RecordedImage> images_;
    bool boot_ = false;
    std::string erase_;
    bool format_ = true;
    std::string resourceAddress_;
};

// The files the run sends (channel 0's table; every channel gets the same); "Dummy" slots
// carry no file and are left out.
std::vector<std::string> RESULTS_FilesOfRun();
// Each file's name, size and digest (a digest is read once per file, size and change time).
std::vector<RecordedImage> RESULTS_DescribeImages(const std::vector<std::string>& paths);
// A port's stable name: the /dev/serial/by-path link that leads to it where there is one,
// else the name as given; on Windows the COM port's name (COM5 for \\.\COM5).
std::string RESULTS_StableDeviceName(const std::string& port);
