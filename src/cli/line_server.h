#pragma once
// `pelor line`: the line at a glance in a browser. A small HTTP server that only reads the
// line's server: GET / (the page), GET /api/line (the view as JSON) and GET /events (the view
// pushed as server-sent events whenever a station signals a change). Built where cpp-httplib is
// found (Linux); other builds say they have no line view.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

struct LineServeOptions {
    std::string results;                    // the server's URL (as --results takes it)
    std::string listen = "127.0.0.1:8080";  // HOST:PORT; port 0 takes any free one
    std::chrono::milliseconds runFor{0};    // 0 = until interrupted (Ctrl-C / SIGTERM)
};

// Serves until interrupted (or runFor, or *stop when given); prints "line view:
// http://HOST:PORT/" on out once listening. kExitOk after a stop; kExitUsage for a wrong URL or
// address, a port in use or a build without the line view (one line on err).
int CLI_ServeLine(const LineServeOptions& options, std::FILE* out, std::FILE* err,
                  const std::atomic<bool>* stop = nullptr);

// The page served at / (line_page.cpp).
const char* CLI_LinePage();
