// Signed updates: the public key pinned beside the executable, and the checks
// of the downloaded manifest and archive against their minisign signatures.
//
// Without "MorvexUpdate.pub" nothing is checked (the update source is not
// verified, and the check says so once on standard error). With it, every
// offered manifest and every archive must come with a signature by that key
// whose trusted comment names exactly the product code, the offered version
// and the file; anything else is refused before the installation is touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/types.h"
#include "transfer/ftp_transfer.h"
#include "updater/install/minisign.h"

// Beside the executable, put there by the product's installer; an update may
// bring a new one, which then counts from the next update on.
inline constexpr char16_t PUBLIC_KEY_FILE[] = u"MorvexUpdate.pub";
// Beside each file on the server, and beside its download.
inline constexpr char16_t SIGNATURE_SUFFIX[] = u".minisig";

// The pinned key of an installation, read when the check starts.
struct PinnedKey {
    bool present = false;                     // the key file exists
    std::optional<minisign::PublicKey> key;   // empty when absent or unreadable
    std::string error;                        // why a present key is unusable
};

// Reads installDir + PUBLIC_KEY_FILE. When there is none, prints the line that
// the update source is not verified on standard error (once per run: only the
// check reads it).
PinnedKey LoadPinnedKey(const CString& installDir);

// "morvex code=<code> version=<version> file=<file name>"
std::string ExpectedTrustedComment(std::int32_t productIndex, const CString& version, const CString& fileName);

// Fetches the signature of the remote file `remoteUrl` (its URL + SIGNATURE_SUFFIX)
// next to `localPath` and checks the downloaded file against it: made by the
// pinned key, over this file's content, trusted comment exactly `expected`.
// `digest` is the file's BLAKE2b-512 when the caller already has it (null:
// read from the file). The signature's download is gone afterwards. True when
// the key is absent (nothing to check); false with *why otherwise.
bool VerifyDownload(const PinnedKey& pinned, CFtpTransfer& transfer, const CString& remoteUrl,
                    const CString& localPath, const std::string& expected, const minisign::Digest* digest,
                    std::string* why);

// The BLAKE2b-512 of a download, taken as its bytes reach the file, so that
// checking a large archive needs no second pass over it.
class CDownloadDigest : public CDownloadObserver {
public:
    void OnDownloadBytes(const void* data, std::size_t size) override;
    // The digest when it covers exactly what the file at `path` holds now
    // (every byte seen, none missed); empty otherwise, and the caller reads
    // the file instead.
    std::optional<minisign::Digest> DigestOf(const CString& path);

private:
    minisign::FileDigest m_digest;
    std::uint64_t m_bytes = 0;
};

// One line on standard error: "MorvexUpdate: <what>: <why>".
void ReportVerificationFailure(const char* what, const std::string& why);
