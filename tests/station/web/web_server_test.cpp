// The station's web server without a browser: its token, its limits, the
// shapes of its JSON and its event stream, against a record database filled here.
#include <httplib.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "RecordDb.h"
#include "WebServer.h"

namespace fennix::station::web {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

class WebServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("fennix-web-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        std::string error;
        db_ = records::RecordDb::Open((dir_ / "runs.db").string(), false, &error);
        ASSERT_TRUE(db_) << error;
        AddRun("/dev/serial/by-path/a", "356938035643809", records::RunResult::Success, "", "2026-12-09T08:00:00.000Z");
        AddRun("/dev/serial/by-path/b", "490154203237518", records::RunResult::Failed, "image-write",
               "2026-12-10T08:00:00.000Z");
        AddRun("/dev/serial/by-path/a", "356938035643809", records::RunResult::Failed, "no-answer",
               "2026-12-10T09:00:00.000Z");
    }
    void TearDown() override {
        server_.reset();
        db_.reset();
        fs::remove_all(dir_);
    }
    void AddRun(const std::string& socket, const std::string& imei, records::RunResult result, const std::string& cause,
                const std::string& startedAt) {
        records::RunRecord run;
        run.socket = socket;
        run.imei = imei;
        run.startedAt = startedAt;
        std::string error;
        run.id = db_->Begin(run, &error);
        ASSERT_GT(run.id, 0) << error;
        run.result = result;
        run.cause = cause;
        run.endedAt = startedAt;
        ASSERT_TRUE(db_->Complete(run, &error)) << error;
    }
    httplib::Client& Serve(const std::string& token = {}, size_t clientQueue = 1024) {
        WebOptions options;
        options.port = 0;
        options.token = token;
        options.clientQueue = clientQueue;
        server_ = std::make_unique<WebServer>(options, *db_);
        std::string error;
        EXPECT_TRUE(server_->Start(&error)) << error;
        client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->Port());
        return *client_;
    }

    fs::path dir_;
    std::unique_ptr<records::RecordDb> db_;
    std::unique_ptr<WebServer> server_;
    std::unique_ptr<httplib::Client> client_;
};

TEST_F(WebServerTest, ServesTheJsonOfTheSocketsTheRunsAndTheSummary) {
    httplib::Client& c = Serve();
    server_->Publish({}, Json::parse(R"([{"socket":"/dev/serial/by-path/a","state":"running","percent":42.5}])"));
    auto sockets = c.Get("/api/sockets");
    ASSERT_TRUE(sockets);
    EXPECT_EQ(sockets->status, 200);
    EXPECT_EQ(Json::parse(sockets->body)[0]["percent"], 42.5);

    auto all = c.Get("/api/runs");
    ASSERT_TRUE(all);
    const Json runs = Json::parse(all->body);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0]["started_at"], "2026-12-10T09:00:00.000Z");  // newest first
    EXPECT_TRUE(runs[0].contains("version_after"));

    const Json one = Json::parse(c.Get("/api/runs?imei=356938035643809&result=failed")->body);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0]["cause"], "no-answer");
    EXPECT_EQ(Json::parse(c.Get("/api/runs?limit=1")->body).size(), 1u);

    const Json day = Json::parse(c.Get("/api/summary?since=2026-12-10")->body);
    EXPECT_EQ(day["total"]["runs"], 2);
    EXPECT_EQ(day["total"]["failed"], 2);
    EXPECT_EQ(day["sockets"].size(), 2u);

    for (const char* bad : {"/api/runs?since=yesterday", "/api/runs?limit=0", "/api/runs?result=great"})
        EXPECT_EQ(c.Get(bad)->status, 400) << bad;
}

TEST_F(WebServerTest, IsReadOnlyAndBoundsWhatARequestMaySend) {
    httplib::Client& c = Serve();
    EXPECT_EQ(c.Post("/api/runs", "{}", "application/json")->status, 405);
    EXPECT_EQ(c.Delete("/api/runs")->status, 405);
    EXPECT_EQ(c.Get("/etc/passwd")->status, 404);
    const auto page = c.Get("/");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("EventSource"), std::string::npos);
    EXPECT_EQ(page->body.find("http://"), std::string::npos);  // nothing from elsewhere
    EXPECT_EQ(page->body.find("https://"), std::string::npos);
    EXPECT_EQ(page->body.find("innerHTML"), std::string::npos);
    // A body bigger than any GET needs is refused before any handler.
    httplib::Headers headers{{"Content-Length", "100000000"}};
    const auto big = c.Get("/api/sockets", headers);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->status, 413);
}

