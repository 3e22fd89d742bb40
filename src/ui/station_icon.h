#pragma once
// The program's icon, drawn in code: a handset with a download arrow.
#include <QIcon>
#include <QPixmap>

// One rendering of the icon at size x size pixels.
QPixmap STATION_IconPixmap(int size);
// The icon with its usual sizes (16, 24, 32, 48, 64).
QIcon STATION_Icon();
