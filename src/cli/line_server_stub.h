#pragma once
// Temporary: the line view's server as agreed, until it is merged.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

struct LineServeOptions {
    std::string results;
    std::string listen = "127.0.0.1:8080";
    std::chrono::milliseconds runFor{0};
};
int CLI_ServeLine(const LineServeOptions& options, std::FILE* out, std::FILE* err,
                  const std::atomic<bool>* stop = nullptr);
