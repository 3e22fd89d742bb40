#include "line_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "flash_run.h"
#include "results/line_view.h"
#include "results/server_target.h"
#include "stop_signals.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Signals that come close together are read once, this long after the first.
constexpr milliseconds kDebounce{200};
// The line is read again this often without a signal (the day turns, a job row with no socket
// change) and each event stream hears from the server at least this often.
constexpr milliseconds kRefresh{15000};
// Waits for a lost server's session grow from the first to the last.
constexpr milliseconds kFirstRetry{500};
constexpr milliseconds kLastRetry{8000};
// How often every wait looks at the stop request.
constexpr milliseconds kLook{100};
// Requests served at once; each open event stream holds one.
constexpr int kWorkers = 32;
// Event streams held open at once: the rest of the workers serve the page and /api/line
// whatever the streams do. A stream beyond them gets the line once and comes back later.
constexpr int kStreams = kWorkers - 4;
constexpr const char* kComeBackLater = "retry: 10000\n\n";

// Counts a stream while it is open.
class StreamSlot {
public:
    explicit StreamSlot(std::atomic<int>& open) : open_(open), held_(++open_) {}
    ~StreamSlot() { --open_; }
    StreamSlot(const StreamSlot&) = delete;
    StreamSlot& operator=(const StreamSlot&) = delete;
    // Streams open with this one.
    int Held() const { return held_; }

private:
    std::atomic<int>& open_;
    const int held_;
};

// The bounds of the reading session: a line's day of rows is read in well under them.
ServerLimits LineLimits() {
    ServerLimits limits = RESULTS_ReadingLimits();
    limits.statement = std::chrono::seconds(20);
    limits.quiet = std::chrono::seconds(15);
    return limits;
}

