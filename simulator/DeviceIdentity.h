// Who a virtual device is: the values of its ESN (NV item 0), IMEI (550) and
// MEID (1943) items, from the knobs id.esn, id.imei and id.meid or, unset,
// from defaults that differ by the device's place among those one msm-sim
// serves. The memory's own item, once written or preloaded, wins.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "DeviceOptions.h"

namespace fennix::sim {

// The item's value as a plain read returns it, for the three identity items;
// nullopt for any other item.
std::optional<std::vector<uint8_t>> IdentityItemValue(const DeviceOptions& options, uint16_t item);

// The 9-byte IMEI item of 15 digits (a number below 10^15, leading zeros
// kept): length byte 8, the 0xA nibble, the digits, each byte low nibble first.
std::vector<uint8_t> ImeiItemOf(uint64_t digits);

}  // namespace fennix::sim
