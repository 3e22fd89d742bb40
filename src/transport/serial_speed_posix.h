#pragma once
// The bit rate of a tty, set to exactly the number asked for where the platform allows it
// (Linux: termios2 with BOTHER). Kept apart because <asm/termbits.h> and <termios.h> cannot
// meet in one file. Not for use above the transport layer.

// Sets input and output bit rate to baud. 1 on success, 0 with errno set.
int SERIAL_POSIX_SetSpeed(int fd, int baud);
// The output bit rate the driver now reports, or -1 with errno set.
int SERIAL_POSIX_GetSpeed(int fd);
