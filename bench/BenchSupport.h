#pragma once

#include <QSize>
#include <cstdint>
#include <vector>

// What the widget benchmarks share.

// Frame Number of the demo camera at Size, as BGR24 rows.
std::vector<std::uint8_t> DemoFrame(QSize size, int number = 10);

// Runs the benchmarks named on the command line under an offscreen
// application (unless another platform is asked for), with the library
// started, in a temporary program folder that is removed afterwards.
int RunWidgetBenchmarks(int argc, char** argv);
