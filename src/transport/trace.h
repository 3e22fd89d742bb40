#pragma once
// Diagnostic trace sink of the transport, link and job layers.
// Discards everything unless a trace file is set (PELOR_TRACE=path in the environment,
// or DBG_TraceOpen); then each line goes to that file with a timestamp.
#include <string>

#if defined(__GNUC__)
#define PELOR_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define PELOR_PRINTF(fmt, args)
#endif

void DBG_Trace(const char* format, ...) PELOR_PRINTF(1, 2);

// Sends the trace to path (appending); an empty path turns it off. Returns 1, or 0 when
// the file cannot be opened (the trace is then off).
int DBG_TraceOpen(const std::string& path);
void DBG_TraceClose();
bool DBG_TraceEnabled();
