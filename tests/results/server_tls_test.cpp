// The Windows build's client library speaks without TLS: a server URL (or PGSSLMODE) that asks
// for TLS is refused in one line, nothing is sent without it (not even a connection is opened
// to the server), and the rows stay on the station.
#include <gtest/gtest.h>

#if defined(_WIN32) && defined(PELOR_HAVE_SQLITE) && defined(PELOR_HAVE_LIBPQ)
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "results/recorder.h"
#include "results_fixtures.h"
#include "support/temp_dir.h"

namespace {

// A socket listening on 127.0.0.1 that tells whether anyone connected to it.
class Listener {
public:
    Listener() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(socket_, 4);
        int size = sizeof address;
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~Listener() {
        ::closesocket(socket_);
        WSACleanup();
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    int Port() const { return port_; }
    bool Connected() const {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(socket_, &ready);
        timeval none{0, 0};
        return ::select(0, &ready, nullptr, nullptr, &none) > 0;
    }

private:
    SOCKET socket_;
    int port_ = 0;
};

}  // namespace

TEST(ResultsServerTls, AskingForTlsIsRefusedInOneLineAndNothingGoesOutWithoutIt) {
    struct Case {
        const char* query;
        const char* environment;  // PGSSLMODE
    };
    for (const Case& c :
         {Case{"?sslmode=require", ""}, Case{"?sslmode=verify-full", ""}, Case{"", "verify-ca"}}) {
        SCOPED_TRACE(std::string(c.query) + " PGSSLMODE=" + c.environment);
        _putenv_s("PGSSLMODE", c.environment);
        Listener server;
        TempDir dir;
        ResultsConfig config;
        config.databasePath = dir / "results.db";
        config.serverUrl =
            "postgresql://pelor@127.0.0.1:" + std::to_string(server.Port()) + "/pelor" + c.query;
        config.station = "tls-test";
        config.retryInterval = std::chrono::milliseconds(20);
        std::vector<std::string> said;
        {
            ResultsRecorder recorder(config);
            recorder.Record(results_test::Job(0, true));
            for (int pass = 0; pass < 2000 && said.empty(); ++pass) {
                said = recorder.TakeMessages();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // more attempts
            for (std::string& line : recorder.TakeMessages()) said.push_back(std::move(line));
            EXPECT_EQ(recorder.Waiting(), 1);
        }
        _putenv_s("PGSSLMODE", "");
        ASSERT_EQ(said.size(), 1u) << ::testing::PrintToString(said);
        EXPECT_NE(said[0].find("sslmode"), std::string::npos) << said[0];
        EXPECT_NE(said[0].find("without TLS"), std::string::npos) << said[0];
        EXPECT_FALSE(server.Connected()) << "a connection was opened without TLS";
    }
}
#endif
