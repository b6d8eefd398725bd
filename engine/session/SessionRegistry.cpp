#include "session/SessionRegistry.h"

#include <condition_variable>
#include <mutex>
#include <unordered_map>

namespace fennix {

namespace {

struct SessionState {
    int flows = 0;
    bool closing = false;
};

struct Registry {
    std::mutex lock;
    std::condition_variable flowEnded;
    std::unordered_map<CQualCmd*, SessionState> sessions;
};

// Never destroyed: a flow or Close may still run while the process exits.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

}  // namespace

void RegisterSession(CQualCmd* session) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    r.sessions[session] = SessionState{};
}

CFlowEntry::CFlowEntry(CQualCmd* session) : session_(session), entered_(false) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    auto it = r.sessions.find(session);
    if (it == r.sessions.end()) {
        session_ = nullptr;  // not counted
        entered_ = true;
        return;
    }
    if (it->second.closing) return;
    ++it->second.flows;
    entered_ = true;
}

CFlowEntry::~CFlowEntry() {
    if (!entered_ || session_ == nullptr) return;
    Registry& r = TheRegistry();
    {
        std::lock_guard<std::mutex> hold(r.lock);
        --r.sessions[session_].flows;
    }
    r.flowEnded.notify_all();
}

bool UnregisterSession(CQualCmd* session) {
    Registry& r = TheRegistry();
    std::unique_lock<std::mutex> hold(r.lock);
    auto it = r.sessions.find(session);
    if (it == r.sessions.end()) return true;
    if (it->second.closing) return false;
    it->second.closing = true;
    hold.unlock();
    session->Cancel();
    hold.lock();
    r.flowEnded.wait(hold, [&] { return r.sessions[session].flows == 0; });
    r.sessions.erase(session);
    return true;
}

}  // namespace fennix
