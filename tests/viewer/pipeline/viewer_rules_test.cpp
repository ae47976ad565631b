#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "viewer/cvglance_dlg.h"
#include "viewer/document_rules.h"

using testsupport::U16;
using testsupport::U8;

namespace {

TEST(ViewerRules, OneToFiveArgumentsAreRefusedLikeAnEmptyCommandLine)
{
    std::vector<CString> args;
    for (std::size_t n = 0; n <= 7; ++n) {
        EXPECT_EQ(IsLegalCommandLine(args), n >= 6) << n << " arguments";
        args.push_back(u"x");
    }
}

TEST(ViewerRules, DocumentTypeIsTheLowerCasedTextAfterTheLastDot)
{
    const struct {
        const char* url;
        const char* type;
    } rows[] = {
        {"ftp://h/cv/x.doc", "doc"},
        {"ftp://h/cv/x.DOC", "doc"},
        {"ftp://h/cv/x.MhT", "mht"},
        {"ftp://h/cv/x.tar.pdf", "pdf"},
        {"ftp://h/cv/x.docx", "docx"},
        {"ftp://h/cv/x.", ""},
        {"no-dot-at-all", "no-dot-at-all"},
        // A file without an extension on a host with a dot in its name.
        {"ftp://files.example/cv/resume", "example/cv/resume"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(U8(DocumentTypeOf(U16(row.url))), row.type) << row.url;
    }
}

TEST(ViewerRules, NamesThatCouldLeaveTheTemporaryFolderAreUnsafe)
{
    const struct {
        const char* text;
        bool safe;
    } rows[] = {
        {"resume_1024", true}, {"张伟", true},    {"a.b", true},      {"", true},
        {"../x", false},       {"..", false},     {"a/b", false},     {"a\\b", false},
        {"x..", false},        {"/etc", false},   {"example/cv", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IsSafeFileNamePart(U16(row.text)), row.safe) << row.text;
    }
}

TEST(ViewerRules, SupportingFolderReplacesTheExtensionAndNeverEscapesTheDocumentsFolder)
{
    const struct {
        const char* path;
        const char* folder;
    } rows[] = {
        {"/w\\tmp\\n.html", "/w\\tmp\\n.files"},
        {"/w\\tmp\\n.htm", "/w\\tmp\\n.files"},
        {"/w\\tmp\\n.", "/w\\tmp\\n.files"},
        {"/w.d/tmp/n", ""},
        {"/w\\tmp.d\\n", ""},
        {"n", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(U8(FilesFolderOf(U16(row.path))), row.folder) << row.path;
    }
}

TEST(ViewerRules, ProgressTextIsTheTitleTwoSpacesAndTheSignedPercent)
{
    const struct {
        WPARAM percent;
        const char* text;
    } rows[] = {
        {42, "张伟的简历  42"},
        {0, "张伟的简历  0"},
        {100, "张伟的简历  100"},
        {0xFFFFFFFFu, "张伟的简历  -1"},           // a 32-bit value shown signed
        {(WPARAM{1} << 32) | 7u, "张伟的简历  7"},  // only the low 32 bits count
    };
    for (const auto& row : rows) {
        EXPECT_EQ(U8(FormatProgressText(U16("张伟的简历"), row.percent)), row.text) << row.percent;
    }
}

TEST(ViewerRules, ProgramFolderIsCutAtTheLastSeparatorOfEitherKind)
{
    EXPECT_EQ(U8(ProgramFolderOf(u"/opt/cv glance/CvGlance")), "/opt/cv glance");
    EXPECT_EQ(U8(ProgramFolderOf(u"C:\\Program Files\\CvGlance.exe")), "C:\\Program Files");
    EXPECT_EQ(U8(ProgramFolderOf(u"CvGlance")), "");
}

class NullWindow final : public CViewerWindow {
public:
    void Navigate(const CString&) override {}
    void MessageBox(const CString&, const CString&) override {}
    void EndDialog() override {}
    void SetWindowText(const CString&) override {}
};

TEST(ViewerDialogLogic, SixArgumentsMakeTheProgramFolderTheWorkFolder)
{
    NullWindow window;
    CCvGlanceDlg dlg(window);
    dlg.m_Args = {u"t", u"n", u"ftp://h/x.doc", u"u", u"p", u"21"};
    dlg.AppendProgramFolder(u"/opt/cv/CvGlance");
    ASSERT_EQ(dlg.m_Args.size(), 7u);
    EXPECT_EQ(U8(dlg.Arg(ARG_WORK_FOLDER)), "/opt/cv");
    EXPECT_EQ(U8(dlg.LoadingPagePath()), "/opt/cv\\res\\loading.htm");
}

TEST(ViewerDialogLogic, SeventhArgumentIsTheWorkFolderAndTheProgramFolderComesLast)
{
    NullWindow window;
    CCvGlanceDlg dlg(window);
    dlg.m_Args = {u"t", u"n", u"ftp://h/x.doc", u"u", u"p", u"21", u"/data/work"};
    dlg.AppendProgramFolder(u"/opt/cv/CvGlance");
    EXPECT_EQ(U8(dlg.Arg(ARG_WORK_FOLDER)), "/data/work");
    EXPECT_EQ(U8(dlg.LoadingPagePath()), "/opt/cv\\res\\loading.htm");
}

TEST(ViewerDialogLogic, SupportingFolderGoesOnlyWhenTheShownDocumentHasLoaded)
{
    testsupport::TempDir dir;
    const std::filesystem::path files = dir.path() / "n.files";
    std::filesystem::create_directories(files / "img");
    testsupport::WriteFileBytes(files / "img" / "photo.png", "png");
    const CString document = U16(dir.path().string()) + u"\\n.html";

    NullWindow window;
    CCvGlanceDlg dlg(window);
    dlg.ShowDocument(document);
    EXPECT_TRUE(std::filesystem::exists(files)) << "removed before the page had loaded";

    dlg.OnPageLoaded("/prog/res/loading.htm");
    EXPECT_TRUE(std::filesystem::exists(files)) << "removed when another page loaded";

    dlg.OnPageLoaded((dir.path() / "n.html").string());
    EXPECT_FALSE(std::filesystem::exists(files)) << "expected removal once the document loaded";
}

TEST(ViewerDialogLogic, SupportingFolderGoesWhenTheViewerClosesBeforeThePageLoaded)
{
    testsupport::TempDir dir;
    const std::filesystem::path files = dir.path() / "n.files";
    std::filesystem::create_directories(files);
    NullWindow window;
    CCvGlanceDlg dlg(window);
    dlg.ShowDocument(U16(dir.path().string()) + u"\\n.html");
    dlg.OnClose();
    EXPECT_FALSE(std::filesystem::exists(files)) << "expected removal when the viewer closes";
}

}  // namespace
