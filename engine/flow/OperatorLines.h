// The operator's lines of the download, each with its status: written once,
// in the table of FlowTexts.cpp beside the stages and causes.
#pragma once

#include <cstdint>

namespace fennix {

enum class OperatorLine {
    None,  // no line
    TestCommunicationRetry,
    TestCommunicationFailed,
    TestCommunicationSucceeded,
    RequestParameter,
    HexFileOpenFailed,
    HexFileOpened,
    HexFileFailed,
    HexFileSucceeded,
    HelloFailed,
    HelloSucceeded,
    SecurityFailed,
    SecuritySucceeded,
    PartitionFailed,
    PartitionSucceeded,
    OblFailed,
    OblSucceeded,
    PblFailed,
    PblSucceeded,
    QcsblhdFailed,
    QcsblhdSucceeded,
    QcsblFailed,
    QcsblSucceeded,
    OemsblSucceeded,
    AmssFailed,
    AmssSucceeded,
    AmssBootFailed,
    AmssBootSucceeded,
    WindowsMobileFailed,
    WindowsMobileSucceeded,
    CefsFailed,
    CefsSucceeded,
    ResetWait,
    ResetFailed,
    ProcessFailed,
    SkipCheck,
    Blank,  // the empty line before the success after the power-on check
    ProcessSucceeded,
};

struct OperatorLineText {
    const char* text;  // null for OperatorLine::None
    int32_t status;    // 0 progress or success, -1 failure
};

const OperatorLineText& TextOf(OperatorLine line);

// An image's progress line of `percent` (" 42 % completed.") into `line`.
void FormatPercentLine(char (&line)[32], int percent);

}  // namespace fennix
