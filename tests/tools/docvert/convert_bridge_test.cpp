#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "page_checks.h"
#include "support/child_process.h"
#include "support/converter_service_scope.h"
#include "support/temp_dir.h"
#include "viewer/convert_bridge.h"

namespace {

// The resident converter the real library starts ends with this program.
[[maybe_unused]] ::testing::Environment* const g_converterService =
    ::testing::AddGlobalTestEnvironment(new testsupport::ConverterServiceScope);

using docverttest::FixturePath;
using testsupport::ReadFileBytes;
using testsupport::U16;
using testsupport::WriteFileBytes;
namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool Convert(const std::string& source, const std::string& target, int kind)
{
    return ConvertToHtml(U16(source).c_str(), U16(target).c_str(), kind);
}

// This test program lies beside the library, as the viewer does when installed.
TEST(ConvertBridge, ConvertsEachArchiveKindThroughTheLibrary)
{
    testsupport::TempDir dir;
    for (const char* name : {"word_cp936.mht", "cid_start.mht", "browser.mht"}) {
        const std::string target = dir / (std::string(name) + ".html");
        ASSERT_TRUE(Convert(FixturePath(name), target, CONVERT_MHT)) << name;
        EXPECT_EQ(docverttest::LocalReferencesOf(ReadFileBytes(target)), std::vector<std::string>{}) << name;
    }
    // Loaded and unloaded once per conversion: loading again must still work.
    const std::string again = dir / "again.html";
    ASSERT_TRUE(Convert(FixturePath("word_cp936.mht"), again, CONVERT_MHT));
    EXPECT_TRUE(Contains(ReadFileBytes(again), "张喆"));
}

TEST(ConvertBridge, ConvertsAWordDocumentThroughTheLibrary)
{
    testsupport::TempDir dir;
    const std::string target = dir / "resume.html";
    ASSERT_TRUE(Convert(FixturePath("resume.doc"), target, CONVERT_DOC));
    const std::string html = ReadFileBytes(target);
    EXPECT_TRUE(Contains(html, "清华大学"));
    EXPECT_FALSE(docverttest::EmbeddedImagesOf(html).empty()) << "the photo should be in the page";
}

// The viewer asks for the resident converter before the document is there;
// it comes up by itself, and a Word conversion through the bridge uses it.
TEST(ConvertBridge, WarmUpStartsTheResidentConverterForWordDocumentsOnly)
{
    const fs::path runtime = std::getenv("XDG_RUNTIME_DIR");
    ASSERT_TRUE(testsupport::EndConverterService(runtime));
    const fs::path socketPath = runtime / ("docvert-" + std::to_string(geteuid()) + ".socket");
    const fs::path lock = socketPath.string() + ".lock";
    fs::remove(lock);
    EXPECT_FALSE(WarmUpConverter(CONVERT_MHT));
    EXPECT_FALSE(fs::exists(lock)) << "nothing should start for an archive";
    ASSERT_TRUE(WarmUpConverter(CONVERT_DOC));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return fs::exists(socketPath); }))
        << "the converter should come up by itself";
    EXPECT_TRUE(testsupport::EndConverterService(runtime));
}

TEST(ConvertBridge, ViewerPathsWithBackslashesReachTheRightFiles)
{
    testsupport::TempDir dir;
    fs::create_directory(dir.path() / "tmp");
    fs::copy_file(FixturePath("cid_start.mht"), dir.path() / "tmp" / "cv.mht");
    const std::string folder = dir.path().string();
    ASSERT_TRUE(Convert(folder + "\\tmp\\cv.mht", folder + "\\tmp\\cv.html", CONVERT_MHT));
    EXPECT_TRUE(fs::exists(dir.path() / "tmp" / "cv.html"));
}

