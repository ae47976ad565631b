#include "updater/install/archive.h"

#include "updater/install/archive_reader.h"

ArchiveHandle::ArchiveHandle() = default;
ArchiveHandle::~ArchiveHandle() = default;

namespace {

// The checks every operation starts with.
ARCRESULT CheckHandle(const ArchiveHandle* handle)
{
    if (handle == nullptr) {
        return ARC_BAD_ARGUMENT;
    }
    if (handle->kind != ARC_HANDLE_TAG) {
        return ARC_WRONG_HANDLE;
    }
    return handle->reader ? ARC_OK : ARC_BAD_ARGUMENT;
}

}  // namespace

ArchiveHandle* ArchiveOpen(const CString& path, const char* password)
{
    return ArchiveOpenSource(path.c_str(), 0, ARC_KIND_FILE, password);
}

ArchiveHandle* ArchiveOpenSource(const void* source, std::uint32_t length, std::int32_t kind,
                                 const char* password)
{
    auto reader = std::make_unique<CArchiveReader>(password);
    if (reader->Open(source, length, kind) != ARC_OK) {
        return nullptr;
    }
    auto* handle = new ArchiveHandle();
    handle->kind = ARC_HANDLE_TAG;
    handle->reader = std::move(reader);
    return handle;
}

ARCRESULT ArchiveSetBaseDir(ArchiveHandle* handle, const CString& dir)
{
    const ARCRESULT check = CheckHandle(handle);
    return check != ARC_OK ? check : handle->reader->SetBaseDir(dir);
}

ARCRESULT ArchiveGetEntry(ArchiveHandle* handle, std::int32_t index, ArchiveEntry* entry)
{
    if (entry == nullptr) {
        return ARC_BAD_ARGUMENT;
    }
    entry->number = 0;
    entry->path[0] = u'\0';
    entry->unpackedSize = 0;
    const ARCRESULT check = CheckHandle(handle);
    return check != ARC_OK ? check : handle->reader->GetEntry(index, *entry);
}

ARCRESULT ArchiveExtractEntry(ArchiveHandle* handle, std::int32_t index, void* target, std::uint32_t length,
                              std::int32_t kind)
{
    const ARCRESULT check = CheckHandle(handle);
    return check != ARC_OK ? check : handle->reader->ExtractEntry(index, target, length, kind);
}

ARCRESULT ArchiveExtractToFile(ArchiveHandle* handle, std::int32_t index, const CString& path)
{
    // The component never writes through the target argument of a file name.
    return ArchiveExtractEntry(handle, index, const_cast<char16_t*>(path.c_str()), 0, ARC_KIND_FILE);
}

ARCRESULT ArchiveSetWriteHook(ArchiveHandle* handle, ArchiveWriteHook hook)
{
    const ARCRESULT check = CheckHandle(handle);
    if (check == ARC_OK) {
        handle->reader->SetWriteHook(std::move(hook));
    }
    return check;
}

ARCRESULT ArchivePlanToFile(ArchiveHandle* handle, std::int32_t index, const CString& path)
{
    const ARCRESULT check = CheckHandle(handle);
    return check != ARC_OK ? check : handle->reader->PlanToFile(index, path);
}

ARCRESULT ArchiveClose(ArchiveHandle* handle)
{
    const ARCRESULT check = CheckHandle(handle);
    if (check != ARC_OK) {
        return check;
    }
    handle->reader->Close();
    delete handle;
    return ARC_OK;
}
