// Many consecutive downloads of eight channels in one process: none fails, and from the first
// runs to the last neither open descriptors nor the heap grow. PELOR_SOAK_RUNS sets the number
// of runs (100 for the full soak; CI runs a shorter one).
//
// The heap is judged by the bytes the allocator has handed out. Resident memory is reported and
// only loosely bounded: the allocator keeps per-thread arenas and freed pages for reuse, and how
// many it keeps depends on the machine's cores, not on what the station holds.
#include <dirent.h>
#include <gtest/gtest.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "jobs/download_plan.h"
#include "jobs/job_test_util.h"

namespace jobs_test {
namespace {

int DescriptorCount() {
    int n = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (dirent* e = ::readdir(dir))
        if (e->d_name[0] != '.') ++n;
    ::closedir(dir);
    return n;
}

long ResidentKiB() {
    long pages = 0, resident = 0;
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return -1;
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = -1;
    std::fclose(f);
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Eight handsets served by a child process, so that what they record does not count as the
// station's memory. Their device paths come back through a pipe.
class ChildHandsets {
public:
    ChildHandsets() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            std::vector<std::unique_ptr<SimHandset>> handsets;
            std::string paths;
            for (int i = 0; i < kChannels; ++i) {
                std::string error;
                handsets.push_back(SimHandset::StartOnPty(SimOptions{}, &error));
                paths += (handsets.back() ? handsets.back()->DevicePath() : "") + "\n";
            }
            [[maybe_unused]] ssize_t w = ::write(fds[1], paths.data(), paths.size());
            ::close(fds[1]);
            ::pause();  // until the parent ends us
            ::_exit(0);
        }
        ::close(fds[1]);
        std::string text;
        char buf[512];
        for (ssize_t n; std::count(text.begin(), text.end(), '\n') < kChannels &&
                        (n = ::read(fds[0], buf, sizeof buf)) > 0;)
            text.append(buf, static_cast<std::size_t>(n));
        ::close(fds[0]);
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            paths_.push_back(text.substr(start, end - start));
    }
    ~ChildHandsets() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    const std::vector<std::string>& paths() const { return paths_; }

private:
    pid_t pid_ = -1;
    std::vector<std::string> paths_;
};

// Bytes in use by the program's heap, or -1 where the allocator does not say.
long long HeapBytesInUse() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
#else
    return -1;
#endif
}

int SoakRuns() {
    const char* text = std::getenv("PELOR_SOAK_RUNS");
    const int runs = text != nullptr ? std::atoi(text) : 12;
    return runs >= 4 ? runs : 4;
}

}  // namespace

TEST(Soak, ConsecutiveDownloadsNeitherFailNorLeak) {
    ChildHandsets child;  // first, while this process has no other thread
    ASSERT_EQ(child.paths().size(), static_cast<std::size_t>(kChannels));
    JobGuard guard;
    TempDir dir;
    CodeSizes sizes;
    sizes.amss = 0x70000 + 8 * kBlockSize + 100;
    MakeCodeFolder(dir, "soak", sizes);
    WriteBytes(dir.File("res.bin"), Pattern(50000, 77));
    SETTINGS_CopyText(g_szEtc2File, dir.File("res.bin"));
    DownloadControls controls;
    controls.codeChecked = true;
    controls.codeAddressText = g_szCodeAddress;
    controls.resourceChecked = true;
    std::string message;

    Ports ports{};
    for (int ch = 0; ch < kChannels; ++ch) {
        ASSERT_FALSE(child.paths()[ch].empty());
        ports[ch] = PORTTABLE_Assign(child.paths()[ch]);
    }
    const int runs = SoakRuns();
    const int settle = runs / 10 > 3 ? runs / 10 : 3;  // the 10th of 100
    int fdsAtSettle = 0;
    long rssAtSettle = 0;
    long long heapAtSettle = 0;
    for (int run = 1; run <= runs; ++run) {
        ASSERT_EQ(PELOR_FillImages(controls, &message), DOWNLOAD_READY) << message;
        Recorder recorder;
        RunChannels(recorder, ports);
        for (int ch = 0; ch < kChannels; ++ch) {
            ASSERT_EQ(g_nChannelResult[ch].load(), 1)
                << "run " << run << " channel " << ch << ": " << recorder.LastText(ch);
        }
        if (run == settle) {
            fdsAtSettle = DescriptorCount();
            rssAtSettle = ResidentKiB();
            heapAtSettle = HeapBytesInUse();
        }
    }
    const int fds = DescriptorCount();
    const long rss = ResidentKiB();
    const long long heap = HeapBytesInUse();
    std::printf(
        "soak: %d runs; descriptors %d -> %d; heap in use %lld -> %lld bytes; "
        "resident %ld KiB -> %ld KiB\n",
        runs, fdsAtSettle, fds, heapAtSettle, heap, rssAtSettle, rss);
    EXPECT_EQ(fds, fdsAtSettle);
    if (heap >= 0 && heapAtSettle > 0) {
        EXPECT_LT(heap - heapAtSettle, 256 * 1024) << "the heap grew by more than 256 KiB";
    }
    EXPECT_LT(rss - rssAtSettle, 16 * 1024) << "resident memory grew by more than 16 MiB";
}

}  // namespace jobs_test
