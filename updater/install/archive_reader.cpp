#include "updater/install/archive_reader.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_output.h"
#include "platform/files.h"
#include "updater/install/archive_entry_stream.h"
#include "updater/install/archive_metadata.h"
#include "updater/install/archive_paths.h"
#include "updater/install/archive_source.h"

namespace {

constexpr std::uint32_t kTransferBufferSize = 16384;
constexpr std::size_t kMaxPathUnits = ARC_MAX_PATH - 1;
constexpr uLong kMaxNameBytes = ARC_MAX_PATH - 1;

unzFile Zip(void* handle)
{
    return static_cast<unzFile>(handle);
}

bool EndsInSeparator(const CString& text)
{
    return !text.empty() && (text.back() == u'\\' || text.back() == u'/');
}

std::int32_t ClampToInt32(ZPOS64_T value)
{
    return static_cast<std::int32_t>(std::min<ZPOS64_T>(value, INT32_MAX));
}

// A caller's target name, read no further than the longest name allowed.
bool ReadTargetName(const char16_t* text, CString& name)
{
    std::size_t length = 0;
    while (length < ARC_MAX_PATH && text[length] != u'\0') {
        ++length;
    }
    if (length > kMaxPathUnits) {
        return false;
    }
    name.assign(text, length);
    return true;
}

ARCRESULT CodeOf(archive::ChunkStatus status)
{
    switch (status) {
    case archive::ChunkStatus::End:
        return ARC_OK;
    case archive::ChunkStatus::More:
        return ARC_MORE_DATA;
    case archive::ChunkStatus::BadPassword:
        return ARC_BAD_PASSWORD;
    case archive::ChunkStatus::Failed:
        break;
    }
    return ARC_INFLATE_FAILED;
}

platform::FileTimes TimesOf(const ArchiveEntry& entry)
{
    platform::FileTimes times;
    times.creation = entry.creationTime;
    times.lastAccess = entry.accessTime;
    times.lastWrite = entry.writeTime;
    return times;
}

}  // namespace

CArchiveReader::CArchiveReader(const char* password)
    : m_stream(std::make_unique<archive::CArchiveEntryStream>())
{
    if (password != nullptr) {
        m_password = password;
    }
}

CArchiveReader::~CArchiveReader()
{
    Close();
}

ARCRESULT CArchiveReader::Open(const void* source, std::uint32_t length, std::int32_t kind)
{
    Close();
    // An unreadable current directory leaves the base empty (relative to
    // wherever the process is) rather than turning it into the root.
    m_baseDir = platform::GetCurrentDirectoryW();
    if (!m_baseDir.empty() && !EndsInSeparator(m_baseDir)) {
        m_baseDir += u'\\';
    }

    std::unique_ptr<archive::CArchiveSource> made;
    const ARCRESULT sourceResult = archive::CArchiveSource::Make(source, length, kind, made);
    if (sourceResult != ARC_OK) {
        return sourceResult;
    }
    zlib_filefunc64_def functions {};
    made->FillFunctions(functions);
    // minizip hands the "name" to the table's open function, which ignores it.
    unzFile zip = unzOpen2_64(made.get(), &functions);
    if (zip == nullptr) {
        return ARC_CANT_OPEN_FILE;
    }
    unz_global_info64 info {};
    if (unzGetGlobalInfo64(zip, &info) != UNZ_OK) {
        unzClose(zip);
        return ARC_CANT_OPEN_FILE;
    }
    m_zip = zip;
    m_source = std::move(made);
    m_entryCount = ClampToInt32(info.number_entry);
    return ARC_OK;
}

ARCRESULT CArchiveReader::SetBaseDir(const CString& dir)
{
    m_baseDir = dir;
    if (!m_baseDir.empty() && !EndsInSeparator(m_baseDir)) {
        m_baseDir += u'\\';
    }
    // An over-long base is kept as it is: no built path then fits, so nothing
    // is written anywhere else instead.
    return m_baseDir.size() > kMaxPathUnits ? ARC_BAD_ARGUMENT : ARC_OK;
}

void CArchiveReader::Close()
{
    CloseStreamedEntry();
    if (m_zip != nullptr) {
        unzClose(Zip(m_zip));
        m_zip = nullptr;
    }
    m_source.reset();
    m_entryCount = 0;
    m_cachedIndex = -1;
}

