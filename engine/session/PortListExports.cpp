// GetComportList: the exported port list for the operator program's choosers.
#include "fennix/fennix.h"
#include "serial/ComportLister.h"

extern "C" FENNIX_API int32_t FENNIX_CALL GetComportList(char* buffer) {
    fennix::CComportLister lister;
    fennix::CopyPortList(lister.BuildList(), buffer, fennix::kComportListBufferSize);
    return 0;
}
