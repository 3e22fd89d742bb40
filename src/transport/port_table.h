#pragma once
// Port numbers and devices. The window and the texts speak of "COM%d"; the port table says
// which device each number stands for. On Windows port n is "\\.\COMn". On POSIX the settings
// file's section "PORTS" holds keys "COM1", "COM2", ... whose values are device paths; a device
// seen for the first time gets the lowest free number and keeps it.
#include <string>
#include <vector>

inline constexpr int kMaxPortNumber = 255;

// The device of port n, or empty when n is not mapped (or out of 1..kMaxPortNumber).
std::string PORTTABLE_Device(int portNumber);
// The port number of a device: its existing entry, or the lowest free number, which is then
// kept. Returns 0 when the table is full or the name is empty.
int PORTTABLE_Assign(const std::string& device);
// The port number of a device already in the table, or 0.
int PORTTABLE_Find(const std::string& device);
void PORTTABLE_Set(int portNumber, const std::string& device);
void PORTTABLE_Clear();
// Reads and writes section "PORTS" of an INI file. Load replaces the table. 1 on success.
int PORTTABLE_Load(const std::string& iniPath);
int PORTTABLE_Save(const std::string& iniPath);
// Serial devices present now (POSIX: stable /dev/serial/by-path names where there are, else
// /dev/ttyUSB*, /dev/ttyACM*, ...), each once.
std::vector<std::string> PORTTABLE_ScanDevices();
// The same scan under another device folder instead of /dev (for tests). On Windows the folder
// is ignored.
std::vector<std::string> PORTTABLE_ScanDevicesIn(const std::string& devDir);
// What a device is, whatever it is called: every name of one device gives the same text, so a
// /dev/serial/by-path link and the /dev/ttyUSBn it leads to are one device. POSIX: the device
// number of a device node (else the file system's device and inode), every link followed;
// Windows: "COMn" for "\\.\COMn", "com7" or "COM7". A name that leads nowhere gives itself.
std::string PORTTABLE_DeviceIdentity(const std::string& device);
// Short name of a device for a selector entry ("ttyUSB0" for /dev/ttyUSB0).
std::string PORTTABLE_ShortName(const std::string& device);