void CArchiveReader::CloseStreamedEntry()
{
    if (m_openEntryIndex != -1) {
        m_stream->Close();
        m_openEntryIndex = -1;
    }
}

unsigned char* CArchiveReader::TransferBuffer()
{
    if (!m_buffer) {
        m_buffer.reset(new unsigned char[kTransferBufferSize]);
    }
    return m_buffer.get();
}

ARCRESULT CArchiveReader::PositionAt(std::int32_t index)
{
    unzFile zip = Zip(m_zip);
    // A reader that failed to step has no current entry: start over.
    unz64_file_pos position {};
    ZPOS64_T current = 0;
    const bool known = unzGetFilePos64(zip, &position) == UNZ_OK;
    if (known) {
        current = position.num_of_file;
    }
    if (!known || static_cast<ZPOS64_T>(index) < current) {
        if (unzGoToFirstFile(zip) != UNZ_OK) {
            return ARC_CORRUPT;
        }
        current = 0;
    }
    // A damaged central directory stops the walk; it never loops.
    while (current < static_cast<ZPOS64_T>(index)) {
        if (unzGoToNextFile(zip) != UNZ_OK) {
            return ARC_CORRUPT;
        }
        ++current;
    }
    return ARC_OK;
}

ARCRESULT CArchiveReader::GetEntry(std::int32_t index, ArchiveEntry& entry)
{
    if (m_zip == nullptr || index < -1 || index >= m_entryCount) {
        return ARC_BAD_ARGUMENT;
    }
    CloseStreamedEntry();
    if (index != -1 && index == m_cachedIndex) {
        entry = m_cachedEntry;
        return ARC_OK;
    }
    if (index == -1) {
        entry = ArchiveEntry {};
        entry.number = m_entryCount;
        return ARC_OK;
    }
    ARCRESULT result = PositionAt(index);
    if (result != ARC_OK) {
        return result;
    }
    ArchiveEntry made;
    result = QueryCurrent(made);
    if (result != ARC_OK) {
        return result;
    }
    m_cachedEntry = made;
    m_cachedIndex = index;
    entry = made;
    return ARC_OK;
}

ARCRESULT CArchiveReader::QueryCurrent(ArchiveEntry& entry)
{
    unzFile zip = Zip(m_zip);
    unz_file_info64 info {};
    char name[ARC_MAX_PATH] = {};
    if (unzGetCurrentFileInfo64(zip, &info, name, kMaxNameBytes, nullptr, 0, nullptr, 0) != UNZ_OK) {
        return ARC_CORRUPT;
    }
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
        return ARC_CORRUPT;
    }
    // Opening the entry raw makes minizip compare its local header with the
    // central record and locate the local extra field, without inflating.
    if (unzOpenCurrentFile2(zip, nullptr, nullptr, 1) != UNZ_OK) {
        return ARC_CORRUPT;
    }
    const int extraSize = unzGetLocalExtrafield(zip, nullptr, 0);
    std::vector<unsigned char> extra(static_cast<std::size_t>(std::max(extraSize, 0)));
    if (extraSize < 0 ||
        (extraSize > 0 && unzGetLocalExtrafield(zip, extra.data(), static_cast<unsigned>(extraSize)) != extraSize)) {
        unzCloseCurrentFile(zip);
        return ARC_READ_FAILED;
    }
    unzCloseCurrentFile(zip);

    // A name cut to fit would name a different file; such entries are refused.
    if (info.size_filename > kMaxNameBytes) {
        return ARC_CANT_OPEN_FILE;
    }
    unz64_file_pos position {};
    if (unzGetFilePos64(zip, &position) != UNZ_OK) {
        return ARC_CORRUPT;
    }
    entry = ArchiveEntry {};
    entry.number = ClampToInt32(position.num_of_file);

    // Names are taken as UTF-8 whatever the flags say; a NUL ends the name.
    std::string_view bytes(name, info.size_filename);
    bytes = bytes.substr(0, bytes.find('\0'));
    const CString path = archive::SanitizeEntryName(platform::Utf8ToUtf16(bytes));
    std::copy_n(path.data(), std::min(path.size(), kMaxPathUnits), entry.path);

    entry.attributes = archive::EntryAttributes(static_cast<std::uint32_t>(info.version),
                                                static_cast<std::uint32_t>(info.external_fa));
    entry.permissions = archive::EntryPermissions(static_cast<std::uint32_t>(info.version),
                                                  static_cast<std::uint32_t>(info.external_fa));
    entry.packedSize = ClampToInt32(info.compressed_size);
    entry.unpackedSize = ClampToInt32(info.uncompressed_size);

    std::uint64_t stamp = 0;
    if (archive::DosTimeToFileTime(static_cast<std::uint16_t>(info.dosDate >> 16),
                                   static_cast<std::uint16_t>(info.dosDate & 0xFFFF), stamp)) {
        entry.accessTime = stamp;
        entry.creationTime = stamp;
        entry.writeTime = stamp;
    }
    if (extra.size() > 4) {
        archive::ApplyExtendedTimestamp(extra.data(), extra.size(), entry);
    }
    return ARC_OK;
}

