#pragma once
// Resource identifiers of pelor-station.exe (pelor-station.rc).
#define IDI_STATION 101
