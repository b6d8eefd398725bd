#include "FennixApi.h"

#include <dlfcn.h>

namespace fennix::bench {

namespace {

template <typename F>
bool Find(void* library, const char* name, F* out, std::string* error) {
    *out = reinterpret_cast<F>(dlsym(library, name));
    if (*out) return true;
    if (error) *error = std::string("libFennix has no export ") + name;
    return false;
}

}  // namespace

bool FennixApi::Load(const std::string& libraryPath, std::string* error) {
    // Local binding: the library keeps its own copy of the engine, apart from
    // the virtual devices' code linked into this program.
    void* library = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        if (error) *error = dlerror();
        return false;
    }
    return Find(library, "StartLog", &startLog, error) && Find(library, "EndLog", &endLog, error) &&
           Find(library, "SetComPort", &setComPort, error) && Find(library, "SetHexFile", &setHexFile, error) &&
           Find(library, "SetMbnFile", &setMbnFile, error) && Find(library, "SetSkipCheck", &setSkipCheck, error) &&
           Find(library, "SetEventCallback", &setEventCallback, error) &&
           Find(library, "SetStreaming", &setStreaming, error) &&
           Find(library, "StartDownload", &startDownload, error) && Find(library, "Close", &close, error);
}

std::string DefaultLibraryPath() { return FENNIX_LIBRARY_PATH; }

}  // namespace fennix::bench
