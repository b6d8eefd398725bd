#include "WebServer.h"

#include <httplib.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <fstream>

#include "DashboardPage.h"
#include "RecordJson.h"

namespace fennix::station::web {

namespace {

using Json = nlohmann::ordered_json;

constexpr char kCookie[] = "fennix_token";
constexpr size_t kMaxPayload = 16 * 1024;  // GET only: a body has no business here
constexpr int kDefaultRunLimit = 100;
constexpr int kMaxRunLimit = 10000;

// Compares in a time that does not tell how much of the token matched.
bool SameToken(const std::string& given, const std::string& token) {
    unsigned char diff = given.size() == token.size() ? 0 : 1;
    for (size_t i = 0; i < given.size(); ++i) diff |= given[i] ^ token[i % token.size()];
    return diff == 0;
}

std::string CookieValue(const std::string& header, const std::string& name) {
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find(';', at);
        if (end == std::string::npos) end = header.size();
        std::string pair = header.substr(at, end - at);
        pair.erase(0, pair.find_first_not_of(' '));
        if (pair.compare(0, name.size() + 1, name + "=") == 0) return pair.substr(name.size() + 1);
        at = end + 1;
    }
    return {};
}

void SendJson(httplib::Response& res, const std::string& body) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(body, "application/json");
}

void SendError(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    SendJson(res, records::DumpJson(Json{{"error", text}}));
}

// The filter of /api/runs and /api/summary from the query; false with `error` set on a value that does not read.
bool ReadFilter(const httplib::Request& req, records::RunFilter* filter, std::string* error) {
    filter->imei = req.get_param_value("imei");
    filter->socket = req.get_param_value("socket");
    for (auto [key, bound, until] : {std::tuple{"since", &filter->since, false}, {"until", &filter->until, true}}) {
        *bound = req.get_param_value(key);
        if (!bound->empty() && !records::StoredTime(*bound, until)) {
            *error = std::string(key) + " is neither a day (2026-12-10) nor an ISO 8601 time";
            return false;
        }
    }
    if (const std::string result = req.get_param_value("result"); !result.empty()) {
        static const char* const kResults[] = {"running", "success", "failed", "interrupted", "aborted"};
        if (std::find_if(std::begin(kResults), std::end(kResults), [&](const char* r) { return result == r; }) ==
            std::end(kResults)) {
            *error = "result must be running, success, failed, interrupted or aborted";
            return false;
        }
        filter->result = records::ParseRunResult(result);
    }
    return true;
}

}  // namespace

bool ParseHttpAddress(const std::string& text, std::string* host, int* port, std::string* error) {
    std::string portText = text;
    *host = "127.0.0.1";
    if (text.empty()) {
        *port = 8080;
        return true;
    }
    if (text[0] == '[') {
        const size_t close = text.find("]:");
        if (close == std::string::npos) {
            *error = "an IPv6 address is written [ADDRESS]:PORT";
            return false;
        }
        *host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
    } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        *host = text.substr(0, colon);
        portText = text.substr(colon + 1);
    }
    const bool digits = !portText.empty() && portText.size() <= 5 &&
                        std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (host->empty() || !digits || std::stoi(portText) > 65535) {
        *error = "\"" + text + "\" is not ADDRESS:PORT (127.0.0.1:8080)";
        return false;
    }
    *port = std::stoi(portText);
    return true;
}

bool IsLoopback(const std::string& host) {
    if (host == "localhost" || host == "::1") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool ReadTokenFile(const std::string& path, std::string* token, std::string* error) {
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) {
        *error = path + ": cannot read the token file";
        return false;
    }
    const char* blanks = " \t\r\n";
    const size_t first = line.find_first_not_of(blanks);
    if (first == std::string::npos) {
        *error = path + ": the token file holds no token";
        return false;
    }
    *token = line.substr(first, line.find_last_not_of(blanks) - first + 1);
    return true;
}

WebServer::WebServer(WebOptions options, records::RecordDb& db)
    : options_(std::move(options)), db_(db), server_(std::make_unique<httplib::Server>()) {
    Route();
}

WebServer::~WebServer() { Stop(); }