TEST(ConvertBridge, EveryFailureRemovesTheStaleTargetFirst)
{
    testsupport::TempDir dir;
    const std::string noise = dir / "noise.bin";
    WriteFileBytes(noise, "not a document at all");
    struct Case {
        const char* what;
        std::string source;
        int kind;
    };
    const Case cases[] = {
        {"a PDF is never converted", FixturePath("resume.doc"), CONVERT_PDF},
        {"an unknown kind", FixturePath("resume.doc"), 7},
        {"an archive that is no archive", noise, CONVERT_MHT},
        {"a Word file that is no document", noise, CONVERT_DOC},
        {"a missing source", dir / "missing.mht", CONVERT_MHT},
    };
    for (const Case& c : cases) {
        const std::string target = dir / "out.html";
        WriteFileBytes(target, "<p>the page of an earlier run</p>");
        EXPECT_FALSE(Convert(c.source, target, c.kind)) << c.what;
        EXPECT_FALSE(fs::exists(target)) << c.what << ": the old page must not be shown again";
    }
}

TEST(ConvertBridge, NullPathsFailWithoutTouchingAnything)
{
    testsupport::TempDir dir;
    const std::string target = dir / "out.html";
    WriteFileBytes(target, "kept");
    EXPECT_FALSE(ConvertToHtml(nullptr, U16(target).c_str(), CONVERT_MHT));
    EXPECT_FALSE(ConvertToHtml(U16(FixturePath("browser.mht")).c_str(), nullptr, CONVERT_MHT));
    EXPECT_EQ(ReadFileBytes(target), "kept");
}

// Runs the probe program with LD_LIBRARY_PATH set to `libraryPath`, or unset
// when that is empty; its exit status.
int RunProbe(const std::string& probe, const std::vector<std::string>& args, const std::string& libraryPath)
{
    std::vector<std::string> argv = {probe};
    argv.insert(argv.end(), args.begin(), args.end());
    testsupport::ChildOptions options{.unsetEnv = {"LD_LIBRARY_PATH"}};
    if (!libraryPath.empty()) {
        options.env = {{"LD_LIBRARY_PATH", libraryPath}};
    }
    return testsupport::RunAndWait(argv, options);
}

class LibraryLookup : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_probe = (m_programDir.path() / "convert_probe").string();
        fs::copy_file(DOCVERT_PROBE, m_probe);
        m_target = m_work / "out.html";
    }

    // Runs the probe; checks that the stale target is gone either way.
    bool Probe(const char* kind, const std::string& source, const std::string& libraryPath)
    {
        WriteFileBytes(m_target, "stale");
        const int status = RunProbe(m_probe, {kind, source, m_target}, libraryPath);
        EXPECT_TRUE(status == 0 || status == 1) << "the probe should run and answer, not " << status;
        EXPECT_EQ(status == 0, fs::exists(m_target)) << "a page exists exactly when the bridge reports success";
        return status == 0;
    }

    testsupport::TempDir m_programDir;
    testsupport::TempDir m_work;
    std::string m_probe;
    std::string m_target;
    const std::string m_bin = fs::path(DOCVERT_LIBRARY).parent_path().string();
    const std::string m_mht = FixturePath("browser.mht");
    const std::string m_doc = FixturePath("resume.doc");
};

TEST_F(LibraryLookup, WithoutTheLibraryDocAndMhtFail)
{
    EXPECT_FALSE(Probe("mht", m_mht, ""));
    EXPECT_FALSE(Probe("doc", m_doc, ""));
}

TEST_F(LibraryLookup, TheSystemSearchFindsTheLibraryElsewhere)
{
    EXPECT_TRUE(Probe("mht", m_mht, m_bin));
}

TEST_F(LibraryLookup, TheProgramFolderComesFirstAndAMissingExportFails)
{
    fs::copy_file(DOCVERT_MHT_ONLY_LIBRARY, m_programDir.path() / "libDocvert_u.so");
    // The full library is on the system's search path too, but the one beside
    // the program is the one used: it converts archives and has no DocToHtml.
    EXPECT_TRUE(Probe("mht", m_mht, m_bin));
    EXPECT_FALSE(Probe("doc", m_doc, m_bin));
}

TEST_F(LibraryLookup, TheFullLibraryBesideTheProgramConvertsWithoutAnySearchPath)
{
    fs::copy_file(DOCVERT_LIBRARY, m_programDir.path() / "libDocvert_u.so");
    EXPECT_TRUE(Probe("mht", m_mht, ""));
}

}  // namespace
