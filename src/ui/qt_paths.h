#pragma once
// File paths between the Qt widgets and the window's logic. The logic holds a path as the file
// system's bytes; Qt holds text. A name that is not valid in the system's encoding (a Latin-1
// name on a UTF-8 system) shows with replacement characters, and the bytes behind it are found
// again from the folder it is in, so it is never turned into a second, different name.
#include <QString>
#include <string>

// The text a path shows as.
QString UI_PathToQt(const std::string& path);
// The bytes of a path Qt gives (a picker's answer, typed text): the system's encoding of it,
// where a component that does not exist so is the entry of its folder that shows as it does.
std::string UI_PathFromQt(const QString& path);