ARCRESULT CArchiveReader::ExtractEntry(std::int32_t index, void* target, std::uint32_t length, std::int32_t kind)
{
    if (kind == ARC_KIND_MEMORY) {
        return ExtractToMemory(index, target, length);
    }
    if (kind != ARC_KIND_HANDLE && kind != ARC_KIND_FILE) {
        return ARC_BAD_ARGUMENT;
    }
    CloseStreamedEntry();
    if (m_zip == nullptr || index < 0 || index >= m_entryCount || target == nullptr) {
        return ARC_BAD_ARGUMENT;
    }
    // The record is built (or taken from the cache) before anything is
    // written, so a failed query never leads to acting on an empty record.
    ArchiveEntry entry;
    ARCRESULT result = GetEntry(index, entry);
    if (result != ARC_OK) {
        return result;
    }
    result = PositionAt(index);
    if (result != ARC_OK) {
        return result;
    }
    if (kind == ARC_KIND_FILE) {
        return ExtractToFile(entry, static_cast<const char16_t*>(target));
    }
    return ExtractToHandle(entry, *static_cast<const platform::FileHandle*>(target));
}

ARCRESULT CArchiveReader::PlanToFile(std::int32_t index, const CString& target)
{
    CloseStreamedEntry();
    if (m_zip == nullptr || index < 0 || index >= m_entryCount) {
        return ARC_BAD_ARGUMENT;
    }
    ArchiveEntry entry;
    const ARCRESULT result = GetEntry(index, entry);
    CString fullPath;
    return result != ARC_OK ? result : PrepareTarget(entry, target.c_str(), true, fullPath);
}

ARCRESULT CArchiveReader::MakeFolders(const CString& directoryPart, bool planning)
{
    for (const CString& folder : archive::MissingDirectoryChain(m_baseDir, directoryPart)) {
        if (m_writeHook && !m_writeHook(ArchiveWrite{platform::ToPath(folder), true, false})) {
            return ARC_CANT_OPEN_FILE;
        }
        // A folder that cannot be made shows when it or a file inside it is used.
        if (!planning) {
            platform::CreateDirectoryW(folder);
        }
    }
    return ARC_OK;
}

ARCRESULT CArchiveReader::PrepareTarget(const ArchiveEntry& entry, const char16_t* target, bool planning,
                                        CString& fullPath)
{
    CString name;
    // Nothing may land outside the base: names that are absolute or climb
    // with ".." are refused whatever sanitising left of them.
    if (!ReadTargetName(target, name) || archive::IsAbsoluteName(name) || archive::HasParentComponent(name)) {
        return ARC_CANT_OPEN_FILE;
    }
    if ((entry.attributes & ARC_ATTR_DIRECTORY) != 0) {
        if (m_baseDir.size() + name.size() > kMaxPathUnits) {
            return ARC_CANT_OPEN_FILE;
        }
        const ARCRESULT made = MakeFolders(name, planning);
        if (made != ARC_OK || planning) {
            return made;
        }
        return platform::IsDirectory(m_baseDir + name) ? ARC_OK : ARC_CANT_OPEN_FILE;
    }

    CString directoryPart;
    CString filePart;
    archive::SplitTargetName(name, directoryPart, filePart);
    fullPath = m_baseDir + directoryPart + filePart;
    if (fullPath.size() > kMaxPathUnits) {
        return ARC_CANT_OPEN_FILE;
    }
    const ARCRESULT made = MakeFolders(directoryPart, planning);
    if (made != ARC_OK) {
        return made;
    }
    if (m_writeHook) {
        const platform::Path path = platform::ToPath(fullPath);
        std::error_code error;
        const bool exists = std::filesystem::exists(std::filesystem::symlink_status(path, error));
        if (!m_writeHook(ArchiveWrite{path, false, exists})) {
            return ARC_CANT_OPEN_FILE;
        }
    }
    return ARC_OK;
}

