// Converting a downloaded document to HTML through the conversion library,
// loaded for each conversion and unloaded after it.
#pragma once

enum ConvertKind : int {
    CONVERT_DOC = 0,
    CONVERT_PDF = 1,
    CONVERT_MHT = 2,
};

// Converts source into an HTML file at target. The target is deleted first, so
// a failed conversion never leaves old output behind. False when a path is null,
// the library or its export is missing, the kind is CONVERT_PDF or unknown, or
// the library reports failure.
bool ConvertToHtml(const char16_t* source, const char16_t* target, int kind);

// Asks the conversion library to make ready for a document of this kind
// (starting its resident converter for Word documents) without waiting for
// it. False when there is nothing to make ready, or the library is older and
// cannot; the conversion then works as before.
bool WarmUpConverter(int kind);
