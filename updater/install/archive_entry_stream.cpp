#include "updater/install/archive_entry_stream.h"

// minizip's key schedule for traditional PKWARE encryption; its functions
// work on a CRC table of unsigned long, so zlib's table is copied into one.
#include <minizip/crypt.h>

#include <algorithm>
#include <array>

namespace archive {

namespace {

constexpr std::uint32_t kRawChunk = 16384;
constexpr std::uint32_t kEncryptionHeaderSize = 12;
constexpr unsigned long kGeneralFlagEncrypted = 0x0001;
constexpr unsigned long kGeneralFlagDataDescriptor = 0x0008;
constexpr unsigned long kGeneralFlagStrongEncryption = 0x0040;

const unsigned long* CrcTable()
{
    static const std::array<unsigned long, 256> table = [] {
        std::array<unsigned long, 256> copy {};
        const z_crc_t* zlibTable = get_crc_table();
        for (std::size_t i = 0; i < copy.size(); ++i) {
            copy[i] = zlibTable[i];
        }
        return copy;
    }();
    return table.data();
}

}  // namespace

CArchiveEntryStream::~CArchiveEntryStream()
{
    Close();
}

void CArchiveEntryStream::Open(unzFile zip, const char* password)
{
    Close();
    m_zip = zip;
    m_delivered = 0;
    m_crc = crc32(0L, Z_NULL, 0);

    unz_file_info64 info {};
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        m_final = ChunkStatus::Failed;
        return;
    }
    m_expectedSize = info.uncompressed_size;
    m_expectedCrc = info.crc;
    m_method = static_cast<int>(info.compression_method);
    m_encrypted = (info.flag & kGeneralFlagEncrypted) != 0;
    if (m_method != 0 && m_method != Z_DEFLATED) {
        m_final = ChunkStatus::Failed;
        return;
    }
    if (!m_encrypted) {
        if (unzOpenCurrentFile(zip) != UNZ_OK) {
            m_final = ChunkStatus::Failed;
            return;
        }
        m_entryOpen = true;
        return;
    }

    if ((info.flag & kGeneralFlagStrongEncryption) != 0 || unzOpenCurrentFile2(zip, nullptr, nullptr, 1) != UNZ_OK) {
        m_final = ChunkStatus::Failed;
        return;
    }
    m_entryOpen = true;
    // The last header byte repeats the CRC's high byte, or, when the sizes and
    // CRC follow the data, the high byte of the DOS time.
    const unsigned check = (info.flag & kGeneralFlagDataDescriptor) != 0
                               ? static_cast<unsigned>((info.dosDate >> 8) & 0xFF)
                               : static_cast<unsigned>((info.crc >> 24) & 0xFF);
    unsigned char header[kEncryptionHeaderSize];
    if (password == nullptr) {
        Finish(0, ChunkStatus::BadPassword);
        return;
    }
    if (unzReadCurrentFile(zip, header, kEncryptionHeaderSize) != static_cast<int>(kEncryptionHeaderSize)) {
        Finish(0, ChunkStatus::Failed);
        return;
    }
    init_keys(password, m_keys, CrcTable());
    Decipher(header, kEncryptionHeaderSize);
    if (header[kEncryptionHeaderSize - 1] != check) {
        Finish(0, ChunkStatus::BadPassword);
        return;
    }
    if (m_method == Z_DEFLATED) {
        m_inflate = z_stream {};
        if (inflateInit2(&m_inflate, -MAX_WBITS) != Z_OK) {
            Finish(0, ChunkStatus::Failed);
            return;
        }
        m_inflateReady = true;
        m_input.reset(new unsigned char[kRawChunk]);
    }
}

Chunk CArchiveEntryStream::Read(void* buffer, std::uint32_t size)
{
    if (m_zip == nullptr) {
        return {0, ChunkStatus::Failed};
    }
    if (m_final) {
        return {0, *m_final};
    }
    return m_encrypted ? ReadEncrypted(buffer, size) : ReadPlain(buffer, size);
}

