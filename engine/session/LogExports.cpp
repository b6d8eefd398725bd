// StartLog and EndLog: the exported switches of the daily log.
#include "fennix/fennix.h"
#include "log/Log.h"

extern "C" {

FENNIX_API int32_t FENNIX_CALL StartLog(void) {
    fennix::OpenLog();
    return 0;
}

FENNIX_API int32_t FENNIX_CALL EndLog(void) {
    fennix::CloseLog();
    return 0;
}

}  // extern "C"