// A JSON text of fields; text that is not UTF-8 gets replacement characters.
std::string Dump(const nlohmann::json& fields) {
    return fields.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// What the reader has last read, shared with every request.
class LineFeed {
public:
    // The view read now.
    void Publish(LineView view) {
        std::lock_guard lock(mu_);
        view_ = std::move(view);
        hasView_ = true;
        if (!stale_.empty()) {
            stale_.clear();
            ++statusSeq_;
        }
        lineJson_ = RESULTS_LineJson(view_);
        ++lineSeq_;
        changed_.notify_all();
    }
    // The server is out of reach: the view may be old.
    void MarkStale(const std::string& why) {
        std::lock_guard lock(mu_);
        if (stale_ == why) return;
        stale_ = why;
        if (hasView_) lineJson_ = RESULTS_LineJson(view_, stale_);
        ++statusSeq_;
        changed_.notify_all();
    }
    void End() {
        std::lock_guard lock(mu_);
        ending_ = true;
        changed_.notify_all();
    }
    bool Ending() {
        std::lock_guard lock(mu_);
        return ending_;
    }
    // Waits up to bound, or until the feed ends.
    void Sleep(milliseconds bound) {
        std::unique_lock lock(mu_);
        changed_.wait_for(lock, bound, [&] { return ending_; });
    }

    // The view as /api/line gives it: false when none was read yet (*json then says why).
    bool Json(std::string* json) {
        std::lock_guard lock(mu_);
        if (!hasView_) {
            *json = Dump({{"error", stale_.empty() ? "starting" : stale_}});
            return false;
        }
        *json = lineJson_;
        return true;
    }

    // What an event stream sends next: waits up to bound for a view or a status it has not
    // sent. False when the feed ends.
    struct Cursor {
        std::uint64_t line = 0;
        std::uint64_t status = 0;
    };
    bool Next(Cursor* seen, milliseconds bound, std::string* events) {
        std::unique_lock lock(mu_);
        changed_.wait_for(lock, bound, [&] {
            return ending_ || lineSeq_ != seen->line || statusSeq_ != seen->status;
        });
        if (ending_) return false;
        if (statusSeq_ != seen->status) {
            seen->status = statusSeq_;
            *events +=
                "event: status\ndata: " + Dump({{"stale", !stale_.empty()}, {"error", stale_}}) +
                "\n\n";
        }
        if (lineSeq_ != seen->line && hasView_) {
            seen->line = lineSeq_;
            *events += "event: line\ndata: " + lineJson_ + "\n\n";
        }
        return true;
    }

private:
    std::mutex mu_;
    std::condition_variable changed_;
    LineView view_;
    bool hasView_ = false;
    std::string lineJson_;
    std::string stale_ = "starting";
    std::uint64_t lineSeq_ = 0;
    std::uint64_t statusSeq_ = 1;  // every stream hears the status first
    bool ending_ = false;
};

// Reads the line whenever a station signals a change, and again every kRefresh; a lost session
// is opened again, less often the longer the server stays away.
// Says on err when the view goes stale (once per reason) and when it is live again.
void FeedLine(const std::string& url, LineFeed& feed, const std::atomic<bool>& ending,
              std::FILE* err) {
    milliseconds retry = kFirstRetry;
    std::string said;  // the last reason said; empty while live
    while (!ending) {
        std::string error;
        std::unique_ptr<LineSource> source =
            RESULTS_OpenLineSource(url, LineLimits(), &ending, &error);
        auto read = [&] {
            LineView view;
            const std::int64_t now = RESULTS_NowUnixMs();
            if (!source->Read(RESULTS_LocalMidnight(now), &view, &error)) return false;
            feed.Publish(std::move(view));
            return true;
        };
        if (source && read()) {
            retry = kFirstRetry;
            if (!said.empty()) {
                std::fprintf(err, "line view: reading the server again\n");
                said.clear();
            }
            for (;;) {
                bool changed = false;
                if (!source->AwaitChange(kRefresh, &changed)) break;
                if (changed) {
                    // The rest of a burst of signals: read once.
                    const auto until = Clock::now() + kDebounce;
                    for (auto now = Clock::now(); now < until; now = Clock::now()) {
                        if (!source->AwaitChange(
                                std::chrono::duration_cast<milliseconds>(until - now), &changed)) {
                            break;
                        }
                    }
                    if (!source->Usable()) break;
                }
                if (!read()) break;
            }
            if (ending) break;
            if (error.empty()) error = "the connection to the results server was lost";
        }
        if (ending) break;
        if (error != said) {
            std::fprintf(err, "line view: %s; trying again\n", error.c_str());
            said = error;
        }
        feed.MarkStale(error + "; trying again");
        feed.Sleep(retry);
        retry = std::min(retry * 2, kLastRetry);
    }
}

// HOST:PORT or [HOST]:PORT; false when it is neither.
bool ParseListen(const std::string& text, std::string* host, int* port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    std::string h = text.substr(0, colon);
    const std::string p = text.substr(colon + 1);
    if (p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) return false;
    if (h.front() == '[') {
        if (h.size() < 3 || h.back() != ']') return false;
        h = h.substr(1, h.size() - 2);
    } else if (h.find(':') != std::string::npos) {
        return false;
    }
    const int n = std::stoi(p);
    if (n > 65535) return false;
    *host = h;
    *port = n;
    return true;
}

// A port another program listens on is refused, not shared (the library's default would let
// two servers take it).
void ReuseAddressOnly(socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

void Refuse(const httplib::Request&, httplib::Response& res) {
    res.status = 405;
    res.set_header("Allow", "GET");
    res.set_content("pelor line only reads: GET only\n", "text/plain");
}

}  // namespace

int CLI_ServeLine(const LineServeOptions& options, std::FILE* out, std::FILE* err,
                  const std::atomic<bool>* stop) {
    if (!RESULTS_IsServerUrl(options.results)) {
        std::fprintf(err, "error: --results takes postgresql://[USER@]HOST/DATABASE\n");
        return kExitUsage;
    }
    const std::string noServer = RESULTS_NoServerReason();
    if (!noServer.empty()) {
        std::fprintf(err, "error: %s\n", noServer.c_str());
        return kExitUsage;
    }
    std::string host;
    int port = 0;
    if (!ParseListen(options.listen, &host, &port)) {
        std::fprintf(err, "error: --listen takes HOST:PORT (such as 127.0.0.1:8080), not '%s'\n",
                     options.listen.c_str());
        return kExitUsage;
    }

    httplib::Server server;
    server.set_socket_options(ReuseAddressOnly);
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    // No wait of a connection outlasts the stop by much.
    server.set_keep_alive_timeout(1);
    server.set_read_timeout(std::chrono::seconds(5));
    server.set_write_timeout(std::chrono::seconds(5));

    LineFeed feed;
    std::atomic<bool> ending{false};
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-cache");
        res.set_content(CLI_LinePage(), "text/html; charset=utf-8");
    });
    server.Get("/api/line", [&feed](const httplib::Request&, httplib::Response& res) {
        std::string json;
        if (!feed.Json(&json)) res.status = 503;
        res.set_header("Cache-Control", "no-cache");
        res.set_content(json, "application/json");
    });
    std::atomic<int> streams{0};
    server.Get("/events", [&feed, &streams](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-cache");
        auto slot = std::make_shared<StreamSlot>(streams);
        auto seen = std::make_shared<LineFeed::Cursor>();
        if (slot->Held() > kStreams) {
            std::string events = kComeBackLater;
            feed.Next(seen.get(), milliseconds(0), &events);
            res.set_content(events, "text/event-stream");
            return;
        }
        auto lastWrite = std::make_shared<Clock::time_point>(Clock::time_point{});
        res.set_chunked_content_provider(
            "text/event-stream",
            [&feed, slot, seen, lastWrite](std::size_t, httplib::DataSink& sink) {
                std::string events;
                if (*lastWrite == Clock::time_point{}) {
                    events = "retry: 2000\n\n";  // EventSource comes back after 2 s
                } else if (!feed.Next(seen.get(), kLook * 2, &events)) {
                    return false;
                }
                if (events.empty() && Clock::now() - *lastWrite >= kRefresh) {
                    events = ": keep-alive\n\n";
                }
                if (events.empty()) return true;
                *lastWrite = Clock::now();
                // A browser that went away fails the write: its stream ends here.
                return sink.write(events.data(), events.size());
            });
    });
    server.Post(".*", Refuse);
    server.Put(".*", Refuse);
    server.Patch(".*", Refuse);
    server.Delete(".*", Refuse);
    server.Options(".*", Refuse);

    if (port == 0) {
        port = server.bind_to_any_port(host);
        if (port < 0) port = 0;
    } else if (!server.bind_to_port(host, port)) {
        port = 0;
    }
    if (port == 0) {
        std::fprintf(err,
                     "error: cannot listen on %s: the port is in use or the address is not this "
                     "machine's (choose another with --listen HOST:PORT)\n",
                     options.listen.c_str());
        return kExitUsage;
    }

    StopSignals signals;
    std::thread reader([&] { FeedLine(options.results, feed, ending, err); });
    std::atomic<bool> listening{true};
    std::thread listener([&] {
        server.listen_after_bind();
        listening = false;
    });
    const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    std::fprintf(out, "line view: http://%s:%d/\n", shownHost.c_str(), port);
    std::fflush(out);

    const auto started = Clock::now();
    int status = kExitOk;
    for (;;) {
        if (signals.Count() > 0 || (stop != nullptr && stop->load())) break;
        if (options.runFor.count() > 0 && Clock::now() - started >= options.runFor) break;
        if (!listening) {
            std::fprintf(err, "error: the line view stopped listening on %s\n",
                         options.listen.c_str());
            status = kExitFailed;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ending = true;
    feed.End();
    // Until the server is seen to stop: a stop asked for before it started listening is lost.
    while (listening) {
        server.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    listener.join();
    reader.join();
    return status;
}
