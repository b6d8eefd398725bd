// CComportLister: the COM ports that belong to the Qualcomm USB serial driver,
// for the operator program's port choosers.
#pragma once

#include <cstddef>
#include <string>

namespace fennix {

// Room the operator program gives GetComportList, terminating zero included.
constexpr size_t kComportListBufferSize = 256;

class CComportLister {
public:
    CComportLister() = default;
    virtual ~CComportLister() = default;

    // The port names of the matching ports in the order of the system's port
    // table, separated by ";" (empty when none matches or the table cannot be
    // read). Owned by the lister; valid until the next call or destruction.
    const char* BuildList();

private:
    std::string list_;
};

// Copies `list` with its terminating zero into `buffer` of `capacity` bytes,
// leaving out the names that no longer fit whole (and their separators).
void CopyPortList(const char* list, char* buffer, size_t capacity);

}  // namespace fennix
