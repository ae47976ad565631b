// Artwork built into a program: the bytes of a file under a res/ folder, as
// morvex_embed_artwork (cmake/EmbedFile.cmake) writes them into a header.
#pragma once

#include <cstddef>

#include <wx/image.h>
#include <wx/mstream.h>

// The picture in `bytes`; not IsOk() when the bytes are no `type` picture or
// no handler for `type` has been added.
template <std::size_t N>
wxImage ArtworkImage(const unsigned char (&bytes)[N], wxBitmapType type)
{
    wxMemoryInputStream stream(bytes, N);
    return wxImage(stream, type);
}