void WebServer::Route() {
    httplib::Server& s = *server_;
    // Every event client holds a worker for as long as it listens: the rest serve the page and the JSON.
    const size_t workers = options_.eventClients + 8;
    s.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    s.set_payload_max_length(kMaxPayload);
    s.set_keep_alive_max_count(20);
    s.set_keep_alive_timeout(5);
    s.set_read_timeout(5);
    s.set_write_timeout(5);

    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (req.method != "GET" && req.method != "HEAD") {
            res.status = 405;
            res.set_header("Allow", "GET, HEAD");
            res.set_content("read-only: GET only\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        // A GET's body is never read: left on the connection it would be taken for the next request.
        const std::string length = req.get_header_value("Content-Length");
        if ((!length.empty() && length != "0") || req.has_header("Transfer-Encoding")) {
            res.status = 413;
            res.set_header("Connection", "close");
            res.set_content("a request to this server carries no body\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        const std::string& token = options_.token;
        if (token.empty()) return httplib::Server::HandlerResponse::Unhandled;
        if (req.path == "/" && req.has_param("token")) {
            if (!SameToken(req.get_param_value("token"), token)) {
                res.status = 401;
                res.set_content("wrong token\n", "text/plain");
                return httplib::Server::HandlerResponse::Handled;
            }
            res.set_header("Set-Cookie", std::string(kCookie) + "=" + token + "; HttpOnly; SameSite=Strict; Path=/");
            res.set_redirect("/", 303);
            return httplib::Server::HandlerResponse::Handled;
        }
        const std::string authorization = req.get_header_value("Authorization");
        const bool bearer = authorization.compare(0, 7, "Bearer ") == 0 && SameToken(authorization.substr(7), token);
        const bool cookie = SameToken(CookieValue(req.get_header_value("Cookie"), kCookie), token);
        if (bearer || cookie) return httplib::Server::HandlerResponse::Unhandled;
        res.status = 401;
        res.set_header("WWW-Authenticate", "Bearer");
        res.set_content("a token is needed: open /?token=TOKEN once, or send Authorization: Bearer TOKEN\n",
                        "text/plain");
        return httplib::Server::HandlerResponse::Handled;
    });

    s.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_header("Content-Security-Policy",
                       "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                       "connect-src 'self'; img-src data:");
        res.set_content(kDashboardPage, "text/html; charset=utf-8");
    });

    s.Get("/api/sockets", [this](const httplib::Request&, httplib::Response& res) {
        std::string body;
        {
            std::lock_guard lock(mutex_);
            body = sockets_;
        }
        SendJson(res, body);
    });

    s.Get("/api/runs", [this](const httplib::Request& req, httplib::Response& res) {
        records::RunFilter filter;
        std::string error;
        if (!ReadFilter(req, &filter, &error)) return SendError(res, 400, error);
        filter.limit = kDefaultRunLimit;
        if (const std::string limit = req.get_param_value("limit"); !limit.empty()) {
            const bool digits = limit.size() <= 6 &&
                                std::all_of(limit.begin(), limit.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (!digits || std::stoi(limit) < 1)
                return SendError(res, 400, "limit must be a number of runs, 1 or more");
            filter.limit = std::min(std::stoi(limit), kMaxRunLimit);
        }
        filter.newestFirst = true;
        Json runs = Json::array();
        for (const auto& run : db_.Runs(filter)) runs.push_back(records::RunJson(run));
        SendJson(res, records::DumpJson(runs));
    });

    s.Get("/api/summary", [this](const httplib::Request& req, httplib::Response& res) {
        records::RunFilter filter;
        std::string error;
        if (!ReadFilter(req, &filter, &error)) return SendError(res, 400, error);
        SendJson(res, records::DumpJson(records::SummaryJson(db_.Summarize(filter))));
    });

    s.Get("/events", [this](const httplib::Request&, httplib::Response& res) {
        std::list<Client>::iterator client;
        {
            std::lock_guard lock(mutex_);
            if (clients_.size() >= options_.eventClients || stopping_) {
                res.status = 503;
                res.set_header("Retry-After", "5");
                res.set_content("too many event clients\n", "text/plain");
                return;
            }
            client = clients_.emplace(clients_.end());
        }
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Accel-Buffering", "no");
        auto first = std::make_shared<bool>(true);
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, client, first](size_t, httplib::DataSink& sink) {
                if (*first) {
                    *first = false;
                    // A quick retry after a station restart, and headers out before the first event.
                    const std::string hello = "retry: 2000\n: connected\n\n";
                    return sink.write(hello.data(), hello.size());
                }
                std::vector<std::string> messages;
                if (!NextMessages(*client, &messages)) return false;
                std::string out;
                for (const auto& m : messages) out += "data: " + m + "\n\n";
                if (out.empty()) out = ": keep-alive\n\n";
                return sink.write(out.data(), out.size());
            },
            [this, client](bool) {
                std::lock_guard lock(mutex_);
                clients_.erase(client);
            });
    });
}

bool WebServer::NextMessages(Client& client, std::vector<std::string>* messages) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(options_.keepAliveSeconds),
                      [&] { return stopping_ || client.dropped || !client.queue.empty(); });
    if (stopping_ || client.dropped) return false;
    messages->swap(client.queue);
    return true;
}

void WebServer::Publish(const std::vector<Json>& events, const Json& sockets) {
    std::vector<std::string> lines;
    lines.reserve(events.size());
    for (const auto& e : events) lines.push_back(records::DumpJson(e));
    std::string socketsText = records::DumpJson(sockets);
    std::lock_guard lock(mutex_);
    sockets_ = std::move(socketsText);
    if (lines.empty()) return;
    for (auto& c : clients_) {
        if (c.dropped) continue;
        if (c.queue.size() + lines.size() > options_.clientQueue) {
            // A client that cannot keep up loses its stream (its EventSource reconnects and re-reads the sockets).
            c.dropped = true;
            c.queue.clear();
            continue;
        }
        c.queue.insert(c.queue.end(), lines.begin(), lines.end());
    }
    changed_.notify_all();
}

bool WebServer::Start(std::string* error) {
    if (options_.port == 0) {
        port_ = server_->bind_to_any_port(options_.host);
        if (port_ <= 0) {
            *error = "cannot listen on " + options_.host;
            return false;
        }
    } else {
        if (!server_->bind_to_port(options_.host, options_.port)) {
            *error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port);
            return false;
        }
        port_ = options_.port;
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return true;
}

void WebServer::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

}  // namespace fennix::station::web
