// Writes a small synthetic firmware set for the GUI test into a folder: the
// programmer NPRG6280.HEX and the image files Tarnwell's rows name by default
// (partition.mbn, pbl.mbn, the boot loaders with their headers, amss.mbn).
#include <cstdio>
#include <exception>

#include "simulator/StreamingImageSet.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gui_image_set <directory>\n");
        return 2;
    }
    fennix::sim::SampleImageSizes sizes;
    // Small enough that eight devices finish in seconds under Wine, large
    // enough that every image shows several percentage lines.
    sizes.programmer = 8 * 1024;
    sizes.pbl = 4 * 1024;
    sizes.qcsbl = 8 * 1024;
    sizes.oemsbl = 8 * 1024;
    sizes.amss = 32 * 1024;
    sizes.cefs = 0;
    try {
        const fennix::sim::SampleImageSet set = fennix::sim::WriteSampleImageSet(argv[1], sizes);
        std::printf("%s\n", set.programmer.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gui_image_set: %s\n", e.what());
        return 1;
    }
    return 0;
}
