#include "results_plot.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "config/atomic_file.h"
#include "results/job_record.h"

#ifdef _WIN32
#include <process.h>
#else
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace {

// A text as a gnuplot single-quoted string ('' stands for one quote).
std::string Quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        q += c;
        if (c == '\'') q += '\'';
    }
    return q + "'";
}

// Runs gnuplot on a script file; its exit status, or -1 when it could not be started.
int RunGnuplot(const std::string& script) {
#ifdef _WIN32
    const intptr_t status = _spawnlp(_P_WAIT, "gnuplot", "gnuplot", script.c_str(), nullptr);
    return static_cast<int>(status);
#else
    pid_t pid = 0;
    std::string program = "gnuplot";
    char* argv[] = {program.data(), const_cast<char*>(script.c_str()), nullptr};
    if (posix_spawnp(&pid, "gnuplot", nullptr, nullptr, argv, environ) != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    if (!WIFEXITED(status)) return -2;
    // posix_spawnp reports a missing program through the child's exit status 127.
    return WEXITSTATUS(status) == 127 ? -1 : WEXITSTATUS(status);
#endif
}

}  // namespace

std::string CLI_PlotScript(const std::string& dataPath, const std::string& outputPath) {
    return "set terminal png size 1000,600\n"
           "set output " +
           Quoted(outputPath) +
           "\n"
           "set title 'Jobs per hour and yield'\n"
           "set xdata time\n"
           "set timefmt '%Y-%m-%dT%H:%M'\n"
           "set format x \"%m-%d\\n%H:%M\"\n"
           "set datafile missing '-'\n"
           "set ylabel 'jobs per hour'\n"
           "set y2label 'yield (%)'\n"
           "set yrange [0:*]\n"
           "set y2range [0:105]\n"
           "set ytics nomirror\n"
           "set y2tics\n"
           "set style fill solid 0.4\n"
           "set boxwidth 3000 absolute\n"
           "set key top left\n"
           "plot " +
           Quoted(dataPath) + " using 1:2 with boxes title 'jobs per hour', " + Quoted(dataPath) +
           " using 1:3 axes x1y2 with linespoints title 'yield (%)'\n";
}

std::string CLI_PlotData(const ResultsSummary& summary) {
    std::string data;
    for (const auto& h : summary.hours) {
        char line[96];
        if (h.jobs > 0) {
            std::snprintf(line, sizeof line, "%s %d %.1f\n", h.hour.substr(0, 16).c_str(), h.jobs,
                          RESULTS_Yield(h.jobs, h.failures));
        } else {
            std::snprintf(line, sizeof line, "%s 0 -\n", h.hour.substr(0, 16).c_str());
        }
        data += line;
    }
    return data;
}

int CLI_Plot(const ResultsSummary& summary, const std::string& pngPath, std::string* error) {
    namespace fs = std::filesystem;
    if (summary.hours.empty()) {
        *error = "no jobs to plot";
        return 0;
    }
    std::error_code ec;
    const fs::path folder = fs::temp_directory_path(ec);
    if (ec) {
        *error = "no folder for temporary files: " + ec.message();
        return 0;
    }
    const std::string stem = (folder / ("pelor-plot-" + RESULTS_NewJobId())).string();
    const std::string data = stem + ".dat", script = stem + ".gp";
    // Drawn beside the destination, then renamed into place: never a half-drawn picture.
    const std::string temporary = pngPath + ".part";
    int ok = 0;
    if (ATOMIC_WriteFile(data, CLI_PlotData(summary), error) == 1 &&
        ATOMIC_WriteFile(script, CLI_PlotScript(data, temporary), error) == 1) {
        const int status = RunGnuplot(script);
        if (status == -1) {
            *error = "gnuplot is not installed (Debian: apt install gnuplot-nox); nothing drawn";
        } else if (status != 0 || !fs::exists(temporary, ec)) {
            *error = "gnuplot could not draw " + pngPath;
        } else {
            fs::rename(temporary, pngPath, ec);
            if (ec) *error = "cannot write " + pngPath + ": " + ec.message();
            ok = ec ? 0 : 1;
        }
    }
    fs::remove(data, ec);
    fs::remove(script, ec);
    fs::remove(temporary, ec);
    return ok;
}
