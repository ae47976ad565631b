#include "updater/install/archive_layout.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <vector>

#include "platform/files.h"
#include "platform/path.h"

namespace archive {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kEnd64Signature = 0x06064b50;
constexpr std::uint32_t kLocator64Signature = 0x07064b50;
constexpr std::uint64_t kEndSize = 22;
constexpr std::uint64_t kLocator64Size = 20;
constexpr std::uint64_t kEnd64MinSize = 56;
constexpr std::uint64_t kCentralSize = 46;
constexpr std::uint64_t kLocalSize = 30;
constexpr std::uint16_t kHasDescriptor = 0x0008;

class Bytes {
public:
    explicit Bytes(const CString& path) : m_in(platform::ToPath(path), std::ios::binary)
    {
        if (m_in) {
            m_in.seekg(0, std::ios::end);
            m_size = static_cast<std::uint64_t>(m_in.tellg());
        }
    }
    bool Open() const { return static_cast<bool>(m_in); }
    std::uint64_t Size() const { return m_size; }

    bool Read(std::uint64_t offset, std::size_t length, std::vector<unsigned char>& out)
    {
        if (offset > m_size || length > m_size - offset) {
            return false;
        }
        out.resize(length);
        m_in.clear();
        m_in.seekg(static_cast<std::streamoff>(offset));
        m_in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(length));
        return static_cast<std::size_t>(m_in.gcount()) == length;
    }

private:
    std::ifstream m_in;
    std::uint64_t m_size = 0;
};

std::uint64_t Le(const std::vector<unsigned char>& bytes, std::size_t at, int width)
{
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
    }
    return value;
}

struct Entry {
    std::uint64_t localOffset = 0;
    std::uint64_t packed = 0;
    std::uint64_t unpacked = 0;
    std::uint16_t flags = 0;
    std::uint64_t end = 0;  // just past its data
};

// The ZIP64 extended information of a central record: only the fields whose
// 32-bit value is all ones are there, in this order.
bool ApplyZip64(const std::vector<unsigned char>& record, std::size_t extraStart, std::size_t extraLength,
                Entry& entry, bool bigUnpacked, bool bigPacked, bool bigOffset)
{
    std::size_t at = extraStart;
    const std::size_t end = extraStart + extraLength;
    while (at + 4 <= end) {
        const auto id = Le(record, at, 2);
        const auto size = static_cast<std::size_t>(Le(record, at + 2, 2));
        if (at + 4 + size > end) {
            return false;
        }
        if (id == 0x0001) {
            std::size_t field = at + 4;
            for (auto [big, target] : {std::pair{bigUnpacked, &entry.unpacked}, std::pair{bigPacked, &entry.packed},
                                       std::pair{bigOffset, &entry.localOffset}}) {
                if (!big) {
                    continue;
                }
                if (field + 8 > at + 4 + size) {
                    return false;
                }
                *target = Le(record, field, 8);
                field += 8;
            }
            return true;
        }
        at += 4 + size;
    }
    return !(bigUnpacked || bigPacked || bigOffset);
}

bool GapFits(std::uint64_t gap, std::uint16_t flags)
{
    // A data descriptor: CRC and two sizes of 4 or 8 bytes, with or without
    // its signature.
    if ((flags & kHasDescriptor) == 0) {
        return gap == 0;
    }
    return gap == 12 || gap == 16 || gap == 20 || gap == 24;
}

ArchiveLayout Damaged(const std::string& problem)
{
    ArchiveLayout layout;
    layout.problem = problem;
    return layout;
}

}  // namespace

