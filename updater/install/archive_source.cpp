#include "updater/install/archive_source.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace archive {

CArchiveSource::~CArchiveSource()
{
    Release();
}

ARCRESULT CArchiveSource::Make(const void* source, std::uint32_t length, std::int32_t kind,
                               std::unique_ptr<CArchiveSource>& made)
{
    if (source == nullptr) {
        return ARC_BAD_ARGUMENT;
    }
    std::unique_ptr<CArchiveSource> result(new CArchiveSource());
    result->m_kind = kind;
    switch (kind) {
    case ARC_KIND_HANDLE: {
        const platform::FileHandle file = *static_cast<const platform::FileHandle*>(source);
        if (!platform::GetFilePosition(file, result->m_start)) {
            return ARC_NOT_SEEKABLE;
        }
        result->m_file = file;
        break;
    }
    case ARC_KIND_FILE: {
        const platform::FileHandle file =
            platform::OpenFileForReading(platform::ToPath(static_cast<const char16_t*>(source)));
        if (file == platform::kInvalidFileHandle) {
            return ARC_CANT_OPEN_FILE;
        }
        result->m_file = file;
        result->m_ownsFile = true;
        break;
    }
    case ARC_KIND_MEMORY:
        result->m_memory = static_cast<const unsigned char*>(source);
        result->m_memoryLength = length;
        break;
    default:
        return ARC_BAD_ARGUMENT;
    }
    made = std::move(result);
    return ARC_OK;
}

void CArchiveSource::FillFunctions(zlib_filefunc64_def& functions)
{
    functions.zopen64_file = &CArchiveSource::Open;
    functions.zread_file = &CArchiveSource::Read;
    functions.zwrite_file = &CArchiveSource::Write;
    functions.ztell64_file = &CArchiveSource::Tell;
    functions.zseek64_file = &CArchiveSource::Seek;
    functions.zclose_file = &CArchiveSource::Close;
    functions.zerror_file = &CArchiveSource::Error;
    functions.opaque = this;
}

void CArchiveSource::Release()
{
    if (m_ownsFile && m_file != platform::kInvalidFileHandle) {
        platform::CloseFileHandle(m_file);
    }
    m_file = platform::kInvalidFileHandle;
    m_ownsFile = false;
    m_memory = nullptr;
    m_memoryLength = 0;
    m_window.clear();
    m_window.shrink_to_fit();
    m_windowLength = 0;
}

bool CArchiveSource::Size(std::uint64_t& size) const
{
    if (m_kind == ARC_KIND_MEMORY) {
        size = m_memoryLength;
        return true;
    }
    std::int64_t fileSize = 0;
    if (m_file == platform::kInvalidFileHandle || !platform::GetFileSize(m_file, fileSize)) {
        return false;
    }
    size = fileSize > m_start ? static_cast<std::uint64_t>(fileSize - m_start) : 0;
    return true;
}

voidpf ZCALLBACK CArchiveSource::Open(voidpf opaque, const void* /*name*/, int /*mode*/)
{
    // The stream is the source itself; it was opened before the archive.
    return opaque;
}

// A short read counts as an error: minizip asks the error function only after
// a read came up short, and takes "no error" as an end of file it may read
// past (with the missing bytes left undefined).
uLong ZCALLBACK CArchiveSource::Read(voidpf opaque, voidpf /*stream*/, void* buffer, uLong size)
{
    auto* self = static_cast<CArchiveSource*>(opaque);
    if (self->m_kind == ARC_KIND_MEMORY) {
        std::uint64_t count = 0;
        if (self->m_memory != nullptr && self->m_position < self->m_memoryLength) {
            count = std::min<std::uint64_t>(size, self->m_memoryLength - self->m_position);
            std::memcpy(buffer, self->m_memory + self->m_position, static_cast<std::size_t>(count));
            self->m_position += count;
        }
        self->m_failed = count < size;
        return static_cast<uLong>(count);
    }
    if (self->m_file == platform::kInvalidFileHandle) {
        self->m_failed = true;
        return 0;
    }
    const std::int64_t got = self->ReadFile(static_cast<unsigned char*>(buffer), size);
    if (got < 0) {
        self->m_failed = true;
        return 0;
    }
    self->m_position += static_cast<std::uint64_t>(got);
    self->m_failed = static_cast<uLong>(got) < size;
    return static_cast<uLong>(got);
}

std::int64_t CArchiveSource::ReadFile(unsigned char* buffer, std::uint64_t size)
{
    constexpr std::size_t kWindowSize = 64 * 1024;
    const auto at = [this](std::uint64_t position) {
        return m_start + static_cast<std::int64_t>(position);
    };
    const bool inWindow = m_position >= m_windowStart && m_position - m_windowStart < m_windowLength;
    if (!inWindow && size >= kWindowSize) {
        // Entry data in large pieces: straight into the caller's buffer.
        return platform::ReadFileAt(m_file, buffer, size, at(m_position));
    }
    if (!inWindow) {
        m_window.resize(kWindowSize);
        m_windowLength = 0;
        const std::int64_t got = platform::ReadFileAt(m_file, m_window.data(), kWindowSize, at(m_position));
        if (got < 0) {
            return got;
        }
        m_windowStart = m_position;
        m_windowLength = static_cast<std::size_t>(got);
        if (m_windowLength == 0) {
            return 0;  // end of the file
        }
    }
    const std::size_t offset = static_cast<std::size_t>(m_position - m_windowStart);
    const std::size_t fromWindow =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, m_windowLength - offset));
    std::memcpy(buffer, m_window.data() + offset, fromWindow);
    if (fromWindow == size) {
        return static_cast<std::int64_t>(fromWindow);
    }
    // The rest lies past the window: read it directly, after what was copied.
    const std::int64_t rest = platform::ReadFileAt(m_file, buffer + fromWindow, size - fromWindow,
                                                   at(m_position + fromWindow));
    if (rest < 0) {
        return rest;
    }
    return static_cast<std::int64_t>(fromWindow) + rest;
}

uLong ZCALLBACK CArchiveSource::Write(voidpf /*opaque*/, voidpf /*stream*/, const void* /*buffer*/, uLong /*size*/)
{
    return 0;  // sources are read-only
}

ZPOS64_T ZCALLBACK CArchiveSource::Tell(voidpf opaque, voidpf /*stream*/)
{
    return static_cast<CArchiveSource*>(opaque)->m_position;
}

long ZCALLBACK CArchiveSource::Seek(voidpf opaque, voidpf /*stream*/, ZPOS64_T offset, int origin)
{
    auto* self = static_cast<CArchiveSource*>(opaque);
    std::uint64_t base = 0;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        break;
    case ZLIB_FILEFUNC_SEEK_CUR:
        base = self->m_position;
        break;
    case ZLIB_FILEFUNC_SEEK_END:
        if (!self->Size(base)) {
            return -1;
        }
        break;
    default:
        return -1;
    }
    // Offsets are unsigned: a step back arrives as a wrapped value, and one
    // that would land before the archive's start wraps past INT64_MAX.
    const std::uint64_t target = base + offset;
    if (target > static_cast<std::uint64_t>(INT64_MAX)) {
        return -1;
    }
    self->m_position = target;
    return 0;
}

int ZCALLBACK CArchiveSource::Close(voidpf opaque, voidpf /*stream*/)
{
    static_cast<CArchiveSource*>(opaque)->Release();
    return 0;
}

int ZCALLBACK CArchiveSource::Error(voidpf opaque, voidpf /*stream*/)
{
    return static_cast<CArchiveSource*>(opaque)->m_failed ? 1 : 0;
}

}  // namespace archive
