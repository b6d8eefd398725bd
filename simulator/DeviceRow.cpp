#include "DeviceRow.h"

#include <cerrno>
#include <cstdlib>
#include <set>
#include <unistd.h>

#include "StablePath.h"

namespace fennix::sim {
namespace {

// The sockets' paths of this process's rows: a socket is empty in its gaps,
// and another row must not take its name then.
std::mutex& RowPathsMutex() {
    static std::mutex m;
    return m;
}
std::set<std::string>& RowPaths() {
    static std::set<std::string> paths;
    return paths;
}

}  // namespace

CDeviceRow::CDeviceRow(DeviceRowOptions options) : options_(std::move(options)) {
    for (DeviceOptions o : options_.devices) {
        if (o.leaveAfterIdleMs == 0) o.leaveAfterIdleMs = options_.leaveAfterIdleMs;
        devices_.push_back(std::make_unique<CVirtualDevice>(std::move(o)));
    }
    left_.assign(devices_.size(), false);
}

CDeviceRow::~CDeviceRow() {
    Stop();
    std::lock_guard<std::mutex> lock(RowPathsMutex());
    RowPaths().erase(path_);
}

int CDeviceRow::Start() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (started_) return EALREADY;
        if (devices_.empty()) return EINVAL;
        started_ = true;
    }
    std::string dir = options_.directory;
    if (dir.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fennix-row-XXXXXX";
        if (!mkdtemp(pattern.data())) return errno;
        dir = privateDirectory_ = pattern;
    }
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    {
        std::lock_guard<std::mutex> lock(RowPathsMutex());
        std::string path;
        if (!options_.name.empty()) {
            path = dir + "/" + options_.name;
            if (RowPaths().count(path)) path.clear();
        } else {
            for (int n = 0; n < 10000 && path.empty(); ++n) {
                std::string candidate = dir + "/ttyMSM" + std::to_string(n);
                if (!RowPaths().count(candidate) && CStablePath::Usable(candidate)) path = candidate;
            }
        }
        if (path.empty()) return EEXIST;
        RowPaths().insert(path_ = path);
    }
    const std::string name = path_.substr(path_.rfind('/') + 1);
    for (auto& device : devices_)
        device->WithState([&](DeviceState& s) {
            s.options.directory = dir;
            s.options.name = name;
        });

    const bool firstNow = options_.appearAfterMs == 0;
    if (firstNow) {
        if (int error = Arrive(0)) return error;
    }
    thread_ = std::thread(&CDeviceRow::Run, this, firstNow);
    return 0;
}

void CDeviceRow::Stop() {
    CVirtualDevice* current = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        current = current_;
    }
    changed_.notify_all();
    // Wakes the wait for the device to leave, which looks at stopping_.
    if (current) current->WithState([](DeviceState&) {});
    if (thread_.joinable()) thread_.join();
    for (auto& device : devices_) device->Stop();
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = nullptr;
    changed_.notify_all();
    if (!privateDirectory_.empty()) {
        rmdir(privateDirectory_.c_str());
        privateDirectory_.clear();
    }
}

std::string CDeviceRow::Path() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

size_t CDeviceRow::Served() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return served_;
}

CVirtualDevice* CDeviceRow::Current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_;
}

bool CDeviceRow::Left(size_t k) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return k < left_.size() && left_[k];
}

int CDeviceRow::Error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

bool CDeviceRow::WaitForServed(size_t count, Ms timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return served_ >= count; });
}

bool CDeviceRow::WaitForLeft(size_t k, Ms timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return k < left_.size() && left_[k]; });
}

void CDeviceRow::Run(bool firstArrived) {
    if (!firstArrived && (!Pause(options_.appearAfterMs) || Arrive(0) != 0)) return;
    for (size_t k = 0;;) {
        WaitUntilGone(k);
        if (stopping_) return;
        // The device has left the bus for good; Stop gives its name back so
        // that the next device can take it.
        devices_[k]->Stop();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            current_ = nullptr;
            left_[k] = true;
        }
        changed_.notify_all();
        if (++k == devices_.size() || !Pause(options_.gapMs) || Arrive(k) != 0) return;
    }
}

bool CDeviceRow::Pause(uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_for(lock, Ms(ms), [&] { return stopping_.load(); });
}

int CDeviceRow::Arrive(size_t k) {
    const int error = devices_[k]->Start();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (error != 0) {
            error_ = error;
        } else {
            current_ = devices_[k].get();
            ++served_;
        }
    }
    changed_.notify_all();
    return error;
}

void CDeviceRow::WaitUntilGone(size_t k) {
    while (!devices_[k]->WaitForState([this](const DeviceState& s) { return s.gone || stopping_; }, Ms(60000))) {
    }
}

}  // namespace fennix::sim