ArchiveLayout CheckArchiveLayout(const CString& path)
{
    Bytes file(path);
    if (!file.Open()) {
        return Damaged("cannot be read");
    }
    const std::uint64_t size = file.Size();
    if (size < kEndSize) {
        return Damaged("too short for an end record");
    }
    // The last end record, as a reader finds it.
    const std::uint64_t tailLength = std::min<std::uint64_t>(size, kEndSize + 0xFFFF);
    std::vector<unsigned char> tail;
    if (!file.Read(size - tailLength, static_cast<std::size_t>(tailLength), tail)) {
        return Damaged("cannot be read");
    }
    std::uint64_t endAt = 0;
    bool found = false;
    for (std::size_t i = tail.size() - kEndSize + 1; i-- > 0;) {
        if (Le(tail, i, 4) == kEndSignature) {
            endAt = size - tailLength + i;
            found = true;
            break;
        }
    }
    if (!found) {
        return Damaged("no end record");
    }
    std::vector<unsigned char> end;
    file.Read(endAt, kEndSize, end);
    if (endAt + kEndSize + Le(end, 20, 2) != size) {
        return Damaged("the end record does not close the file");
    }
    std::uint64_t count = Le(end, 10, 2);
    std::uint64_t directorySize = Le(end, 12, 4);
    std::uint64_t directoryOffset = Le(end, 16, 4);
    std::uint64_t directoryEnd = endAt;
    bool oneDisk = Le(end, 4, 2) == 0 && Le(end, 6, 2) == 0 && Le(end, 8, 2) == Le(end, 10, 2);

    std::vector<unsigned char> locator;
    if (endAt >= kLocator64Size && file.Read(endAt - kLocator64Size, kLocator64Size, locator) &&
        Le(locator, 0, 4) == kLocator64Signature) {
        const std::uint64_t end64At = Le(locator, 8, 8);
        std::vector<unsigned char> end64;
        if (Le(locator, 4, 4) != 0 || Le(locator, 16, 4) > 1 || end64At + kEnd64MinSize > endAt - kLocator64Size ||
            !file.Read(end64At, kEnd64MinSize, end64) || Le(end64, 0, 4) != kEnd64Signature ||
            end64At + 12 + Le(end64, 4, 8) != endAt - kLocator64Size) {
            return Damaged("a damaged ZIP64 end record");
        }
        count = Le(end64, 32, 8);
        directorySize = Le(end64, 40, 8);
        directoryOffset = Le(end64, 48, 8);
        directoryEnd = end64At;
        oneDisk = Le(end64, 16, 4) == 0 && Le(end64, 20, 4) == 0 && Le(end64, 24, 8) == count;
    }
    if (!oneDisk) {
        return Damaged("an archive split over several disks");
    }
    if (count == 0) {
        return Damaged("no entry");
    }
    if (directoryOffset > directoryEnd || directoryEnd - directoryOffset != directorySize) {
        return Damaged("the central directory does not end where the end record begins");
    }

    std::vector<unsigned char> directory;
    if (directorySize > size || !file.Read(directoryOffset, static_cast<std::size_t>(directorySize), directory)) {
        return Damaged("cannot read the central directory");
    }
    ArchiveLayout layout;
    std::vector<Entry> entries;
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (at + kCentralSize > directory.size() || Le(directory, at, 4) != kCentralSignature) {
            return Damaged("the central directory holds fewer records than it claims");
        }
        Entry entry;
        entry.flags = static_cast<std::uint16_t>(Le(directory, at + 8, 2));
        entry.packed = Le(directory, at + 20, 4);
        entry.unpacked = Le(directory, at + 24, 4);
        entry.localOffset = Le(directory, at + 42, 4);
        const std::size_t nameLength = static_cast<std::size_t>(Le(directory, at + 28, 2));
        const std::size_t extraLength = static_cast<std::size_t>(Le(directory, at + 30, 2));
        const std::size_t commentLength = static_cast<std::size_t>(Le(directory, at + 32, 2));
        const std::size_t next = at + kCentralSize + nameLength + extraLength + commentLength;
        if (next > directory.size() || Le(directory, at + 34, 2) != 0 ||
            !ApplyZip64(directory, at + kCentralSize + nameLength, extraLength, entry, entry.unpacked == 0xFFFFFFFF,
                        entry.packed == 0xFFFFFFFF, entry.localOffset == 0xFFFFFFFF)) {
            return Damaged("a damaged central directory record");
        }
        entries.push_back(entry);
        at = next;
    }
    if (at != directory.size()) {
        return Damaged("the central directory holds more records than it claims");
    }

    std::vector<unsigned char> local;
    for (Entry& entry : entries) {
        if (!file.Read(entry.localOffset, kLocalSize, local) || Le(local, 0, 4) != kLocalSignature) {
            return Damaged("a directory record points to no local entry");
        }
        entry.end = entry.localOffset + kLocalSize + Le(local, 26, 2) + Le(local, 28, 2) + entry.packed;
        if (entry.end < entry.localOffset || entry.end > directoryOffset) {
            return Damaged("an entry runs into the central directory");
        }
        // Forged sizes may add up past 64 bits; the sum then stays at its top.
        layout.unpackedTotal = entry.unpacked > UINT64_MAX - layout.unpackedTotal ? UINT64_MAX
                                                                                   : layout.unpackedTotal + entry.unpacked;
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.localOffset < b.localOffset; });
    if (entries.front().localOffset != 0) {
        return Damaged("the archive holds data before its first listed entry");
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::uint64_t next = i + 1 < entries.size() ? entries[i + 1].localOffset : directoryOffset;
        if (next < entries[i].end || !GapFits(next - entries[i].end, entries[i].flags)) {
            return Damaged("the central directory does not account for the archive's content");
        }
    }
    layout.sound = true;
    layout.entries = static_cast<std::uint32_t>(count);
    return layout;
}

}  // namespace archive
