// The signature and public key parsers over arbitrary bytes: both files come
// from outside (the server; a key file an installer may have damaged).
//
// Invariants: a parsed signature's trusted comment is one line of at most the
// comment limit; nothing bigger than the signature file limit parses; a
// parsed signature never verifies under a key it does not name, nor over a
// message it was not made for (a fixed digest of zeros stands in).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "updater/install/minisign.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;

    const auto key = minisign::ParsePublicKey(text, &error);
    if (!key) {
        FUZZ_CHECK(!error.empty(), "a refused key says why");
    }

    const auto signature = minisign::ParseSignature(text, &error);
    if (!signature) {
        FUZZ_CHECK(!error.empty(), "a refused signature says why");
        return 0;
    }
    FUZZ_CHECK(size <= minisign::SIGNATURE_FILE_MAX_BYTES, "oversized signature files are refused");
    FUZZ_CHECK(signature->trustedComment.find('\n') == std::string::npos, "the trusted comment is one line");
    FUZZ_CHECK(signature->trustedComment.size() <= minisign::COMMENT_MAX_BYTES, "the comment is bounded");

    minisign::PublicKey other;
    other.keyNumber = signature->keyNumber;
    other.keyNumber[0] = static_cast<std::uint8_t>(other.keyNumber[0] ^ 1);
    const minisign::Digest zeros{};
    FUZZ_CHECK(!minisign::Verify(other, *signature, zeros, "/nonexistent", &error),
               "a signature naming another key number is refused");
    if (key && signature->prehashed) {
        // The key in the same input cannot have signed an all-zero digest
        // unless the input was crafted with its secret key, which the fuzzer
        // does not have.
        FUZZ_CHECK(!minisign::Verify(*key, *signature, zeros, "", &error), "no forged signature verifies");
    }
    return 0;
}