Chunk CArchiveEntryStream::ReadPlain(void* buffer, std::uint32_t size)
{
    const int got = unzReadCurrentFile(m_zip, buffer, size);
    if (got < 0) {
        return Finish(0, ChunkStatus::Failed);
    }
    const auto bytes = static_cast<std::uint32_t>(got);
    m_delivered += bytes;
    // minizip trusts the sizes it was given; data beyond them is damage.
    if (m_delivered > m_expectedSize) {
        return Finish(bytes, ChunkStatus::Failed);
    }
    if (unzeof(m_zip) == 1) {
        // Closing is where minizip compares the CRC-32 of everything read.
        const int closed = unzCloseCurrentFile(m_zip);
        m_entryOpen = false;
        return Finish(bytes, closed == UNZ_OK ? ChunkStatus::End : ChunkStatus::Failed);
    }
    if (bytes == 0) {
        return Finish(0, ChunkStatus::Failed);
    }
    return {bytes, ChunkStatus::More};
}

Chunk CArchiveEntryStream::ReadEncrypted(void* buffer, std::uint32_t size)
{
    auto* out = static_cast<unsigned char*>(buffer);
    std::uint32_t produced = 0;
    if (m_method == 0) {
        const std::uint64_t remaining = m_expectedSize - m_delivered;
        const auto want = static_cast<unsigned>(std::min<std::uint64_t>(size, remaining));
        const int got = want == 0 ? 0 : unzReadCurrentFile(m_zip, out, want);
        if (got < 0) {
            return Finish(0, ChunkStatus::Failed);
        }
        produced = Decipher(out, static_cast<std::uint32_t>(got));
    } else {
        m_inflate.next_out = out;
        m_inflate.avail_out = size;
        while (m_inflate.avail_out > 0 && !m_streamEnded) {
            if (m_inflate.avail_in == 0) {
                const int got = unzReadCurrentFile(m_zip, m_input.get(), kRawChunk);
                if (got < 0) {
                    return Finish(0, ChunkStatus::Failed);
                }
                if (got == 0) {
                    break;
                }
                m_inflate.next_in = m_input.get();
                m_inflate.avail_in = Decipher(m_input.get(), static_cast<std::uint32_t>(got));
            }
            const int result = inflate(&m_inflate, Z_NO_FLUSH);
            if (result == Z_STREAM_END) {
                m_streamEnded = true;
            } else if (result != Z_OK && !(result == Z_BUF_ERROR && m_inflate.avail_in == 0)) {
                return Finish(0, ChunkStatus::Failed);
            }
        }
        produced = size - m_inflate.avail_out;
    }
    m_crc = crc32(m_crc, out, produced);
    return Account(produced);
}

Chunk CArchiveEntryStream::Account(std::uint32_t bytes)
{
    m_delivered += bytes;
    if (m_delivered > m_expectedSize) {
        return Finish(bytes, ChunkStatus::Failed);
    }
    if (m_delivered == m_expectedSize) {
        return Finish(bytes, m_crc == m_expectedCrc ? ChunkStatus::End : ChunkStatus::Failed);
    }
    if (bytes == 0) {
        return Finish(0, ChunkStatus::Failed);
    }
    return {bytes, ChunkStatus::More};
}

std::uint32_t CArchiveEntryStream::Decipher(unsigned char* data, std::uint32_t size)
{
    const unsigned long* table = CrcTable();
    for (std::uint32_t i = 0; i < size; ++i) {
        const int plain = data[i] ^ decrypt_byte(m_keys, table);
        update_keys(m_keys, table, plain);
        data[i] = static_cast<unsigned char>(plain);
    }
    return size;
}

Chunk CArchiveEntryStream::Finish(std::uint32_t bytes, ChunkStatus status)
{
    m_final = status;
    if (m_entryOpen) {
        unzCloseCurrentFile(m_zip);
        m_entryOpen = false;
    }
    if (m_inflateReady) {
        inflateEnd(&m_inflate);
        m_inflateReady = false;
    }
    m_input.reset();
    return {bytes, status};
}

void CArchiveEntryStream::Close()
{
    if (m_zip != nullptr) {
        Finish(0, ChunkStatus::Failed);
    }
    m_zip = nullptr;
    m_final.reset();
    m_encrypted = false;
    m_streamEnded = false;
}

}  // namespace archive
