// Word document to one self-contained HTML page, through whichever converter
// program is installed: LibreOffice, else wvHtml, else antiword.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace docvert {

struct DocConverterPrograms {
    // Each is run by this name (looked up on PATH unless it holds a "/").
    std::string office = "soffice";
    std::string wvHtml = "wvHtml";
    std::string antiword = "antiword";
    // The resident converter, tried before the office is started for this
    // document alone; empty: none. Its limit is officeTimeLimit.
    std::string service;
    std::chrono::milliseconds officeTimeLimit{std::chrono::seconds(60)};
    std::chrono::milliseconds wvHtmlTimeLimit{std::chrono::seconds(30)};
    std::chrono::milliseconds antiwordTimeLimit{std::chrono::seconds(30)};
};

enum class DocConverterKind { Service, Office, WvHtml, Antiword, Archive };

struct DocConversion {
    std::string html;
    DocConverterKind by = DocConverterKind::Office;
};

// Converts the document at `source`. The converters work on a copy in a
// private temporary folder, removed afterwards whatever happens, and each runs
// under its time limit; when one
// is missing, fails, crashes or runs out of time, the next is tried. Files
// that are no document at all (plain text, noise, nothing) are refused before
// any converter runs, since the office suite would show them as text; a
// "Word" file that is really a saved web archive is converted as one. Empty
// when no converter produced a page.
std::optional<DocConversion> ConvertDocToHtml(const std::filesystem::path& source,
                                              const DocConverterPrograms& programs = {});

// Makes paragraph alignment written on the paragraph (align="center") win
// over the alignment of the page's stylesheet, which the office suite's HTML
// export otherwise lets override it (centred titles came out justified).
std::string KeepParagraphAlignment(std::string_view html);

}  // namespace docvert
