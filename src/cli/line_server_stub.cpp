#include "line_server_stub.h"

#include <thread>

int CLI_ServeLine(const LineServeOptions& options, std::FILE* out, std::FILE*,
                  const std::atomic<bool>* stop) {
    std::fprintf(out, "line view: http://%s/\n", options.listen.c_str());
    std::fflush(out);
    while (stop == nullptr || !stop->load())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return 0;
}
