#pragma once
// Whether the window can have a display here, asked before the toolkit looks for one (which
// would end the process with a message about its plugins instead): where nothing can be shown
// (a server, an ssh session without forwarding), the station says so in one line and what to do.
#include <string>

// True when a display is plausibly there: a toolkit platform that needs none (offscreen ...), a
// Wayland socket, or an X display that accepts a connection (local displays are tried; a remote
// one is left to the toolkit). False with why set ("DISPLAY is not set", "nothing answers on
// display :0") otherwise.
bool STATION_DisplayAvailable(std::string* why);

// The line printed when there is none.
std::string STATION_NoDisplayText(const std::string& why);
