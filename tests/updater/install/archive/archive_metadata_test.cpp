#include "updater/install/archive_metadata.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "support/scoped_env.h"
#include "support/system.h"

namespace {

struct AttributeCase {
    const char* what;
    std::uint32_t versionMadeBy;
    std::uint32_t external;
    std::uint32_t expected;
};

TEST(ArchiveEntryAttributes, FollowTheHostThatMadeTheArchive)
{
    const AttributeCase cases[] = {
        {"unix writable file 0644", 0x031E, 0x81A40000U, 0x20},
        {"unix directory 0755", 0x031E, 0x41ED0000U, 0x30},
        {"unix file without owner write 0444", 0x031E, 0x81240000U, 0x21},
        {"unix symbolic link", 0x031E, 0xA1FF0000U, 0x20},
        {"dos archive + read-only", 0x0014, 0x21, 0x21},
        {"dos hidden system", 0x0014, 0x26, 0x26},
        {"dos directory", 0x0014, 0x10, 0x10},
        {"dos nothing set", 0x0014, 0x00, 0x00},
        {"ntfs host 11 reads the low bits", 0x0B14, 0x03, 0x03},
        {"vfat host 14 reads the low bits", 0x0E14, 0x30, 0x30},
        {"host 7 reads the low bits", 0x0714, 0x01, 0x01},
        {"unix host ignores the low dos bits", 0x031E, 0x81A40021U, 0x20},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(archive::EntryAttributes(c.versionMadeBy, c.external), c.expected) << c.what;
    }
}

// Runs the body with the process's time zone set to `zone`.
class TimeZone {
public:
    explicit TimeZone(const char* zone)
    {
        m_zone.emplace("TZ", zone);
        ::tzset();
    }
    ~TimeZone()
    {
        m_zone.reset();
        ::tzset();
    }

private:
    std::optional<testsupport::ScopedEnv> m_zone;
};

constexpr std::uint16_t DosDate(int year, int month, int day)
{
    return static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
constexpr std::uint16_t DosTime(int hour, int minute, int second)
{
    return static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

std::uint64_t FileTime(std::int64_t unixSeconds)
{
    return static_cast<std::uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
}

TEST(ArchiveDosTime, IsTakenAsLocalTimeOfTheArchivesDate)
{
    // 2021-06-15 10:20:30 UTC is Unix time 1623752430.
    const struct {
        const char* zone;
        std::int64_t expected;
        const char* what = "";
    } cases[] = {
        {"UTC0", 1623752430},
        {"CST-8", 1623752430 - 8 * 3600},
        // summer time applies on that date in this zone: UTC+2, not UTC+1
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1623752430 - 2 * 3600, "summer time taken from TZ"},
    };
    for (const auto& c : cases) {
        if (const char* quirk = testsupport::system::KnownQuirk(c.what)) {
            std::printf("known quirk, not checked: %s: %s\n", c.what, quirk);
            continue;
        }
        TimeZone zone(c.zone);
        std::uint64_t fileTime = 0;
        ASSERT_TRUE(archive::DosTimeToFileTime(DosDate(2021, 6, 15), DosTime(10, 20, 30), fileTime)) << c.zone;
        EXPECT_EQ(fileTime, FileTime(c.expected)) << "in zone " << c.zone;
    }
}

TEST(ArchiveDosTime, RejectsWhatIsNotACalendarDateAndLeavesTheTime)
{
    TimeZone zone("UTC0");
    const struct {
        const char* what;
        std::uint16_t date;
        std::uint16_t time;
        bool valid;
    } cases[] = {
        {"month 0", DosDate(2021, 0, 1), DosTime(0, 0, 0), false},
        {"month 13", DosDate(2021, 13, 1), DosTime(0, 0, 0), false},
        {"day 0", DosDate(2021, 5, 0), DosTime(0, 0, 0), false},
        {"30 February", DosDate(2020, 2, 30), DosTime(0, 0, 0), false},
        {"29 February of a common year", DosDate(2021, 2, 29), DosTime(0, 0, 0), false},
        {"29 February of a leap year", DosDate(2020, 2, 29), DosTime(0, 0, 0), true},
        {"31 April", DosDate(2021, 4, 31), DosTime(0, 0, 0), false},
        {"hour 24", DosDate(2021, 5, 1), DosTime(24, 0, 0), false},
        {"minute 60", DosDate(2021, 5, 1), DosTime(1, 60, 0), false},
        {"second 60", DosDate(2021, 5, 1), static_cast<std::uint16_t>(DosTime(1, 1, 0) | 30), false},
        {"the first DOS day", DosDate(1980, 1, 1), DosTime(0, 0, 0), true},
        {"the last DOS day", DosDate(2107, 12, 31), DosTime(23, 59, 58), true},
        {"all bits zero", 0, 0, false},
    };
    for (const auto& c : cases) {
        std::uint64_t fileTime = 42;
        EXPECT_EQ(archive::DosTimeToFileTime(c.date, c.time, fileTime), c.valid) << c.what;
        if (!c.valid) {
            EXPECT_EQ(fileTime, 42U) << c.what << ": a rejected date must not change the time";
        }
    }
    std::uint64_t first = 0;
    ASSERT_TRUE(archive::DosTimeToFileTime(DosDate(1980, 1, 1), 0, first));
    EXPECT_EQ(first, FileTime(315532800)) << "1980-01-01 00:00 UTC";
}

std::string Block(const char tag[2], const std::string& data)
{
    std::string block(tag, 2);
    block.push_back(static_cast<char>(data.size() & 0xFF));
    block.push_back(static_cast<char>(data.size() >> 8));
    return block + data;
}

std::string Le32(std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    return {static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF), static_cast<char>((u >> 16) & 0xFF),
            static_cast<char>(u >> 24)};
}

ArchiveEntry ScanExtra(const std::string& extra)
{
    ArchiveEntry entry;
    entry.writeTime = 1;
    entry.accessTime = 2;
    entry.creationTime = 3;
    archive::ApplyExtendedTimestamp(reinterpret_cast<const unsigned char*>(extra.data()), extra.size(), entry);
    return entry;
}

TEST(ArchiveExtendedTimestamp, OverridesOnlyTheTimesItsFlagsName)
{
    const std::int32_t mtime = 1600000000;
    const std::int32_t atime = 1600000100;
    const std::int32_t ctime = 1600000200;

    ArchiveEntry e = ScanExtra(Block("UT", "\x01" + Le32(mtime)));
    EXPECT_EQ(e.writeTime, FileTime(mtime));
    EXPECT_EQ(e.accessTime, 2U) << "flags 1 leave the access time";
    EXPECT_EQ(e.creationTime, 3U) << "flags 1 leave the creation time";

    e = ScanExtra(Block("UT", "\x07" + Le32(mtime) + Le32(atime) + Le32(ctime)));
    EXPECT_EQ(e.writeTime, FileTime(mtime));
    EXPECT_EQ(e.accessTime, FileTime(atime));
    EXPECT_EQ(e.creationTime, FileTime(ctime));

    // access only: the first time after the flags is the access time
    e = ScanExtra(Block("UT", "\x02" + Le32(atime)));
    EXPECT_EQ(e.writeTime, 1U);
    EXPECT_EQ(e.accessTime, FileTime(atime));

    // a block before it is skipped by its size
    e = ScanExtra(Block("ux", std::string(11, 'z')) + Block("UT", "\x01" + Le32(mtime)));
    EXPECT_EQ(e.writeTime, FileTime(mtime)) << "the UT block after another block should be found";

    // times before 1970 are signed
    e = ScanExtra(Block("UT", "\x01" + Le32(-86400)));
    EXPECT_EQ(e.writeTime, FileTime(-86400));
}

TEST(ArchiveExtendedTimestamp, ReadsNothingBeyondTheField)
{
    const std::int32_t mtime = 1600000000;
    // flags promise three times, the field holds one and a half
    ArchiveEntry e = ScanExtra(Block("UT", "\x07" + Le32(mtime)) + "\x01\x02");
    EXPECT_EQ(e.writeTime, FileTime(mtime));
    EXPECT_EQ(e.accessTime, 2U) << "a time cut by the field's end must not be read";
    EXPECT_EQ(e.creationTime, 3U);

    // a block size running past the end stops the scan
    e = ScanExtra(std::string("xx\xff\xff", 4) + "abc" + Block("UT", "\x01" + Le32(mtime)));
    EXPECT_EQ(e.writeTime, 1U);

    // fewer than five bytes: no block at all
    e = ScanExtra(std::string("UT\x01\x00", 4));
    EXPECT_EQ(e.writeTime, 1U);

    // flags byte only
    e = ScanExtra(Block("UT", "\x01"));
    EXPECT_EQ(e.writeTime, 1U);
}

}  // namespace
