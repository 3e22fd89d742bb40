#pragma once
// A demo image set: a code folder with the boot chain, the AMSS header and the AMSS image, and
// a resource image built from a generated folder of resource files.
#include <cstdint>
#include <string>

struct DemoImages {
    std::string codeDir;       // .../WZRTAll
    std::string resourceFile;  // .../resources/VORODOV_rsc.bin
    std::uint64_t bytes = 0;   // image bytes a download sends per handset
};

// Writes the set under root (which must exist). 1 on success, 0 with error.
int DEMO_MakeImages(const std::string& root, std::uint32_t amssBytes, DemoImages& images,
                    std::string* error);
