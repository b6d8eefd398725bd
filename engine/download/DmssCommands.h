// CDmssCommands: the programmer upload over the DMSS download protocol (NOP,
// parameter request, 32-bit writes of the programmer into RAM, go), and the
// stage of the download that runs them.
#pragma once

#include <cstdint>
#include <string>

#include "download/DownloadExchange.h"
#include "download/HexFile.h"

namespace fennix {

class CDmssCommands : private CDownloadExchange {
public:
    using CDownloadExchange::FileFault;
    explicit CDmssCommands(IFlowContext& flow) : CDownloadExchange(flow) {}

    // Done or Failed: a lost NOP is as good as a refused one.
    StepResult TestCommunication();
    StepResult RequestParameter();
    StepResult Write32(uint32_t address, const uint8_t* data, uint16_t length);
    StepResult Go(uint16_t segment);
    StepResult DownloadHexFile(const std::string& programmerPath);
    // Ten NOPs, parameter request, upload, go; Done or the failing step's
    // result (the port is closed then).
    StepResult RunProgrammerStage(const std::string& programmerPath);

    // The segment the programmer starts at, from the latest HEX file opened.
    uint16_t StartSegment() const { return startSegment_; }

private:
    CHexFile hexFile_;
    uint16_t startSegment_ = 0;
};

}  // namespace fennix
