#include "Knobs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <stdexcept>

#include "FaultInjection.h"

namespace fennix::sim {

namespace {

constexpr int64_t kMany = std::numeric_limits<int32_t>::max();
constexpr int64_t kLongestMs = 600000;  // as msm-sim's other times
constexpr int64_t kLongestUs = 10000000;

}  // namespace

// A function's static, so that extensions registering before main find it built.
const std::vector<KnobSpec>& DeviceKnobs() {
    static const std::vector<KnobSpec> knobs = {
        {"diag.ack-download-switch", KnobType::Flag, 0, 1, 0, "echo the DIAG download switch (3A) before switching"},
        {"dl.refuse", KnobType::Code, -1, 255, -1,
         "refuse every download-mode request with this command code, not the NOP (DMSS: NAK; programmer: error 0E)"},
        {"dl.refuse-open", KnobType::Code, -1, 255, -1, "refuse opening this image type"},
        {"dl.silent-image", KnobType::Code, -1, 255, -1, "leave the stream writes of this image type unanswered ..."},
        {"dl.silent-after-blocks", KnobType::Number, 0, kMany, 0, "... after its first n blocks"},
        {"dl.wrong-echo-block", KnobType::Number, -1, kMany, -1,
         "answer the stream write of block n (counted over the download from 0) with a wrong address ..."},
        {"dl.wrong-echo-count", KnobType::Number, 1, kMany, 1, "... that many times in a row"},
        {"dl.late-block", KnobType::Number, -1, kMany, -1,
         "answer the stream write of block n (counted as above) late; a resend is answered right after it ..."},
        {"dl.late-ms", KnobType::Milliseconds, 0, kLongestMs, 1000, "... by this much"},
        {"dl.write-delay-ms", KnobType::Milliseconds, 0, kLongestMs, 0,
         "answer every stream write this much later (a slow flash; one block in flight)"},
        {"dl.window", KnobType::Number, 0, 65535, 1,
         "stream writes the hello reply says may be outstanding (its window size)"},
        {"dl.max-block", KnobType::Number, 1, 32768, 1024,
         "largest block the hello reply announces; a longer stream write is refused (error 0E)"},
        {"dl.hello-cut", KnobType::Flag, 0, 1, 0, "the hello reply ends after the flash ID (no window size)"},
        {"dl.swap-answers", KnobType::Flag, 0, 1, 0,
         "answer the stream writes 2k and 2k+1 of each image in swapped order (a held answer goes alone "
         "after 20 ms)"},
        {"dl.double-answer-block", KnobType::Number, -1, kMany, -1,
         "answer the stream write of block n (counted as dl.late-block) twice"},
        {"dl.reset-fails", KnobType::Flag, 0, 1, 0, "refuse the programmer's reset (the device keeps running)"},
        {"dl.stay-away", KnobType::Flag, 0, 1, 0, "after the programmer's reset the port vanishes for good"},
        {"link.profile", KnobType::Number, 0, 2, 0,
         "the USB link to the host: 0 none (no latency, no limit), 1 usb-fs (full speed), 2 usb-hs (high speed)"},
        {"link.to-device-latency-us", KnobType::Number, -1, kLongestUs, -1,
         "latency of the link to the device in microseconds (-1: the profile's)"},
        {"link.to-host-latency-us", KnobType::Number, -1, kLongestUs, -1,
         "latency of the link to the host in microseconds (-1: the profile's)"},
        {"link.to-device-bytes-per-ms", KnobType::Number, -1, kMany, -1,
         "bandwidth of the link to the device (0 unlimited, -1 the profile's)"},
        {"link.to-host-bytes-per-ms", KnobType::Number, -1, kMany, -1,
         "bandwidth of the link to the host (0 unlimited, -1 the profile's)"},
        {"link.turnaround-us", KnobType::Number, -1, kLongestUs, -1,
         "the device answers this long after a request has reached it (-1: the profile's)"},
        {"fault.kind", KnobType::Number, 0, static_cast<int64_t>(InjectedFault::Refused), 0,
         "the injected fault: 1 no-answer, 2 late-answer, 3 wrong-command, 4 wrong-echo, 5 stray-frame, "
         "6 truncated, 7 bad-crc, 8 vanish, 9 vanish-return, 10 refused (0 none)"},
        {"fault.mode", KnobType::Number, -1, 2, -1,
         "count requests only in this mode: 0 AT, 1 DIAG, 2 download (-1 any)"},
        {"fault.command", KnobType::Code, -1, 255, -1, "count only requests with this command code (-1 any)"},
        {"fault.nth", KnobType::Number, 1, kMany, 1, "the counted request that gets the injected fault, from 1"},
        {"fault.late-ms", KnobType::Milliseconds, 0, kLongestMs, 3000, "delay of the injected late answer"},
        {"id.esn", KnobType::Number, -1, 0xFFFFFFFFLL, -1,
         "ESN of NV item 0 (-1: the status reply's ESN plus the device's place)"},
        {"id.imei", KnobType::Number, -1, 999999999999999LL, -1,
         "IMEI of NV item 550 as its 15 digits, check digit included (-1: one per device)"},
        {"id.meid", KnobType::Number, -1, 0xFFFFFFFFFFFFFFLL, -1, "MEID of NV item 1943 (-1: one per device)"},
        {"nv.reject-reads", KnobType::Flag, 0, 1, 0, "refuse every NV read as a bad command"},
        {"nv.refuse-item", KnobType::Number, -1, 65535, -1, "refuse the NV reads and writes of this item (-1 none)"},
    };
    return knobs;
}

namespace {

std::vector<KnobSpec>& ExtensionKnobs() {
    static std::vector<KnobSpec> knobs;
    return knobs;
}

}  // namespace

const char* KnobTypeName(KnobType type) {
    switch (type) {
        case KnobType::Flag: return "flag";
        case KnobType::Number: return "number";
        case KnobType::Code: return "code";
        case KnobType::Milliseconds: return "ms";
    }
    return "?";
}

std::vector<KnobSpec> AllKnobs() {
    std::vector<KnobSpec> all = DeviceKnobs();
    all.insert(all.end(), ExtensionKnobs().begin(), ExtensionKnobs().end());
    return all;
}

const KnobSpec* FindKnob(std::string_view name) {
    for (const KnobSpec& spec : DeviceKnobs())
        if (spec.name == name) return &spec;
    for (const KnobSpec& spec : ExtensionKnobs())
        if (spec.name == name) return &spec;
    return nullptr;
}

std::string KnobListText() {
    const std::vector<KnobSpec> all = AllKnobs();
    size_t width = 0;
    for (const KnobSpec& k : all) width = std::max(width, k.name.size());
    auto padded = [](std::string text, size_t width) {
        text.resize(std::max(text.size(), width), ' ');
        return text + "  ";
    };
    std::string text;
    for (const KnobSpec& k : all) {
        text += padded(k.name, width) + padded(KnobTypeName(k.type), 6) +
                padded(std::to_string(k.low) + ".." + std::to_string(k.high), 14) +
                padded("default " + std::to_string(k.fallback), 13) + k.help + "\n";
    }
    return text;
}

CKnobRegistration::CKnobRegistration(KnobSpec spec) {
    if (FindKnob(spec.name) || spec.fallback < spec.low || spec.fallback > spec.high) {
        // Static registration runs before main: no one could catch a throw.
        std::fprintf(stderr, "msm-sim: knob %s registered twice or with its default out of range\n", spec.name.c_str());
        std::abort();
    }
    ExtensionKnobs().push_back(std::move(spec));
}

std::string KnobCheck::Message() const {
    switch (status) {
        case KnobStatus::Ok: return {};
        case KnobStatus::UnknownName: return "unknown knob " + name;
        case KnobStatus::OutOfRange: {
            const KnobSpec* spec = FindKnob(name);
            return "knob " + name + " takes " + std::to_string(spec->low) + ".." + std::to_string(spec->high) +
                   ", not " + std::to_string(value);
        }
    }
    return {};
}

KnobCheck CheckKnob(std::string_view name, int64_t value) {
    KnobCheck check{KnobStatus::Ok, std::string(name), value};
    const KnobSpec* spec = FindKnob(name);
    if (!spec)
        check.status = KnobStatus::UnknownName;
    else if (value < spec->low || value > spec->high)
        check.status = KnobStatus::OutOfRange;
    return check;
}

KnobValues::Slot& KnobValues::Slot::operator=(int64_t value) {
    const KnobCheck check = owner_.Set(name_, value);
    if (!check.Ok()) throw std::invalid_argument(check.Message());
    return *this;
}

KnobValues::KnobValues(std::initializer_list<std::pair<const std::string, int64_t>> values) {
    for (const auto& [name, value] : values) (*this)[name] = value;
}

KnobCheck KnobValues::Set(const std::string& name, int64_t value) {
    KnobCheck check = CheckKnob(name, value);
    if (check.Ok()) values_[name] = value;
    return check;
}

int64_t KnobValues::Get(std::string_view name) const {
    const KnobSpec* spec = FindKnob(name);
    if (!spec) throw std::logic_error("knob " + std::string(name) + " is read but not registered");
    auto it = values_.find(name);
    return it == values_.end() ? spec->fallback : it->second;
}

}  // namespace fennix::sim