ARCRESULT CArchiveReader::ExtractToFile(const ArchiveEntry& entry, const char16_t* target)
{
    CString fullPath;
    const ARCRESULT prepared = PrepareTarget(entry, target, false, fullPath);
    if (prepared != ARC_OK || fullPath.empty()) {
        return prepared;
    }

    platform::ReplacementFile output;
    if (!output.Create(fullPath, entry.permissions)) {
        return ARC_CANT_OPEN_FILE;
    }
    m_stream->Open(Zip(m_zip), Password());
    unsigned char* buffer = TransferBuffer();
    ARCRESULT result = ARC_INFLATE_FAILED;
    for (;;) {
        const archive::Chunk chunk = m_stream->Read(buffer, kTransferBufferSize);
        if (chunk.bytes > 0 && !output.Write(buffer, chunk.bytes)) {
            result = ARC_WRITE_FAILED;
            break;
        }
        if (chunk.status == archive::ChunkStatus::More) {
            continue;
        }
        if (chunk.status != archive::ChunkStatus::End) {
            result = CodeOf(chunk.status);
            break;
        }
        switch (output.Commit(TimesOf(entry), (entry.attributes & ARC_ATTR_READONLY) != 0)) {
        case platform::CommitResult::Replaced:
            result = ARC_OK;
            break;
        case platform::CommitResult::WriteFailed:
            result = ARC_WRITE_FAILED;
            break;
        case platform::CommitResult::CantReplace:
            result = ARC_CANT_OPEN_FILE;
            break;
        }
        break;
    }
    m_stream->Close();
    return result;  // an uncommitted output removes its temporary file
}

ARCRESULT CArchiveReader::ExtractToHandle(const ArchiveEntry& entry, platform::FileHandle file)
{
    if ((entry.attributes & ARC_ATTR_DIRECTORY) != 0) {
        return ARC_OK;
    }
    m_stream->Open(Zip(m_zip), Password());
    unsigned char* buffer = TransferBuffer();
    ARCRESULT result = ARC_INFLATE_FAILED;
    for (;;) {
        const archive::Chunk chunk = m_stream->Read(buffer, kTransferBufferSize);
        if (chunk.bytes > 0 && !platform::WriteAll(file, buffer, chunk.bytes)) {
            result = ARC_WRITE_FAILED;
            break;
        }
        if (chunk.status == archive::ChunkStatus::More) {
            continue;
        }
        if (chunk.status == archive::ChunkStatus::End) {
            platform::SetFileTimes(file, TimesOf(entry));
        }
        result = CodeOf(chunk.status);
        break;
    }
    m_stream->Close();
    return result;
}

ARCRESULT CArchiveReader::ExtractToMemory(std::int32_t index, void* buffer, std::uint32_t length)
{
    if (m_zip == nullptr || buffer == nullptr || length == 0 || index < 0 || index >= m_entryCount) {
        return ARC_BAD_ARGUMENT;
    }
    if (index != m_openEntryIndex) {
        CloseStreamedEntry();
        const ARCRESULT result = PositionAt(index);
        if (result != ARC_OK) {
            return result;
        }
        m_stream->Open(Zip(m_zip), Password());
        m_openEntryIndex = index;
    }
    const archive::Chunk chunk = m_stream->Read(buffer, length);
    if (chunk.bytes == 0 || chunk.status == archive::ChunkStatus::Failed ||
        chunk.status == archive::ChunkStatus::BadPassword) {
        CloseStreamedEntry();
    }
    return CodeOf(chunk.status);
}
