// A running station: a loop per socket (wait for a device, probe it, record
// and run the recipe, wait until it leaves) and, on the calling thread, the
// collection of their events and states for the view, and the stop signals.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PortWatcher.h"
#include "Recipe.h"
#include "RecordDb.h"
#include "StationEvents.h"
#include "StationSettings.h"

namespace fennix::station {

class Station {
public:
    Station(const StationSettings& settings, const Recipe& recipe, records::RecordDb& db, StationView& view);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Serves the sockets until a stop: the first of `signals` stops taking
    // devices and lets the running runs end (until the drain time is over),
    // the second cancels them. The exit status: 0 after a clean stop with
    // every record closed, 1 when a record could not be written.
    int Run(const std::atomic<int>& signals);

    // Tells the view (and, with `loud`, standard error) something about the station.
    void Notice(const std::string& socket, const std::string& text, bool loud = false);

private:
    struct Socket {
        std::string path;
        std::thread thread;
        std::atomic<bool> finished{false};
        bool unplugged = false;  // its last run ended by the device taken out (the socket's thread only)
        bool seenBack = false;   // its last run saw the device come back after its reset (the socket's thread only)
        std::mutex mutex;        // guards the two below
        SocketSnapshot state;
        cli::PortRun* run = nullptr;
    };

    void AddSocket(const std::string& path);
    void Serve(Socket& socket);
    // One device, from its arrival to its record's completion; false when
    // the socket must stop (the records cannot be written).
    // `inSocket`: who is in the socket at its end (the flashed device's identity).
    bool Treat(Socket& socket, const std::optional<cli::DeviceIdentity>& device,
               std::optional<cli::DeviceIdentity>* inSocket);
    // True once the device left (or another took its place); false on a stop.
    bool WaitUntilLeft(Socket& socket, std::optional<cli::DeviceIdentity> inSocket);
    void RecordFailure(const std::string& error);
    void Push(StationEventKind kind, const std::string& socket, nlohmann::ordered_json fields);
    std::vector<StationEvent> TakeEvents();
    std::vector<SocketSnapshot> Snapshots();
    bool AllFinished();
    void CancelRuns();

    const StationSettings& settings_;
    const Recipe& recipe_;
    records::RecordDb& db_;
    StationView& view_;
    PortWatcher watcher_;
    cli::EventQueue flowEvents_;
    StationEventQueue events_;

    std::mutex socketsMutex_;
    std::vector<std::unique_ptr<Socket>> sockets_;
    std::mutex countersMutex_;
    Counters counters_;
    std::atomic<bool> stopping_{false}, cancelling_{false}, recordFailed_{false};
};

}  // namespace fennix::station
