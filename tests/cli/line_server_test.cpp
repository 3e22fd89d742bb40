// `pelor line`'s server against a real PostgreSQL server (scripts/test-results-pg; skipped
// without one), on a free port, read with an HTTP client as a browser reads it.
#include <gtest/gtest.h>

#if defined(PELOR_HAVE_LINE_VIEW) && defined(PELOR_HAVE_LIBPQ)
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include "flash_run.h"
#include "line_server.h"
#include "pelor_command.h"
#include "support/pg_scratch.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// An event stream read on a thread of its own, as EventSource reads it.
class EventStream {
public:
    explicit EventStream(int port)
        : thread_([this, port] {
              httplib::Client client("127.0.0.1", port);
              client.set_read_timeout(seconds(30));
              client.Get("/events", [this](const char* data, std::size_t size) {
                  std::lock_guard lock(mu_);
                  text_.append(data, size);
                  arrived_.notify_all();
                  return true;
              });
              std::lock_guard lock(mu_);
              ended_ = true;
              arrived_.notify_all();
          }) {}
    ~EventStream() { thread_.join(); }

    // The events of a kind received so far, their data lines.
    std::vector<std::string> Events(const std::string& kind) {
        std::lock_guard lock(mu_);
        std::vector<std::string> data;
        const std::string head = "event: " + kind + "\ndata: ";
        for (std::size_t at = text_.find(head); at != std::string::npos;
             at = text_.find(head, at + 1)) {
            const std::size_t end = text_.find("\n\n", at);
            if (end == std::string::npos) break;
            data.push_back(text_.substr(at + head.size(), end - at - head.size()));
        }
        return data;
    }
    // Waits up to bound until an event of kind after the first `after` ones holds text.
    bool Await(const std::string& kind, std::size_t after, const std::string& text,
               milliseconds bound) {
        const auto until = Clock::now() + bound;
        for (;;) {
            const std::vector<std::string> events = Events(kind);
            for (std::size_t i = after; i < events.size(); ++i) {
                if (events[i].find(text) != std::string::npos) return true;
            }
            std::unique_lock lock(mu_);
            if (ended_ || Clock::now() >= until) return false;
            arrived_.wait_for(lock, milliseconds(50));
        }
    }
    bool Ended() {
        std::lock_guard lock(mu_);
        return ended_;
    }

private:
    std::mutex mu_;
    std::condition_variable arrived_;
    std::string text_;
    bool ended_ = false;
    std::thread thread_;
};

class LineServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("PELOR_TEST_PG_URL") == nullptr) {
            GTEST_SKIP() << "no test server (scripts/test-results-pg starts one)";
        }
        ASSERT_FALSE(db_.Url().empty()) << "no database of the test's own";
        const char* ctl = std::getenv("PELOR_TEST_PG_CTL");
        ctl_ = ctl != nullptr ? ctl : "";
        admin_ = std::make_unique<PgClient>(db_.Url());
        ASSERT_EQ(admin_->Exec(kLineSocketsTable), "");
        Socket("bench-a", 0, "idle", 0);
    }
    void TearDown() override {
        if (serverStopped_) Server("start");
        Stop();
    }

    // Upserts a socket's row and signals it, as a station does.
    void Socket(const std::string& station, int ch, const std::string& state, int progress) {
        const std::string c = std::to_string(ch);
        ASSERT_EQ(admin_->Exec("INSERT INTO pelor_sockets (station, channel, device, state, "
                               "progress, text, fail_step, fail_reason, suspect) VALUES ('" +
                               station + "', " + c + ", '/dev/ttyUSB" + c + "', '" + state + "', " +
                               std::to_string(progress) +
                               ", '', '', '', '') ON CONFLICT (station, channel) DO UPDATE SET "
                               "state = excluded.state, progress = excluded.progress, "
                               "updated_at = now(); SELECT pg_notify('pelor_line', '" +
                               station + "')"),
                  "");
    }

    // Serves on a free port; the port, or 0 when it did not say it listens within 20 s.
    int Start() {
        outPath_ = dir_ / "out.txt";
        errPath_ = dir_ / "err.txt";
        out_ = std::fopen(outPath_.c_str(), "w");
        err_ = std::fopen(errPath_.c_str(), "w");
        LineServeOptions options;
        options.results = db_.Url();
        options.listen = "127.0.0.1:0";
        serving_ = std::thread([this, options] {
            status_ = CLI_ServeLine(options, out_, err_, &stop_);
            ended_ = true;
        });
        const std::regex said("line view: http://127\\.0\\.0\\.1:([0-9]+)/\n");
        for (int pass = 0; pass < 2000 && !ended_; ++pass) {
            std::smatch m;
            const std::string text = FileText(outPath_);
            if (std::regex_search(text, m, said)) return std::stoi(m[1]);
            std::this_thread::sleep_for(milliseconds(10));
        }
        return 0;
    }
    // Asks the server to stop; how long it took to end.
    milliseconds Stop() {
        if (!serving_.joinable()) return milliseconds(0);
        const auto before = Clock::now();
        stop_ = true;
        serving_.join();
        std::fclose(out_);
        std::fclose(err_);
        return std::chrono::duration_cast<milliseconds>(Clock::now() - before);
    }

    void Server(const char* what) {
        ASSERT_FALSE(ctl_.empty()) << "PELOR_TEST_PG_CTL is not set";
        ASSERT_EQ(std::system((ctl_ + " " + what + " >/dev/null 2>&1").c_str()), 0) << what;
        serverStopped_ = std::string(what) == "stop";
    }

    ScratchDatabase db_;
    std::unique_ptr<PgClient> admin_;
    std::string ctl_;
    bool serverStopped_ = false;
    TempDir dir_;
    std::string outPath_;
    std::string errPath_;
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};
    std::atomic<int> status_{-1};
    std::thread serving_;
};

}  // namespace

