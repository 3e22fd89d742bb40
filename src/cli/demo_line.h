#pragma once
// `pelor demo --line`: two simulated benches in production mode, one with a socket going bad,
// recording to a PostgreSQL server (the one given, or a throw-away one made for the demo), and
// the line view served from it, until a set time has passed or Ctrl-C.
#include <chrono>
#include <cstdio>
#include <string>

struct DemoLineOptions {
    std::string results;  // the server's URL; empty = a throw-away server made here
    std::string listen = "127.0.0.1:8080";
    std::chrono::milliseconds runFor{0};  // 0 = until interrupted
    std::string program;                  // the pelor that runs the benches; empty = this one
    std::string programsRoot = "/usr/lib/postgresql";  // where the server programs are looked for
};

// The benches and what is asked of them.
inline constexpr int kDemoBenchSockets = 4;
inline constexpr int kDemoBadSocket = 2;  // on the second bench
// How long a bench has to stop once asked: its running jobs finish (the first request); then
// they are stopped and its records closed (the second: a second for the jobs, five for the
// server, as `pelor flash` bounds them); then it is killed.
inline constexpr std::chrono::milliseconds kDemoBenchStopGentle{4000};
inline constexpr std::chrono::milliseconds kDemoBenchStopFirm{7000};

// Returns 0 when the demo ran until its end, 1 when a bench or the server failed, 2 for a usage
// error or no server to record to.
int CLI_RunDemoLine(const DemoLineOptions& options, std::FILE* out, std::FILE* err);

// "30s", "2m", "1h", "500ms", or seconds alone. 1 on success, else 0.
int CLI_ParseRunTime(const std::string& text, std::chrono::milliseconds& time);
