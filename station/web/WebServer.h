// The station's web interface: the dashboard page, its event stream
// (Server-Sent Events, each message one of the station's JSON events) and
// the JSON of the sockets, the runs and the summary. Read-only, GET only;
// with a token every request carries it (Bearer header or the cookie set by
// "/?token=TOKEN"). The station's thread publishes; it never waits on a
// client: each client has a bounded queue and is dropped when it overflows.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "RecordDb.h"

namespace httplib {
class Server;
}

namespace fennix::station::web {

struct WebOptions {
    std::string host = "127.0.0.1";
    int port = 8080;            // 0: any free port (the tests)
    std::string token;          // empty: none asked
    size_t eventClients = 64;   // at most this many on /events at once; more get 503
    size_t clientQueue = 1024;  // events waiting for one client before it is dropped
    int keepAliveSeconds = 15;  // a comment on an idle stream, so proxies and dead peers show
};

// "ADDRESS:PORT", "[IPv6]:PORT", or a PORT alone (on the loopback); an
// empty text is 127.0.0.1:8080. False with `error` set when it does not read.
bool ParseHttpAddress(const std::string& text, std::string* host, int* port, std::string* error);
// 127.0.0.0/8, ::1 and "localhost".
bool IsLoopback(const std::string& host);
// The first line of a token file, without surrounding blanks; false when it
// cannot be read or holds no token.
bool ReadTokenFile(const std::string& path, std::string* token, std::string* error);

class WebServer {
public:
    WebServer(WebOptions options, records::RecordDb& db);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds and serves on a thread of its own; false with `error` set when the address cannot be bound.
    bool Start(std::string* error);
    int Port() const { return port_; }
    void Stop();

    // From the station's thread: its new events (as --json prints them) and
    // every socket's state (the array /api/sockets serves).
    void Publish(const std::vector<nlohmann::ordered_json>& events, const nlohmann::ordered_json& sockets);

private:
    struct Client {
        std::vector<std::string> queue;
        bool dropped = false;
    };
    void Route();
    // Waits for the next messages of `client` (or the keep-alive time); false when it must end.
    bool NextMessages(Client& client, std::vector<std::string>* messages);

    WebOptions options_;
    records::RecordDb& db_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;

    std::mutex mutex_;  // guards the members below
    std::condition_variable changed_;
    std::string sockets_ = "[]";
    std::list<Client> clients_;
    bool stopping_ = false;
};

}  // namespace fennix::station::web
