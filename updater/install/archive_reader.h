// One open archive: entry queries with a one-record cache, and extraction of
// entries to files, descriptors or memory.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_input.h"
#include "platform/types.h"
#include "updater/install/archive_types.h"

namespace archive {
class CArchiveSource;
class CArchiveEntryStream;
}  // namespace archive

class CArchiveReader {
public:
    // `password` (may be null) is copied.
    explicit CArchiveReader(const char* password);
    ~CArchiveReader();
    CArchiveReader(const CArchiveReader&) = delete;
    CArchiveReader& operator=(const CArchiveReader&) = delete;

    // Opens the archive from a source of the given kind; the base directory
    // becomes the process's current directory. Codes: ARC_OK,
    // ARC_NOT_SEEKABLE, ARC_CANT_OPEN_FILE (source unreadable or not a ZIP
    // archive), ARC_BAD_ARGUMENT.
    ARCRESULT Open(const void* source, std::uint32_t length, std::int32_t kind);

    ARCRESULT SetBaseDir(const CString& dir);

    // Fills `entry` for `index` (-1: the entry count). On failure `entry` is
    // left as the caller had it.
    ARCRESULT GetEntry(std::int32_t index, ArchiveEntry& entry);

    ARCRESULT ExtractEntry(std::int32_t index, void* target, std::uint32_t length, std::int32_t kind);

    // See ArchiveSetWriteHook and ArchivePlanToFile.
    void SetWriteHook(ArchiveWriteHook hook) { m_writeHook = std::move(hook); }
    ARCRESULT PlanToFile(std::int32_t index, const CString& target);

    // Closes any entry open for reading and the archive (releasing a file
    // source). The reader can be destroyed or opened again afterwards.
    void Close();

    std::int32_t EntryCount() const { return m_entryCount; }
    const CString& BaseDir() const { return m_baseDir; }

private:
    ARCRESULT PositionAt(std::int32_t index);
    ARCRESULT QueryCurrent(ArchiveEntry& entry);
    void CloseStreamedEntry();
    // Checks the entry's target name and makes its folders (only asks the
    // hook, when planning); the file's full path, empty for a folder entry.
    ARCRESULT PrepareTarget(const ArchiveEntry& entry, const char16_t* target, bool planning, CString& fullPath);
    ARCRESULT MakeFolders(const CString& directoryPart, bool planning);
    ARCRESULT ExtractToFile(const ArchiveEntry& entry, const char16_t* target);
    ARCRESULT ExtractToHandle(const ArchiveEntry& entry, platform::FileHandle file);
    ARCRESULT ExtractToMemory(std::int32_t index, void* buffer, std::uint32_t length);
    unsigned char* TransferBuffer();
    const char* Password() const { return m_password ? m_password->c_str() : nullptr; }

    void* m_zip = nullptr;  // minizip's unzFile; null while not open
    std::int32_t m_openEntryIndex = -1;
    ArchiveEntry m_cachedEntry;
    std::int32_t m_cachedIndex = -1;
    std::optional<std::string> m_password;
    std::unique_ptr<unsigned char[]> m_buffer;
    CString m_baseDir;
    ArchiveWriteHook m_writeHook;

    std::int32_t m_entryCount = 0;
    std::unique_ptr<archive::CArchiveSource> m_source;
    std::unique_ptr<archive::CArchiveEntryStream> m_stream;
};
