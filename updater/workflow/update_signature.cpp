#include "updater/workflow/update_signature.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/path.h"
#include "updater/workflow/manifest.h"

namespace {

// Reads at most `limit` + 1 bytes, so that an oversized file shows as one.
bool ReadSmallFile(const CString& path, std::size_t limit, std::string* text)
{
    std::ifstream in(platform::ToPath(path), std::ios::binary);
    if (!in) {
        return false;
    }
    text->assign(limit + 1, '\0');
    in.read(text->data(), static_cast<std::streamsize>(text->size()));
    text->resize(static_cast<std::size_t>(in.gcount()));
    return !in.bad();
}

}  // namespace

PinnedKey LoadPinnedKey(const CString& installDir)
{
    PinnedKey pinned;
    const CString path = installDir + PUBLIC_KEY_FILE;
    if (!platform::PathExists(path)) {
        std::fprintf(stderr, "MorvexUpdate: the update source is not verified (no %s beside the program).\n",
                     platform::Utf16ToUtf8(PUBLIC_KEY_FILE).c_str());
        return pinned;
    }
    pinned.present = true;
    std::string text;
    if (!ReadSmallFile(path, minisign::SIGNATURE_FILE_MAX_BYTES, &text)) {
        pinned.error = "the pinned public key cannot be read";
        return pinned;
    }
    pinned.key = minisign::ParsePublicKey(text, &pinned.error);
    return pinned;
}

std::string ExpectedTrustedComment(std::int32_t productIndex, const CString& version, const CString& fileName)
{
    return "morvex code=" + platform::Utf16ToUtf8(GetProductInfo(productIndex).folderCode) +
           " version=" + platform::Utf16ToUtf8(version) + " file=" + platform::Utf16ToUtf8(fileName);
}

bool VerifyDownload(const PinnedKey& pinned, CFtpTransfer& transfer, const CString& remoteUrl,
                    const CString& localPath, const std::string& expected, const minisign::Digest* digest,
                    std::string* why)
{
    if (!pinned.present) {
        return true;
    }
    if (!pinned.key) {
        *why = pinned.error;
        return false;
    }
    const CString signaturePath = localPath + SIGNATURE_SUFFIX;
    // A download appends: a signature left by an interrupted run must not mix in.
    platform::DeleteFileW(signaturePath);
    const BOOL fetched = transfer.DownloadSmallFile(remoteUrl + SIGNATURE_SUFFIX, signaturePath,
                                                    static_cast<std::int64_t>(minisign::SIGNATURE_FILE_MAX_BYTES));
    std::string text;
    const bool read = fetched != FALSE && ReadSmallFile(signaturePath, minisign::SIGNATURE_FILE_MAX_BYTES, &text);
    platform::DeleteFileW(signaturePath);
    if (!read) {
        *why = "its signature cannot be downloaded";
        return false;
    }
    const std::optional<minisign::Signature> signature = minisign::ParseSignature(text, why);
    if (!signature) {
        return false;
    }
    // Checked before the cryptography so that the message says what is wrong;
    // the comment's own signature is checked in Verify all the same.
    if (signature->trustedComment != expected) {
        *why = "the signature is for \"" + signature->trustedComment + "\", not \"" + expected + "\"";
        return false;
    }
    const std::string nativePath = platform::NativePath(localPath);
    minisign::Digest computed{};
    if (digest == nullptr && signature->prehashed) {
        if (!minisign::DigestOfFile(nativePath, &computed, why)) {
            return false;
        }
        digest = &computed;
    }
    return minisign::Verify(*pinned.key, *signature, digest != nullptr ? *digest : computed, nativePath, why);
}

void CDownloadDigest::OnDownloadBytes(const void* data, std::size_t size)
{
    m_digest.Update(data, size);
    m_bytes += size;
}

std::optional<minisign::Digest> CDownloadDigest::DigestOf(const CString& path)
{
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(platform::ToPath(path), ec);
    if (ec || size != m_bytes) {
        return std::nullopt;
    }
    return m_digest.Final();
}

void ReportVerificationFailure(const char* what, const std::string& why)
{
    std::fprintf(stderr, "MorvexUpdate: %s: %s.\n", what, why.c_str());
}
