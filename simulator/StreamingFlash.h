// What a virtual device holds after the host's download: the programmer it was
// given over DMSS, and what the programmer wrote into flash (partition table,
// each image with its header). Tests and the demo compare these bytes with the
// files the host sent.
//
// Faults of the download, as knobs of the device's options (registered with
// their ranges in Knobs.cpp; also settable as --knob name=value on the command
// line of msm-sim):
//   dl.refuse=<code>             refuse every request with this command code
//                                (DMSS: NAK; programmer: error reply 0x0E);
//                                not the NOP, which the device core answers
//   dl.refuse-open=<type>        refuse opening this image type
//   dl.silent-image=<type>       stop answering stream writes of this image ...
//   dl.silent-after-blocks=<n>   ... after its first n blocks (default 0)
//   dl.wrong-echo-block=<n>      answer the stream write of block n (counted
//                                over the whole download from 0) with a wrong
//                                address ...
//   dl.wrong-echo-count=<n>      ... that many times in a row (default 1)
//   dl.late-block=<n>            answer the stream write of block n (counted
//                                as above) late ...
//   dl.late-ms=<ms>              ... by this much (default 1000); a resend of
//                                the block is answered right after it
//   dl.window=<n>                the window the hello reply announces (default 1)
//   dl.max-block=<n>             the largest block it announces (default 1024);
//                                a longer stream write is refused (error 0E)
//   dl.hello-cut=1               the hello reply ends after the flash ID
//   dl.swap-answers=1            answer the image's writes 2k and 2k+1 in
//                                swapped order (2k alone after 20 ms without 2k+1)
//   dl.double-answer-block=<n>   answer stream write n (counted as above) twice
//   dl.reset-fails=1             refuse the reset (the device keeps running)
//   dl.stay-away=1               after the reset the port vanishes for good
// Plain silence on one command is the device's common fault switch (Faults
// silent + onlyCommand).
//
// With FENNIX_SIM_FLASH_DIR set, a device also writes what it was given into
// that folder (programmer.bin, partition.bin, image-<type>.bin and .hdr), so
// that a device in another process can be checked too.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace fennix::sim {

class CVirtualDevice;
struct DeviceState;

struct FlashedImage {
    std::vector<uint8_t> header;
    std::vector<uint8_t> bytes;
};

struct DownloadTarget {
    // DMSS: the programmer as written into RAM, from its lowest address.
    uint32_t programmerBase = 0;
    std::vector<uint8_t> programmer;
    uint32_t writes = 0;
    uint32_t ramBoot = 0;  // the boot the RAM content belongs to
    int32_t goSegment = -1;
    bool programmerRunning = false;
    uint32_t runningSinceBoot = 0;  // the boot the programmer was started in

    // Streaming.
    uint32_t hellos = 0;
    int32_t securityMode = -1;
    std::vector<uint8_t> partitionTable;
    bool partitionAccepted = false;
    int32_t openType = -1;
    FlashedImage open;
    uint32_t blocksOfOpenImage = 0;
    uint32_t blocksTotal = 0;
    uint32_t wrongEchoesSent = 0;
    std::map<int, FlashedImage> images;  // committed by the close, per image type
    std::vector<int> imageOrder;         // types in the order they were committed
    uint32_t resets = 0;
    uint64_t bytesStreamed = 0;

    // The programmer is running in the device's current boot.
    bool Running(const DeviceState& state) const;
};

// A copy of the device's download state (images included).
DownloadTarget SnapshotDownloadTarget(CVirtualDevice& device);
// Cheap live figures for progress displays.
uint64_t StreamedBytes(CVirtualDevice& device);

}  // namespace fennix::sim