// The page, the line as JSON, and a station's change pushed to an open stream after its signal
// (a burst of signals read once); nothing but GET is answered, a port in use is refused in one
// line, and the server ends within its bound with a stream open.
TEST_F(LineServer, ServesTheLineAndPushesAStationsChange) {
    const int port = Start();
    ASSERT_GT(port, 0) << FileText(errPath_);
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(seconds(10));

    auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->get_header_value("Content-Type").find("text/html"), std::string::npos);
    EXPECT_NE(page->body.find("new EventSource(\"/events\")"), std::string::npos);
    // Nothing fetched from elsewhere.
    EXPECT_EQ(page->body.find("src=\"http"), std::string::npos);
    EXPECT_EQ(page->body.find("href=\"http"), std::string::npos);

    EventStream events(port);
    ASSERT_TRUE(events.Await("line", 0, "\"station\":\"bench-a\"", seconds(20)));
    auto line = client.Get("/api/line");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->status, 200);
    EXPECT_EQ(line->get_header_value("Content-Type"), "application/json");
    EXPECT_NE(line->body.find("\"state\":\"idle\""), std::string::npos) << line->body;

    std::size_t seen = events.Events("line").size();
    const auto before = Clock::now();
    Socket("bench-a", 0, "flashing", 40);
    ASSERT_TRUE(events.Await("line", seen, "\"progress\":40", seconds(10)));
    // The debounce: pushed about 200 ms after the signal, not a refresh's 15 s.
    EXPECT_LT(Clock::now() - before, seconds(5));

    // Ten signals in one transaction: one read, one event.
    std::this_thread::sleep_for(milliseconds(300));
    seen = events.Events("line").size();
    ASSERT_EQ(admin_->Exec("UPDATE pelor_sockets SET progress = 50; SELECT pg_notify('pelor_line', "
                           "'bench-a' || g) FROM generate_series(1, 10) g"),
              "");
    ASSERT_TRUE(events.Await("line", seen, "\"progress\":50", seconds(10)));
    std::this_thread::sleep_for(milliseconds(1000));
    EXPECT_EQ(events.Events("line").size(), seen + 1);

    // Only reads.
    for (const char* method : {"POST", "PUT", "DELETE", "PATCH"}) {
        httplib::Request request;
        request.method = method;
        request.path = "/api/line";
        request.body = "{}";
        request.set_header("Content-Type", "application/json");
        auto refused = client.send(request);
        ASSERT_TRUE(refused) << method;
        EXPECT_EQ(refused->status, 405) << method;
    }

    // A second server on the same port is refused in one line.
    TempDir other;
    std::FILE* out = std::fopen((other / "out").c_str(), "w");
    std::FILE* err = std::fopen((other / "err").c_str(), "w");
    LineServeOptions same;
    same.results = db_.Url();
    same.listen = "127.0.0.1:" + std::to_string(port);
    same.runFor = seconds(3);
    EXPECT_EQ(CLI_ServeLine(same, out, err), kExitUsage);
    std::fclose(out);
    std::fclose(err);
    const std::string said = FileText(other / "err");
    EXPECT_NE(said.find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos)
        << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;

    EXPECT_LT(Stop(), milliseconds(2500));
    EXPECT_EQ(status_, kExitOk);
    for (int pass = 0; pass < 500 && !events.Ended(); ++pass) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_TRUE(events.Ended());
}

// Browsers that went away free what their streams held: more of them than the server serves
// at once come and go, and a new one is still served once the line changes.
TEST_F(LineServer, StreamsWhoseBrowsersWentAwayAreDropped) {
    const int port = Start();
    ASSERT_GT(port, 0) << FileText(errPath_);
    std::vector<int> gone;
    for (int i = 0; i < 40; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        const std::string ask = "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        ASSERT_EQ(::send(fd, ask.data(), ask.size(), 0), static_cast<ssize_t>(ask.size()));
        gone.push_back(fd);
    }
    std::this_thread::sleep_for(milliseconds(500));
    for (int fd : gone) ::close(fd);
    // Their next writes fail: a change, and another to make sure every stream has written.
    for (int progress : {10, 20}) {
        std::this_thread::sleep_for(milliseconds(500));
        Socket("bench-a", 0, "flashing", progress);
    }
    EventStream events(port);
    EXPECT_TRUE(events.Await("line", 0, "\"progress\":20", seconds(10)));
    Socket("bench-a", 0, "flashing", 30);
    EXPECT_TRUE(events.Await("line", 0, "\"progress\":30", seconds(10)));
    EXPECT_LT(Stop(), milliseconds(2500));
}

