#include "updater/install/archive_metadata.h"

#include <ctime>

namespace archive {

namespace {

constexpr std::uint64_t kUnixEpochInFileTime = 116444736000000000ULL;
constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000;

bool IsDosHost(std::uint32_t host)
{
    return host == 0 || host == 7 || host == 11 || host == 14;
}

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::uint32_t ReadLe32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::uint32_t EntryPermissions(std::uint32_t versionMadeBy, std::uint32_t externalAttributes)
{
    constexpr std::uint32_t kUnixHost = 3;
    constexpr std::uint32_t kTypeMask = 0170000;
    constexpr std::uint32_t kRegularFile = 0100000;
    const std::uint32_t mode = externalAttributes >> 16;
    const std::uint32_t type = mode & kTypeMask;
    if (((versionMadeBy >> 8) & 0xFF) != kUnixHost || (type != 0 && type != kRegularFile)) {
        return 0;
    }
    return mode & 0777;
}

std::uint32_t EntryAttributes(std::uint32_t versionMadeBy, std::uint32_t externalAttributes)
{
    const std::uint32_t host = (versionMadeBy >> 8) & 0xFF;
    bool directory = (externalAttributes & 0x40000000U) != 0;
    bool readOnly = (externalAttributes & 0x00800000U) == 0;
    bool hidden = false;
    bool system = false;
    bool archive = true;
    if (IsDosHost(host)) {
        readOnly = (externalAttributes & 0x01U) != 0;
        hidden = (externalAttributes & 0x02U) != 0;
        system = (externalAttributes & 0x04U) != 0;
        directory = (externalAttributes & 0x10U) != 0;
        archive = (externalAttributes & 0x20U) != 0;
    }
    std::uint32_t attributes = 0;
    if (directory) {
        attributes |= ARC_ATTR_DIRECTORY;
    }
    if (archive) {
        attributes |= ARC_ATTR_ARCHIVE;
    }
    if (hidden) {
        attributes |= ARC_ATTR_HIDDEN;
    }
    if (readOnly) {
        attributes |= ARC_ATTR_READONLY;
    }
    if (system) {
        attributes |= ARC_ATTR_SYSTEM;
    }
    return attributes;
}

bool DosTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, std::uint64_t& fileTime)
{
    const int year = 1980 + (dosDate >> 9);
    const int month = (dosDate >> 5) & 0x0F;
    const int day = dosDate & 0x1F;
    const int hour = dosTime >> 11;
    const int minute = (dosTime >> 5) & 0x3F;
    const int second = 2 * (dosTime & 0x1F);
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return false;
    }
    std::tm local {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    // The stamp is wall-clock time where the archive was made; the zone's rules
    // for that date (daylight saving included) decide its UTC instant.
    local.tm_isdst = -1;
    const std::time_t utc = std::mktime(&local);
    if (utc == static_cast<std::time_t>(-1)) {
        return false;
    }
    fileTime = UnixTimeToFileTime(static_cast<std::int64_t>(utc));
    return true;
}

std::uint64_t UnixTimeToFileTime(std::int64_t seconds)
{
    return static_cast<std::uint64_t>(seconds * kFileTimeUnitsPerSecond) + kUnixEpochInFileTime;
}

void ApplyExtendedTimestamp(const unsigned char* extra, std::size_t size, ArchiveEntry& entry)
{
    std::size_t block = 0;
    while (block < size && size - block >= 5) {
        const unsigned tag = static_cast<unsigned>(extra[block]) | static_cast<unsigned>(extra[block + 1]) << 8;
        const std::size_t dataSize =
            static_cast<std::size_t>(extra[block + 2]) | static_cast<std::size_t>(extra[block + 3]) << 8;
        if (tag == 0x5455) {  // "UT"
            const unsigned flags = extra[block + 4];
            std::size_t at = block + 5;
            std::uint64_t* const targets[3] = {&entry.writeTime, &entry.accessTime, &entry.creationTime};
            for (unsigned bit = 0; bit < 3; ++bit) {
                if ((flags & (1U << bit)) == 0) {
                    continue;
                }
                if (size - at < 4) {
                    break;
                }
                const auto seconds = static_cast<std::int32_t>(ReadLe32(extra + at));
                *targets[bit] = UnixTimeToFileTime(seconds);
                at += 4;
            }
            return;
        }
        block += 4 + dataSize;
    }
}

}  // namespace archive
