#include "session/SessionRegistry.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace fennix {

namespace {

struct Entry {
    std::unique_ptr<CQualCmd> session;  // null while it is being freed
    int calls = 0;
    // The threads of the running calls, so that Close can tell it is called
    // from inside one of them (the progress callback) and must not wait.
    std::vector<std::thread::id> callers;
    bool closing = false;
    // Closed on a flow's own thread: no closer waits, the last call frees it.
    bool freeAtLastCall = false;
};

struct Registry {
    std::mutex lock;
    std::condition_variable changed;  // a call ended or a session was freed
    std::unordered_map<uintptr_t, Entry> sessions;
    uintptr_t lastKey = 0;
};

// Never destroyed: a flow or Close may still run while the process exits.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

uintptr_t KeyOf(FennixHandle handle) { return reinterpret_cast<uintptr_t>(handle); }

bool CallsOnThisThread(const Entry& entry) {
    return std::find(entry.callers.begin(), entry.callers.end(), std::this_thread::get_id()) != entry.callers.end();
}

// Frees the session of a closing entry with no calls left, then drops the
// entry. The entry stays (closing, without its session) while the session's
// destructor runs unlocked, so that a second Close waits for it to end.
void Free(Registry& r, std::unique_lock<std::mutex>& hold, uintptr_t key) {
    std::unique_ptr<CQualCmd> session = std::move(r.sessions.at(key).session);
    hold.unlock();
    session.reset();
    hold.lock();
    r.sessions.erase(key);
    r.changed.notify_all();
}

}  // namespace

FennixHandle RegisterSession(std::unique_ptr<CQualCmd> session) {
    if (!session) return nullptr;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    // Keys run through the whole range before one comes again (on 32-bit
    // systems after four billion sessions), skipping the live ones.
    do {
        ++r.lastKey;
    } while (r.lastKey == 0 || r.sessions.count(r.lastKey) != 0);
    r.sessions[r.lastKey].session = std::move(session);
    return reinterpret_cast<FennixHandle>(r.lastKey);
}

CFlowEntry::CFlowEntry(FennixHandle handle) : handle_(handle) {
    if (!handle) return;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    auto it = r.sessions.find(KeyOf(handle));
    if (it == r.sessions.end() || it->second.closing) return;
    ++it->second.calls;
    it->second.callers.push_back(std::this_thread::get_id());
    session_ = it->second.session.get();
}

CFlowEntry::~CFlowEntry() {
    if (!session_) return;
    Registry& r = TheRegistry();
    std::unique_lock<std::mutex> hold(r.lock);
    Entry& entry = r.sessions.at(KeyOf(handle_));
    --entry.calls;
    entry.callers.erase(std::find(entry.callers.begin(), entry.callers.end(), std::this_thread::get_id()));
    if (entry.calls > 0 || !entry.closing) return;
    if (entry.freeAtLastCall)
        Free(r, hold, KeyOf(handle_));
    else
        r.changed.notify_all();
}

void CloseSession(FennixHandle handle) {
    if (!handle) return;
    const uintptr_t key = KeyOf(handle);
    Registry& r = TheRegistry();
    std::unique_lock<std::mutex> hold(r.lock);
    auto it = r.sessions.find(key);
    if (it == r.sessions.end()) return;
    Entry& entry = it->second;
    const bool onFlowThread = CallsOnThisThread(entry);
    if (entry.closing) {
        if (!onFlowThread) r.changed.wait(hold, [&] { return r.sessions.count(key) == 0; });
        return;
    }
    entry.closing = true;
    CQualCmd* session = entry.session.get();
    if (onFlowThread) {
        // Waiting here would wait for this very thread. The caller's own call
        // keeps the session alive while it is cancelled.
        entry.freeAtLastCall = true;
        hold.unlock();
        session->Cancel();
        return;
    }
    hold.unlock();
    session->Cancel();
    hold.lock();
    r.changed.wait(hold, [&] { return r.sessions.at(key).calls == 0; });
    Free(r, hold, key);
}

}  // namespace fennix
