// Reading the data of one archive entry, chunk by chunk.
//
// Plain entries are read and inflated by minizip. Traditional PKWARE encrypted
// entries are read raw through minizip (its Debian build has no decryption),
// deciphered with minizip's own key schedule and inflated with zlib.
#pragma once

#include <minizip/unzip.h>
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace archive {

enum class ChunkStatus {
    More,         // bytes arrived and more follow
    End,          // the entry arrived whole and its CRC-32 matched
    BadPassword,  // the encryption header check failed, or no password
    Failed,       // read, inflate, size or CRC-32 failure
};

struct Chunk {
    std::uint32_t bytes = 0;
    ChunkStatus status = ChunkStatus::Failed;
};

class CArchiveEntryStream {
public:
    CArchiveEntryStream() = default;
    ~CArchiveEntryStream();
    CArchiveEntryStream(const CArchiveEntryStream&) = delete;
    CArchiveEntryStream& operator=(const CArchiveEntryStream&) = delete;

    // Opens the reader's current entry. A failure to open is not reported
    // here: it shows as the status of the first Read.
    void Open(unzFile zip, const char* password);

    // Reads up to `size` bytes into `buffer`. Once the entry has ended (or
    // failed), every further call returns 0 bytes and the same status.
    Chunk Read(void* buffer, std::uint32_t size);

    bool IsOpen() const { return m_zip != nullptr; }
    void Close();

private:
    Chunk ReadPlain(void* buffer, std::uint32_t size);
    Chunk ReadEncrypted(void* buffer, std::uint32_t size);
    ChunkStatus CheckPassword(const char* password);
    std::uint32_t Decipher(unsigned char* data, std::uint32_t size);
    Chunk Finish(std::uint32_t bytes, ChunkStatus status);
    Chunk Account(std::uint32_t bytes);

    unzFile m_zip = nullptr;
    bool m_entryOpen = false;  // minizip holds the entry open
    bool m_encrypted = false;
    std::optional<ChunkStatus> m_final;  // set once the entry ended or failed

    std::uint64_t m_expectedSize = 0;
    std::uint64_t m_delivered = 0;
    unsigned long m_expectedCrc = 0;
    unsigned long m_crc = 0;
    int m_method = 0;

    // Encrypted entries only.
    unsigned long m_keys[3] = {};
    std::unique_ptr<unsigned char[]> m_input;
    z_stream m_inflate {};
    bool m_inflateReady = false;
    bool m_streamEnded = false;
};

}  // namespace archive
