#include "PackageCommand.h"

#include <windows.h>

#include <iterator>
#include <string>

#include "CertificateTrust.h"
#include "ConsoleText.h"

namespace orvane::cli {

namespace {

// The package the build made for this program's architecture, beside this program.
std::wstring DefaultPackagePath()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    if (length == 0 || length >= std::size(path))
        return L"";
    std::wstring folder(path, length);
    folder.erase(folder.find_last_of(L'\\') + 1);
    return folder + (sizeof(void*) == 8 ? L"Orvane-x64.msix" : L"Orvane-x86.msix");
}

void Say(const std::wstring& text) { WriteOut(L"package: " + text + L"\n"); }
void Complain(const std::wstring& text) { WriteErr(L"orvane: package: " + text + L"\n"); }

// Prints the step's report; true when it did not fail.
bool Tell(const DeploymentReport& report)
{
    if (report.Outcome == DeploymentOutcome::Failed) {
        Complain(report.Text);
        return false;
    }
    Say(report.Text);
    return true;
}

// The installers name the throwaway certificate's file, which a build signed with a
// publisher's certificate does not install: such a package needs no trust.
bool CertificateMissing(const wchar_t* certificate)
{
    if (GetFileAttributesW(certificate) != INVALID_FILE_ATTRIBUTES)
        return false;
    Say(std::wstring(L"no certificate ") + certificate + L"; none trusted or taken out (a publisher's certificate needs none)");
    return true;
}

bool TellTrust(TrustChange change, const std::wstring& message)
{
    if (change == TrustChange::Failed) {
        Complain(message);
        return false;
    }
    Say(message);
    return true;
}

} // namespace

int PackageCommand(const PackageRequest& request)
{
    const DeploymentReport available = CheckDeploymentAvailable();
    if (available.Outcome != DeploymentOutcome::Done) {
        Say(available.Text + L"; nothing changed (Explorer keeps Orvane's entry under \"Show more options\")");
        return 0;
    }
    const std::wstring package = request.Package != nullptr ? std::wstring(request.Package) : DefaultPackagePath();
    std::wstring message;
    bool succeeded = true;
    if (request.Register) {
        if (request.Certificate != nullptr && !CertificateMissing(request.Certificate)) {
            const TrustChange change = TrustCertificate(request.Certificate, &message);
            succeeded = TellTrust(change, message) && succeeded;
        }
        succeeded = Tell(RegisterPackage(package, request.Users)) && succeeded;
    } else {
        succeeded = Tell(UnregisterPackage(package, request.Users)) && succeeded;
        // The trust goes even when the package could not be removed: the product is leaving.
        if (request.Certificate != nullptr && !CertificateMissing(request.Certificate)) {
            const TrustChange change = RemoveCertificateTrust(request.Certificate, &message);
            succeeded = TellTrust(change, message) && succeeded;
        }
    }
    return succeeded ? 0 : 1;
}

} // namespace orvane::cli
