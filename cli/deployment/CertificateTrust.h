// The machine's trust in the certificate that signed Orvane's package. Windows installs a
// package only when its signature leads to a certificate the machine trusts; a throwaway
// self-signed certificate is trusted by adding exactly it to the local machine's
// "TrustedPeople" store (which needs administrator rights), and taken out again, found by
// its SHA-1 hash, so that no other certificate of the same subject is touched.
#pragma once

#include <string>

namespace orvane::cli {

enum class TrustChange {
    Added,          // the certificate is now trusted
    AlreadyTrusted, // it was trusted before; nothing changed
    Removed,        // its trust is taken away
    NotTrusted,     // it was not in the store; nothing changed
    Failed,         // see the message
};

// certificatePath: a .cer file, DER or Base64.
TrustChange TrustCertificate(const std::wstring& certificatePath, std::wstring* message);
TrustChange RemoveCertificateTrust(const std::wstring& certificatePath, std::wstring* message);

} // namespace orvane::cli
