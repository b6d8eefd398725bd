#include "Duck.h"

#include <algorithm>

#include "Brt.h"
#include "InputFile.h"

namespace fennix::cli {

namespace {

constexpr int32_t kDuckNamedRecord = -1;

// The first '#'-separated field, runs of '#' counting as one and a leading
// one skipped, is exactly "ARRAY".
bool IsDuckArrayName(const std::string& name) {
    const size_t begin = name.find_first_not_of('#');
    if (begin == std::string::npos) return false;
    const size_t end = std::min(name.find('#', begin), name.size());
    return name.compare(begin, end - begin, "ARRAY") == 0;
}

// What a damage text names an entry by: printable, and short.
std::string ShownName(const std::string& name) {
    constexpr size_t kShownMax = 60;
    std::string text;
    for (const char c : name.substr(0, kShownMax)) text += (c >= 0x20 && c < 0x7f) ? c : '?';
    return "\"" + text + (name.size() > kShownMax ? "...\"" : "\"");
}

class DuckReader {
public:
    explicit DuckReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    bool AtEnd() const { return at_ >= bytes_.size(); }
    uint64_t At() const { return at_; }

    // A 32-bit field called `field`; empty, or why it cannot be read.
    std::string Field(const std::string& field, int32_t* value) {
        const uint64_t left = bytes_.size() - at_;
        if (left < 4)
            return "the file ends inside " + field + " at byte " + std::to_string(at_) + " (4 bytes needed, " +
                   std::to_string(left) + " left)";
        *value = Le32(bytes_, at_);
        at_ += 4;
        return {};
    }

    // A length field and the bytes it counts, the "value" or the "name".
    std::string Counted(const std::string& what, std::string* text = nullptr) {
        const uint64_t field = at_;
        int32_t length = 0;
        std::string problem = Field("the " + what + "'s length", &length);
        if (!problem.empty()) return problem;
        if (length < 0)
            return "the " + what + "'s length " + std::to_string(length) + " at byte " + std::to_string(field) +
                   " is negative";
        if (bytes_.size() - at_ < static_cast<uint64_t>(length))
            return "the " + what + "'s length " + std::to_string(length) + " at byte " + std::to_string(field) +
                   " runs past the end of the file (" + std::to_string(bytes_.size()) + " bytes)";
        if (text) {
            const auto begin = bytes_.begin() + static_cast<std::ptrdiff_t>(at_);
            // A NUL inside the name ends it; the record still spans all its bytes.
            text->assign(begin, std::find(begin, begin + length, uint8_t{0}));
        }
        at_ += static_cast<uint64_t>(length);
        return {};
    }

private:
    const std::vector<uint8_t>& bytes_;
    uint64_t at_ = 0;
};

}  // namespace

std::string DuckDamage(const std::vector<uint8_t>& bytes) {
    DuckReader reader(bytes);
    for (uint64_t record = 1; !reader.AtEnd(); ++record) {
        std::string where = "record " + std::to_string(record);
        const std::string at = " at byte " + std::to_string(reader.At()) + ": ";
        int32_t first = 0;
        std::string problem = reader.Field("its first field", &first);
        if (problem.empty() && first != kDuckNamedRecord) {
            where += " (item " + std::to_string(first) + ")";
            problem = reader.Counted("value");
        } else if (problem.empty()) {
            std::string name;
            problem = reader.Counted("name", &name);
            if (problem.empty()) {
                where += " (" + ShownName(name) + ")";
                if (IsDuckArrayName(name)) {
                    problem = reader.Counted("value");
                } else {
                    problem = reader.Counted("first value");
                    if (problem.empty()) problem = reader.Counted("second value");
                }
            }
        }
        if (!problem.empty()) return where + at + problem;
    }
    return {};
}

bool CheckDuck(const std::string& path, std::string* damage, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!ReadInputFile(path, kDuckFileLimit, &bytes, error)) return false;
    *damage = DuckDamage(bytes);
    return true;
}

}  // namespace fennix::cli
