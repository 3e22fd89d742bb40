#pragma once
// What a Download writes: the checks of the operator's choices and the filling of every
// channel's image table, shared by the window and the command line so they can never disagree.
#include <string>

#include "jobs/port_assignment.h"

// The values the Download handler reads from controls; everything else comes from the
// settings globals (code folder, image folder and base name, erase and boot options,
// resource file).
struct DownloadControls {
    bool codeChecked = false;
    std::string codeAddressText;  // the code address edit
    bool resourceChecked = false;
    std::string resourceAddressText;  // the resource address edit
    // Production mode with Auto on: a socket gets its port when a handset arrives, so a start
    // without any port is no mistake.
    bool portsMayArrive = false;
};

enum DownloadCheck {
    DOWNLOAD_READY = 1,    // image tables filled; start the channels
    DOWNLOAD_REFUSED = 0,  // a notice for the operator; nothing was started
    DOWNLOAD_NO_FILE = 2,  // "ERR: No File": the AMSS or resource image cannot be read
};

// Clears the image tables, checks the choices and fills the slots:
// 0, 3 and 4 ("Dummy") with the erase options and the code row; 5 to 12 with the images of
// the code folder (6 to 10 only with Change Boot Area); 13 with the resource image.
// On anything but DOWNLOAD_READY, *message holds the text to show ("Invalid Code
// Image/Address !", "Select Image !", "ERR: No File", "Invalid Resource Address ! ..." for an
// address other than 1 to 8 hexadecimal digits, or why a path or address is too long).
int PELOR_FillImages(const DownloadControls& controls, std::string* message);

// Everything a Download is checked for before any port opens, the one check of the window and
// the command line: the choices (as PELOR_FillImages), every file the run would send (the code
// folder's images for the chosen options and the resource image, each a readable file), and the
// channels' ports (at least one, unless controls.portsMayArrive, and no device on two
// channels, however each is named). DOWNLOAD_READY with the image tables filled; otherwise the
// tables are empty and *message is the one text to show: a notice of PELOR_FillImages,
// "ERR: No File: " naming each missing input and what was expected of it, or what is wrong
// with the ports.
int PELOR_CheckDownload(const DownloadControls& controls, const ChannelPorts& ports,
                        std::string* message);

// The image file names of the code folder, by slot (empty for slots without one).
std::string PELOR_CodeImagePath(int slot);
