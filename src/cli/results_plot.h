#pragma once
// `pelor results --plot`: jobs per hour and yield over time as a PNG, drawn by gnuplot.
#include <string>

#include "results/summary.h"

// The gnuplot program text that draws dataPath into outputPath.
std::string CLI_PlotScript(const std::string& dataPath, const std::string& outputPath);
// The data file: one line per hour, "YYYY-MM-DDTHH:MM jobs yield" ("-" for the yield of an hour
// without jobs).
std::string CLI_PlotData(const ResultsSummary& summary);
// Draws the summary's hours into pngPath (through a temporary file renamed into place).
// 1 on success; 0 with *error set (gnuplot missing, or it failed).
int CLI_Plot(const ResultsSummary& summary, const std::string& pngPath, std::string* error);
