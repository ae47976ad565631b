// The byte source an archive is read from, and the I/O function table that
// lets minizip read through it.
#pragma once

#include <minizip/ioapi.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/file_input.h"
#include "updater/install/archive_types.h"

namespace archive {

// One of the three source kinds: a descriptor at its current position (not
// owned), a file opened by name (owned, closed by Release) or a memory block.
// Offsets count from the start of the archive wherever it sits in the source.
class CArchiveSource {
public:
    ~CArchiveSource();
    CArchiveSource(const CArchiveSource&) = delete;
    CArchiveSource& operator=(const CArchiveSource&) = delete;

    // Makes a source of the given kind (see ARC_KIND_*). Failures:
    // ARC_NOT_SEEKABLE (descriptor without a position), ARC_CANT_OPEN_FILE
    // (file cannot be opened), ARC_BAD_ARGUMENT (null source, unknown kind).
    static ARCRESULT Make(const void* source, std::uint32_t length, std::int32_t kind,
                          std::unique_ptr<CArchiveSource>& made);

    // Fills a minizip function table whose streams read from this source. The
    // table's close releases the source, as closing the archive must.
    void FillFunctions(zlib_filefunc64_def& functions);

    // Closes an owned descriptor; the source reads nothing afterwards.
    void Release();

private:
    CArchiveSource() = default;

    static voidpf ZCALLBACK Open(voidpf opaque, const void* name, int mode);
    static uLong ZCALLBACK Read(voidpf opaque, voidpf stream, void* buffer, uLong size);
    static uLong ZCALLBACK Write(voidpf opaque, voidpf stream, const void* buffer, uLong size);
    static ZPOS64_T ZCALLBACK Tell(voidpf opaque, voidpf stream);
    static long ZCALLBACK Seek(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin);
    static int ZCALLBACK Close(voidpf opaque, voidpf stream);
    static int ZCALLBACK Error(voidpf opaque, voidpf stream);

    bool Size(std::uint64_t& size) const;
    // Reads from a file source at the current position, through the window
    // below: minizip asks for headers a few bytes at a time.
    std::int64_t ReadFile(unsigned char* buffer, std::uint64_t size);

    std::int32_t m_kind = 0;
    platform::FileHandle m_file = platform::kInvalidFileHandle;
    bool m_ownsFile = false;
    std::int64_t m_start = 0;  // where the archive begins in the descriptor
    const unsigned char* m_memory = nullptr;
    std::uint64_t m_memoryLength = 0;
    std::uint64_t m_position = 0;  // from the archive's start
    bool m_failed = false;
    // The last stretch read from a file source, from m_windowStart (archive
    // offset); reads that fit in it are served from memory.
    std::vector<unsigned char> m_window;
    std::uint64_t m_windowStart = 0;
    std::size_t m_windowLength = 0;
};

}  // namespace archive
