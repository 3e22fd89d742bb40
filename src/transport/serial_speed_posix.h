#pragma once
// The bit rate of a tty, set to exactly the number asked for where the platform allows it
// (Linux: termios2 with BOTHER). Kept apart because <asm/termbits.h> and <termios.h> cannot
// meet in one file. Not for use above the transport layer.

// Sets input and output bit rate to baud. 1 on success, 0 with errno set.
int SERIAL_POSIX_SetSpeed(int fd, int baud);
// The output bit rate the driver now reports, or -1 with errno set.
int SERIAL_POSIX_GetSpeed(int fd);

// True when the rate a driver reports is close enough to the one asked for: USB adapters report
// the rate their divisor really achieves, and a UART tolerates a few per cent (here 2.5%).
bool SERIAL_SpeedWithinTolerance(int requested, int actual);

// The read-back the open uses; tests replace it to play a driver that rounds (nullptr restores
// SERIAL_POSIX_GetSpeed).
using SpeedReadBackFn = int (*)(int fd);
void SERIAL_POSIX_SetSpeedReadBack(SpeedReadBackFn fn);
int SERIAL_POSIX_ReadBackSpeed(int fd);
