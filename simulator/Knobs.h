// The device's knobs: named integer settings that switch on the faults and
// quirks of the protocol handlers. Every knob is registered once, with its
// type, range, default and a line of help; a knob set or read by any other
// name is refused, so a misspelt knob cannot quietly leave a test without
// its fault.
//
// The device's own knobs live in one table (Knobs.cpp); a protocol extension
// adds its own with a static CKnobRegistration. `msm-sim --list-knobs` prints
// them all.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fennix::sim {

enum class KnobType {
    Flag,          // 0 or 1
    Number,        // a count, an index or an item number
    Code,          // a command code or image type
    Milliseconds,  // a time
};

const char* KnobTypeName(KnobType type);

struct KnobSpec {
    std::string name;
    KnobType type = KnobType::Number;
    int64_t low = 0;
    int64_t high = 0;
    int64_t fallback = 0;  // the value of a knob nobody set; within low..high
    std::string help;
};

// The device's own knobs, in the order they are listed.
const std::vector<KnobSpec>& DeviceKnobs();
// Every registered knob: the device's own, then the extensions'.
std::vector<KnobSpec> AllKnobs();
// The knob of that name, or nullptr.
const KnobSpec* FindKnob(std::string_view name);
// One line per knob: name, type, range, default, help.
std::string KnobListText();

// Adds an extension's knob; keep it in a namespace-scope constant, like
// CHandlerRegistration. A name given twice stops the program at start.
class CKnobRegistration {
public:
    explicit CKnobRegistration(KnobSpec spec);
};

enum class KnobStatus { Ok, UnknownName, OutOfRange };

// The verdict on setting one knob, with what an operator needs to mend it.
struct KnobCheck {
    KnobStatus status = KnobStatus::Ok;
    std::string name;
    int64_t value = 0;

    bool Ok() const { return status == KnobStatus::Ok; }
    // "unknown knob NAME" or "knob NAME takes LOW..HIGH, not VALUE"; empty when Ok.
    std::string Message() const;
};

KnobCheck CheckKnob(std::string_view name, int64_t value);

// The knobs set on one device. Only registered names and values in range get
// in: Set refuses the others, operator[] (for settings written in code)
// throws std::invalid_argument with the message. Reading a name that is not
// registered throws std::logic_error: a typo in a handler is a fault of the
// program, not a knob left at its default.
class KnobValues {
public:
    class Slot {
    public:
        Slot& operator=(int64_t value);

    private:
        friend class KnobValues;
        Slot(KnobValues& owner, std::string name) : owner_(owner), name_(std::move(name)) {}
        KnobValues& owner_;
        std::string name_;
    };

    KnobValues() = default;
    KnobValues(std::initializer_list<std::pair<const std::string, int64_t>> values);

    KnobCheck Set(const std::string& name, int64_t value);
    Slot operator[](const std::string& name) { return Slot(*this, name); }
    // The value set, or the knob's default.
    int64_t Get(std::string_view name) const;
    bool empty() const { return values_.empty(); }
    const std::map<std::string, int64_t, std::less<>>& Values() const { return values_; }

private:
    std::map<std::string, int64_t, std::less<>> values_;
};

}  // namespace fennix::sim
