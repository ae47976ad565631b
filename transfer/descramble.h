// The keyless scrambling of the manifest's server login values.
//
// Scrambling works on ANSI (code page 936) bytes p0..pn-1: w_i = p_i + 2 when
// i mod 3 == 0, p_i + 1 when i mod 3 == 1, p_i XOR 2 when i mod 3 == 2 (modulo
// 256); the stored value is w reversed.
#pragma once

#include <string>

#include "platform/types.h"

// Values longer than this many code-page bytes do not fit the working buffers.
constexpr std::size_t SCRAMBLE_BUFFER_BYTES = 1024;

// Reverses a zero-terminated string in place; null is ignored.
void ReverseString(char* text);

// Descrambles zero-terminated narrow bytes into `output` (which must hold the
// input's length plus one bytes) and terminates it. False for a null pointer,
// and false with nothing written for input longer than 1023 bytes.
bool DescrambleAnsi(const char* scrambled, char* output);

// Descrambles a stored wide value into `output`, a zero-filled buffer of at
// least the input's length plus one units; writes the characters but no
// terminator. False for a null pointer.
//
// Never overruns: false, and nothing written, when the value's code-page bytes
// exceed the 1023 the working buffers hold, or when the plain text would not
// leave the output's last unit free. (A double-byte character can descramble
// into two single-byte ones, so the plain text may be longer than the stored.)
bool DescrambleField(const char16_t* stored, char16_t* output);

// The same with the output's size stated: at most outputUnits - 1 characters.
bool DescrambleField(const char16_t* stored, char16_t* output, std::size_t outputUnits);

// The inverse, for the publishing tool and tests: the stored form of a plain
// value as wide text.
CString ScrambleField(const CString& plain);

// True when a plain value survives a trip through a manifest: its scrambled
// bytes are valid code-page text (so the stored wide text converts back to the
// same bytes), it fits the working buffers, an INI line gives the stored text
// back unchanged (no blanks at its ends, no enclosing quotes, no line breaks)
// and descrambling it gives the plain value again. Length limits of the
// manifest reader's own buffers are the caller's to check.
bool ScrambledValueSurvivesManifest(const CString& plain);
