// Basic types shared by both programs: wide text, BOOL results.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Wide text is UTF-16, so that every length the programs count in UTF-16 units
// (INI buffers, 260-unit paths) holds as written.
using CString = std::u16string;

// A BOOL result is a 32-bit integer, nonzero for success.
using BOOL = std::int32_t;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
