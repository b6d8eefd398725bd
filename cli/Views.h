// How a run is shown: live lines redrawn in place on a terminal, the engine's
// lines with time and port otherwise, or JSON events for programs.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "Events.h"
#include "PortRun.h"

namespace fennix::cli {

enum class OutputMode { Terminal, Plain, Json };

struct Summary {
    int succeeded = 0, failed = 0, interrupted = 0;
    int exitCode = 0;
    double seconds = 0;
};

class View {
public:
    virtual ~View() = default;
    // Events since the last call and the ports' state now; called about ten
    // times a second while the flows run.
    virtual void Update(const std::vector<Event>& events, const std::vector<RunSnapshot>& ports) = 0;
    // A message of the tool about the whole run (Ctrl-C).
    virtual void Notice(const std::string& text) = 0;
    virtual void Finish(const std::vector<RunSnapshot>& ports, const Summary& summary) = 0;
};

std::unique_ptr<View> MakeView(OutputMode mode);

// One flow event as the JSON view prints it (schema, time, port, event, ...);
// a result takes its port's state, time, bytes, cause and fields from `run`
// (none: the event's own fields only).
nlohmann::ordered_json EventJson(const Event& event, const RunSnapshot* run);

// "1.23 MB", "840 kB/s": for the views and the image set.
std::string ByteText(double bytes);
// "1:05": minutes and seconds of a live line.
std::string ElapsedText(SteadyClock::duration d);

}  // namespace fennix::cli
