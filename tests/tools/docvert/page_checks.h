// What a reader of a converted page would see, read with simple scans of the
// tests' own, independent of the library's markup reader.
#pragma once

#include <string>
#include <vector>

namespace docverttest {

// Every URL the page refers to: src, href and background attributes and CSS
// url() values, also inside embedded data: stylesheets.
std::vector<std::string> ReferencesOf(const std::string& html);

// References that a browser showing the page from a local folder would try
// to load from a file: relative ones, file: URLs, cid: URLs.
std::vector<std::string> LocalReferencesOf(const std::string& html);

// The decoded bytes of every data: URI of an image in the page, also inside
// embedded data: stylesheets.
std::vector<std::string> EmbeddedImagesOf(const std::string& html);

// Width and height of a PNG image; {0, 0} when the bytes are no PNG.
struct ImageSize {
    unsigned width = 0;
    unsigned height = 0;
};
ImageSize PngSize(const std::string& bytes);

// Reads a fixture from tests/tools/docvert/fixtures.
std::string Fixture(const std::string& name);
std::string FixturePath(const std::string& name);

}  // namespace docverttest
