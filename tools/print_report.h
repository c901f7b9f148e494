// How the standalone programs print their own reports: "<source>:<line> <text>" on stderr.
//
//   VID_RETURN_IF(!r.input, 1, "Unable to open input file in 'rb' mode.\n%s\n", name);
#pragma once

#include <cstdio>

#include "report.h"

// Prints "<source>:<line> " and the formatted text on stderr.
#define VID_REPORT_STDERR(format, ...)                                                             \
    fprintf(stderr, "%s:%d " format, VID_SOURCE_NAME, __LINE__, ##__VA_ARGS__)

// When cond holds: reports as VID_REPORT_STDERR and returns `result`.
#define VID_RETURN_IF(cond, result, format, ...)                                                   \
    do {                                                                                           \
        if (cond) {                                                                                \
            VID_REPORT_STDERR(format, ##__VA_ARGS__);                                              \
            return result;                                                                         \
        }                                                                                          \
    } while (0)