// However many streams stay open (browsers that connect and never read), the page and the line
// are still served, and a stream beyond those held gets the line once and is told to come back.
TEST_F(LineServer, OpenStreamsNeverHoldThePage) {
    const int port = Start();
    ASSERT_GT(port, 0) << FileText(errPath_);
    std::vector<int> held;
    for (int i = 0; i < 40; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        const std::string ask = "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        ASSERT_EQ(::send(fd, ask.data(), ask.size(), 0), static_cast<ssize_t>(ask.size()));
        held.push_back(fd);
    }
    std::this_thread::sleep_for(milliseconds(500));
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(seconds(5));
    for (const char* path : {"/", "/api/line"}) {
        const auto reply = client.Get(path);
        ASSERT_TRUE(reply) << path;
        EXPECT_EQ(reply->status, 200) << path;
    }
    const auto extra = client.Get("/events");
    ASSERT_TRUE(extra);
    EXPECT_NE(extra->body.find("retry: 10000"), std::string::npos) << extra->body;
    EXPECT_NE(extra->body.find("event: line"), std::string::npos) << extra->body;
    for (int fd : held) ::close(fd);
    EXPECT_LT(Stop(), milliseconds(2500));
}

// Ctrl-C and SIGTERM end the command within its bound, a browser's stream open.
TEST_F(LineServer, AnInterruptEndsPelorLineWithinItsBound) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const std::string name = "line" + std::to_string(signal);
        const pid_t pid = StartPelor(
            dir_.path(), {"line", "--results", db_.Url(), "--listen", "127.0.0.1:0"}, name);
        const std::regex said("line view: http://127\\.0\\.0\\.1:([0-9]+)/\n");
        std::smatch m;
        std::string out;
        ASSERT_TRUE(WaitUntil(
            [&] {
                out = FileText(dir_ / (name + ".txt"));
                return std::regex_search(out, m, said);
            },
            seconds(20)));
        EventStream events(std::stoi(m[1]));
        ASSERT_TRUE(events.Await("line", 0, "\"station\":\"bench-a\"", seconds(20)))
            << out << FileText(dir_ / (name + ".err"));
        const auto before = Clock::now();
        ::kill(pid, signal);
        EXPECT_EQ(WaitPelor(pid, seconds(10)), 0);
        EXPECT_LT(Clock::now() - before, milliseconds(2500));
    }
}

// The line's server going away: the view says it is stale (and /api/line still answers), comes
// back live when the server does (the terminal hears both), and the stop is never held while
// it is away.
TEST_F(LineServer, AServerThatGoesAwayMakesTheViewStaleAndNeverHoldsTheStop) {
    if (ctl_.empty()) GTEST_SKIP() << "PELOR_TEST_PG_CTL is not set";
    const int port = Start();
    ASSERT_GT(port, 0) << FileText(errPath_);
    EventStream events(port);
    ASSERT_TRUE(events.Await("line", 0, "\"station\":\"bench-a\"", seconds(20)));
    admin_.reset();

    std::size_t statuses = events.Events("status").size();
    Server("stop");
    ASSERT_TRUE(events.Await("status", statuses, "\"stale\":true", seconds(20)));
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(seconds(10));
    auto line = client.Get("/api/line");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->status, 200);
    EXPECT_NE(line->body.find("\"stale\":true"), std::string::npos) << line->body;
    EXPECT_NE(line->body.find("\"station\":\"bench-a\""), std::string::npos);

    const std::size_t seen = events.Events("line").size();
    statuses = events.Events("status").size();
    Server("start");
    // Tried again within the longest wait between tries (8 s), read, and live.
    ASSERT_TRUE(events.Await("status", statuses, "\"stale\":false", seconds(30)));
    ASSERT_TRUE(events.Await("line", seen, "\"station\":\"bench-a\"", seconds(10)));

    statuses = events.Events("status").size();
    Server("stop");
    ASSERT_TRUE(events.Await("status", statuses, "\"stale\":true", seconds(20)));
    EXPECT_LT(Stop(), milliseconds(2500));
    EXPECT_EQ(status_, kExitOk);
    // The terminal hears it too.
    const std::string said = FileText(errPath_);
    EXPECT_NE(said.find("trying again"), std::string::npos) << said;
    EXPECT_NE(said.find("line view: reading the server again\n"), std::string::npos) << said;
}
#endif
