#include "AtInterpreter.h"

#include <cctype>

namespace fennix::sim {

static constexpr size_t kMaxLine = 512;
static const char kOk[] = "\r\nOK\r\n";
static const char kError[] = "\r\nERROR\r\n";

static std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool CAtInterpreter::Feed(uint8_t byte, Line* line) {
    if (byte != '\r') {
        if (pending_.size() < kMaxLine) pending_.push_back(static_cast<char>(byte));
        return false;
    }
    std::string upper = Upper(pending_);
    size_t at = upper.find("AT");
    std::string command = at == std::string::npos ? std::string() : pending_.substr(at);
    pending_.clear();
    *line = command.empty() ? Line{} : Evaluate(command);
    return true;
}

CAtInterpreter::Line CAtInterpreter::Evaluate(const std::string& command) {
    Line line;
    line.command = command;
    std::string body = Upper(command.substr(2));
    while (!body.empty() && (body.back() == ' ' || body.back() == '\n')) body.pop_back();
    if (body.empty() || body == "Z" || body == "&F" || body == "V1" || body == "Q0") {
        line.answer = kOk;
    } else if (body == "$QCDMG") {
        line.answer = kOk;
        line.switchToDiag = true;
    } else if (body == "E0") {
        line.answer = kOk;
        line.echoOff = true;
    } else if (body == "E1" || body == "E") {
        line.answer = kOk;
        line.echoOn = true;
    } else if (body == "I" || body == "+GMI" || body == "+CGMI") {
        line.answer = "\r\nQUALCOMM INCORPORATED\r\n" + std::string(kOk);
    } else {
        line.answer = kError;
    }
    return line;
}

}  // namespace fennix::sim