TEST_F(WebServerTest, WithATokenEveryRequestCarriesItAsBearerOrCookie) {
    httplib::Client& c = Serve("s3cret");
    EXPECT_EQ(c.Get("/")->status, 401);
    EXPECT_EQ(c.Get("/api/runs")->status, 401);
    EXPECT_EQ(c.Get("/events")->status, 401);
    EXPECT_EQ(c.Get("/api/runs", {{"Authorization", "Bearer s3cre"}})->status, 401);
    EXPECT_EQ(c.Get("/api/runs", {{"Authorization", "Bearer s3cret"}})->status, 200);
    EXPECT_EQ(c.Get("/?token=wrong")->status, 401);

    const auto login = c.Get("/?token=s3cret");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->status, 303);
    EXPECT_EQ(login->get_header_value("Location"), "/");
    const std::string cookie = login->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    const std::string pair = cookie.substr(0, cookie.find(';'));
    EXPECT_EQ(c.Get("/api/sockets", {{"Cookie", "theme=dark; " + pair}})->status, 200);
    EXPECT_EQ(c.Get("/api/sockets", {{"Cookie", "fennix_token=s3cretX"}})->status, 401);
}

// Reads /events until a data line comes: its JSON.
Json FirstEvent(httplib::Client& c, std::string* seen) {
    Json event;
    c.Get("/events", [&](const char* data, size_t size) {
        seen->append(data, size);
        const size_t at = seen->find("data: ");
        if (at == std::string::npos || seen->find("\n\n", at) == std::string::npos) return true;
        event = Json::parse(seen->substr(at + 6, seen->find("\n\n", at) - at - 6));
        return false;
    });
    return event;
}

TEST_F(WebServerTest, StreamsEachStationEventAsOneDataLine) {
    httplib::Client& c = Serve();
    std::atomic<bool> done{false};
    std::thread publisher([this, &done] {
        // Until the stream's client is listening: events before it are not its to see.
        for (int i = 0; i < 500 && !done; ++i) {
            server_->Publish({Json{{"socket", "/dev/a"}, {"event", "run-ended"}, {"result", "failed"}}}, Json::array());
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    std::string seen;
    const Json event = FirstEvent(c, &seen);
    done = true;
    publisher.join();
    EXPECT_EQ(event["event"], "run-ended");
    EXPECT_EQ(event["socket"], "/dev/a");
}

TEST_F(WebServerTest, AClientThatCannotKeepUpIsDroppedWithoutHoldingThePublisher) {
    httplib::Client& c = Serve({}, 4);
    std::string seen;
    std::atomic<bool> connected{false};
    std::thread reader([&] {
        c.Get("/events", [&](const char* data, size_t size) {
            seen.append(data, size);
            if (seen.find("connected") != std::string::npos) connected = true;
            return true;  // until the server ends the stream
        });
    });
    // The reader is connected once its hello came; then more events at once than its queue holds.
    for (int i = 0; i < 500 && !connected; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<Json> burst(10, Json{{"event", "progress"}});
    server_->Publish(burst, Json::array());
    reader.join();  // returns only when the server dropped the stream
    ASSERT_TRUE(connected);
    EXPECT_EQ(seen.find("data: "), std::string::npos);
}

TEST(WebAddress, ReadsAddressesAndTellsTheLoopback) {
    std::string host, error;
    int port = 0;
    ASSERT_TRUE(ParseHttpAddress("", &host, &port, &error));
    EXPECT_EQ(host + ":" + std::to_string(port), "127.0.0.1:8080");
    ASSERT_TRUE(ParseHttpAddress("9000", &host, &port, &error));
    EXPECT_EQ(host + ":" + std::to_string(port), "127.0.0.1:9000");
    ASSERT_TRUE(ParseHttpAddress("[::1]:81", &host, &port, &error));
    EXPECT_EQ(host, "::1");
    for (const char* bad : {"host:", "host:99999", "[::1]81", "a:b"})
        EXPECT_FALSE(ParseHttpAddress(bad, &host, &port, &error)) << bad;
    for (const char* loop : {"127.0.0.1", "127.1.2.3", "::1", "localhost"}) EXPECT_TRUE(IsLoopback(loop)) << loop;
    for (const char* open : {"0.0.0.0", "192.168.1.5", "::", "128.0.0.1"}) EXPECT_FALSE(IsLoopback(open)) << open;
}

TEST(WebAddress, TheStationRefusesAnOpenAddressWithoutAToken) {
    const std::string command = std::string(FENNIX_TOOL_PATH) +
                                " station --socket /dev/null --db /nonexistent/runs.db --http 0.0.0.0:8080 2>&1";
    FILE* out = popen(command.c_str(), "r");
    ASSERT_TRUE(out);
    std::string text;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, out)) text.append(buffer, n);
    const int status = pclose(out);
    EXPECT_EQ(WEXITSTATUS(status), 2) << text;
    EXPECT_NE(text.find("token"), std::string::npos) << text;
}

}  // namespace
}  // namespace fennix::station::web
