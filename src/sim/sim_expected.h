#pragma once
// What a channel's run should have left in a handset's flash, from its image table: each
// image's bytes at its address in the area its slot selects (the file-system area for the
// resource image; for the AMSS image only its part from the address on).
#include <string>
#include <vector>

#include "sim/sim_flash.h"

// 1 and the images; 0 with error when an image file cannot be read.
int SIM_ExpectedImages(int channel, std::vector<SimExpectedImage>& images, std::string* error);
