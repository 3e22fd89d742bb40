#pragma once
// The scan behind ScanResourceFolder, with the one addition a whole build needs.
#include <string>

// As ScanResourceFolder; in addition, a file that is the same file as excludedFile (when not
// empty and existing) is not recorded, so an output kept inside the scanned tree never packs
// an earlier copy of itself.
int RESOURCE_ScanTree(const std::string& relativeFolder, const std::string& root,
                      const std::string& excludedFile, std::string* error);
