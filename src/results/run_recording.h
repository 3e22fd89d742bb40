#pragma once
// The recording of one Download, or of a production session: what the jobs send (images with
// their digests, options) is taken when it starts, and each channel's job is put on record as
// soon as it has ended, so a crash later loses nothing already finished. In a Download both
// front ends call Poll from their run's pump and Finish when the run is over; in production
// mode they tell of each job's start and end. A run cut off (the window closed, a second
// interrupt) is Cut: the ended jobs get their rows and each job still running a failed one.
#include <array>
#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "results/job_record.h"
#include "transport/channels.h"

class ResultsRecorder;

// A channel's last bar text, as the front end shows it.
using BarTextOf = std::function<std::string(int channel)>;

class RunRecording {
public:
    // A Download: ports names each channel's port as the run names it (empty = not in the
    // run), and each channel with a port runs one job from now. Takes the images from the image
    // table and the options from the settings; call it after the image table is filled and
    // PELOR_Start has run.
    RunRecording(ResultsRecorder& recorder, const std::array<std::string, kChannels>& ports);
    // Production mode: jobs come and go on the sockets (JobStarted, JobEnded). Call it after the
    // image table is filled.
    explicit RunRecording(ResultsRecorder& recorder);

    // Records every channel whose job has ended since the last call.
    void Poll(const BarTextOf& barText);
    // Records the channels not recorded yet (the run is over).
    void Finish(const BarTextOf& barText);
    // Production mode: a job starts on channel's port (startMs: milliseconds since 1970).
    void JobStarted(int channel, const std::string& port, std::int64_t startMs);
    // Production mode: the channel's job has ended and its worker is done; its outcome and bytes
    // are the channel's.
    void JobEnded(int channel, bool ok, const std::string& lastText);
    // True while a job of the channel is not on record yet.
    bool InFlight(int channel) const { return IsChannel(channel) && pending_[channel]; }
    // The run is cut off: every job that has ended is recorded as it ended, every job still
    // running as failed at step "stopped" for reason ("window closed", "interrupted").
    void Cut(const std::string& reason, const BarTextOf& barText);
    // Called with each record as it is put on record (the front ends publish the job's end).
    void OnRecorded(std::function<void(const JobRecord&)> hook) { recorded_ = std::move(hook); }
    // The record a channel would get now (tests).
    JobRecord Build(int channel, bool ok, const std::string& lastText) const;

private:
    // What every record of the channel's current job holds: who, where, when, what went in.
    JobRecord Base(int channel) const;
    void RecordChannel(int channel, int result, const BarTextOf& barText);
    void Put(const JobRecord& record);
    void TakeImages();

    ResultsRecorder& recorder_;
    std::function<void(const JobRecord&)> recorded_;
    std::array<std::string, kChannels> ports_;
    std::array<bool, kChannels> pending_{};
    std::array<std::string, kChannels> jobIds_;
    std::array<std::int64_t, kChannels> startMs_{};
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
