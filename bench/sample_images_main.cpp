// fennix-sample-images: writes the virtual devices' sample image set into a
// folder, for scripts that run `fennix station` against msm-sim.
//
//   fennix-sample-images DIR [--amss-kb N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "simulator/StreamingImageSet.h"

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "--amss-kb") == 0 && std::atoi(argv[3]) > 0)) {
        std::fprintf(stderr, "usage: fennix-sample-images DIR [--amss-kb N]\n");
        return 2;
    }
    fennix::sim::SampleImageSizes sizes;
    if (argc == 4) sizes.amss = static_cast<size_t>(std::atoi(argv[3])) * 1024;
    try {
        fennix::sim::WriteSampleImageSet(argv[1], sizes);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fennix-sample-images: %s\n", e.what());
        return 1;
    }
    return 0;
}
