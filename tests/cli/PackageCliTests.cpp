// orvane.exe's "package" command for Windows 11's menu, as the installers and a person run
// it: under Wine (which reports itself as an older Windows and has no package deployment
// API) it answers "not available", succeeds and changes nothing. The certificate trust
// that the all-users install adds and takes away is checked directly against the
// machine's TrustedPeople store, which Wine's crypt32 keeps in the registry as Windows
// does (SystemCertificates\TrustedPeople\Certificates\<SHA-1>).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CertificateTrust.h"
#include "RunTool.h"
#include "TestSupport.h"

namespace orvane::test {
namespace {

using cli::TrustChange;

constexpr wchar_t TrustedPeople[] = L"Software\\Microsoft\\SystemCertificates\\TrustedPeople";
constexpr wchar_t TrustedCertificates[] = L"Software\\Microsoft\\SystemCertificates\\TrustedPeople\\Certificates";

// Two self-signed code-signing certificates made with openssl for this test: the same
// subject as the package's throwaway certificate and the same serial number, different
// keys, so that only their hashes (given by openssl) tell them apart.
constexpr char CertificateA[] =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIDPDCCAiSgAwIBAgIBATANBgkqhkiG9w0BAQsFADAuMSwwKgYDVQQDDCNCcmlu\n"
    "ZGxld2ljayBTb2Z0d2FyZSBPcnZhbmUgUGFja2FnZTAeFw0yNjEyMDgxNzIyMzBa\n"
    "Fw0zNjEyMDUxNzIyMzBaMC4xLDAqBgNVBAMMI0JyaW5kbGV3aWNrIFNvZnR3YXJl\n"
    "IE9ydmFuZSBQYWNrYWdlMIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKCAQEA\n"
    "1pb/wSDOn7HV7uYZV/hkOTctSOuxpdxuvE9Vme1YCoNS7A4wHUi7EFRaEx4Cefeh\n"
    "qUKJVdQUvCBuAujrONoWg5dnMgK5jyaLzkChbgnlb4nVWgwVXiz2D1Hw1nWJasrW\n"
    "wivmNLLDMXs6kdjMJQHC7Y7nnGQtxPF6lTHe9Yvgg3hTsfuYIrNqhu/LGd2XAJG8\n"
    "/Ny3pUvQ63eqfkgNpeyEw8bo6OaDBQWo2NtlHFkSDPvBLQf4A41sF/uWDifdZjQ8\n"
    "9GI3TJb+zp2L23soXTu45kKrntZF1MDQwP3OQp8Q2+BauGy++BUwLuhJIfb76IHe\n"
    "57H3pAsE/WkEFj72i178XQIDAQABo2UwYzAdBgNVHQ4EFgQUPVZSy8P8ou2QNDRd\n"
    "z79JtnG6LpIwHwYDVR0jBBgwFoAUPVZSy8P8ou2QNDRdz79JtnG6LpIwEwYDVR0l\n"
    "BAwwCgYIKwYBBQUHAwMwDAYDVR0TAQH/BAIwADANBgkqhkiG9w0BAQsFAAOCAQEA\n"
    "ptqvKp5HmSZ/n6wnuRPc/OgBIZba5eCDFZPiirGbP7yCYpk9axxC2b5r4gouLBae\n"
    "fefDTcZaZGYzMR4Lv+e2KY5Tecxw5tA985YXI7nDQYSVZhtbSs+fo7druXYAUZfv\n"
    "v1r8q9x72GdSQxZuITsTcB6MKDL3pdoqOzB4QWHamTi+0pnLvazFL7jNb/jkRnE9\n"
    "P0Z0yB1F4T927fos5edH6D0JN6ba2seokjm3wmgeUYIZxs7CV5emgyJO/O+PJ5Te\n"
    "GBV1ossFVPtFWf9ns8XakmWH58QZp/kfvDvuvUPi8j7BTOMCMuCzASMfsKoFAGMT\n"
    "2ON9LmfboP4LJI5ew1oDqQ==\n"
    "-----END CERTIFICATE-----\n";
constexpr wchar_t HashA[] = L"2C65DFEC7656A68B88268F0E393FC40467D29D86";
constexpr char CertificateB[] =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIDPDCCAiSgAwIBAgIBATANBgkqhkiG9w0BAQsFADAuMSwwKgYDVQQDDCNCcmlu\n"
    "ZGxld2ljayBTb2Z0d2FyZSBPcnZhbmUgUGFja2FnZTAeFw0yNjEyMDgxNzIyMzBa\n"
    "Fw0zNjEyMDUxNzIyMzBaMC4xLDAqBgNVBAMMI0JyaW5kbGV3aWNrIFNvZnR3YXJl\n"
    "IE9ydmFuZSBQYWNrYWdlMIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKCAQEA\n"
    "lm0Ua7rqULkbT7/99RMamYNf+55jF2pSmRuvjPqPo0Xi6WjSCqwN7OMkZLUtjs+V\n"
    "sXVZkd9JobsPe+bN4ca9C8ia5Eluw1oYy+XO25Xh+2vFxSAmkSdX3gVrjG83B7Ol\n"
    "5LOq141b7QO5skKUrt9K9KIoA3ko01Ia4deRhBDTs6FylC88ktQjnhAs7N2OWjbq\n"
    "rpoINqO1UjzD2Zlc5cWZuXJBNB2SySfxEq8qKwTG8IAeoi5xvPr98F/PWxTDCykA\n"
    "8+YqwmDIrGld2ANBilZpZRA+AA5RHxW+Lhjadh2c67a1Tft3WHYI65LUkf+ZeUzJ\n"
    "qkoVCLPMrn+Uutq+F/ZFxwIDAQABo2UwYzAdBgNVHQ4EFgQUFQEpEE0l36lZTOmW\n"
    "/Oq7YxS9tBwwHwYDVR0jBBgwFoAUFQEpEE0l36lZTOmW/Oq7YxS9tBwwEwYDVR0l\n"
    "BAwwCgYIKwYBBQUHAwMwDAYDVR0TAQH/BAIwADANBgkqhkiG9w0BAQsFAAOCAQEA\n"
    "FNQxWP7cTcZW1oyb8gEjbtUu9SbVQ2wokigfDg8BtIio7X8pg1HW6Ewn00NcAZgl\n"
    "OJwArJbj/u/EhTfoSdM4UPvPQWaK9i6CMqxEv/ve+gNjrGX6ZTi4SAkcjsUdoXKu\n"
    "eC9o95sFPb7muo+RUPjwGCeXsLMpPF8HXoFL8dKhVyw2it7JppGJZXswGMyzqcM/\n"
    "j9YCDkHEwTgrtP7byxQsZDgPEAh/Nrr+ypnez2BievMxW23e+JZqW+Mpu34TBnzv\n"
    "7fb8TVckeSbi9/A/O9O4F+tbZsCYQeWP+DkX7rbh0wud3yeMlojus85beHkfqiWO\n"
    "nekqUPvk3eE4YM2oqwkchg==\n"
    "-----END CERTIFICATE-----\n";
constexpr wchar_t HashB[] = L"618905E4D1248E341B137C527104BBAAFADE40C4";

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
}

bool Trusted(const wchar_t* hash) { return KeyExists(HKEY_LOCAL_MACHINE, std::wstring(TrustedCertificates) + L"\\" + hash); }

// What the package command could change: the machine's certificate stores, the
// product's keys, the classes (a package's COM class would appear there) and this user's
// software keys.
std::wstring RegistrySnapshot()
{
    return DumpKey(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\SystemCertificates") +
           DumpKey(HKEY_LOCAL_MACHINE, L"Software\\Brindlewick Software") +
           DumpKey(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID") + DumpKey(HKEY_CURRENT_USER, L"Software");
}

class PackageCliTest : public testing::Test {
protected:
    PackageCliTest()
        : certA_(dir_.Path() + L"\\Orvane-a.cer"), certB_(dir_.Path() + L"\\Orvane-b.cer"),
          package_(dir_.Path() + L"\\Orvane-test.msix"), storeGuard_(HKEY_LOCAL_MACHINE, TrustedPeople)
    {
        WriteBytes(certA_, CertificateA);
        WriteBytes(certB_, CertificateB);
        WriteBytes(package_, "PK not a real package");
    }

    TempDir dir_;
    std::wstring certA_;
    std::wstring certB_;
    std::wstring package_;
    KeyGuard storeGuard_;
};

TEST_F(PackageCliTest, WhereWindowsCannotTakeThePackageItSaysSoAndChangesNothing)
{
    struct Case {
        const char* name;
        std::vector<std::wstring> args;
    };
    const Case cases[] = {
        {"register for this user", {L"package", L"register"}},
        {"register for all users, trusting", {L"package", L"register", L"--all-users", L"--trust", certA_, package_}},
        {"register a package by name", {L"package", L"register", package_}},
        {"unregister for this user", {L"package", L"unregister"}},
        {"unregister for all users, untrusting", {L"package", L"unregister", L"--all-users", L"--trust", certA_}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring before = RegistrySnapshot();
        const std::string certificate = ReadFileText(certA_);
        const ToolRun run = RunTool(c.args);
        EXPECT_EQ(run.ExitCode, 0u);
        EXPECT_TRUE(Contains(run.Out, L"package: not available")) << Utf8(run.Out);
        EXPECT_TRUE(Contains(run.Out, L"nothing changed")) << Utf8(run.Out);
        EXPECT_EQ(run.Err, L"");
        EXPECT_EQ(RegistrySnapshot(), before);
        EXPECT_FALSE(Trusted(HashA));
        EXPECT_EQ(ReadFileText(certA_), certificate);
        EXPECT_EQ(ReadFileText(package_), "PK not a real package");
    }
}

TEST_F(PackageCliTest, CommandLinesItDoesNotUnderstandAreRefused)
{
    struct Case {
        std::vector<std::wstring> args;
        const wchar_t* message;
    };
    const Case cases[] = {
        {{L"package"}, L"package needs register or unregister"},
        {{L"package", L"install"}, L"package needs register or unregister"},
        {{L"package", L"register", L"--for-all"}, L"unknown option --for-all"},
        {{L"package", L"register", L"--trust"}, L"--trust needs one CERT"},
        {{L"package", L"unregister", L"--trust", L"a.cer", L"--trust", L"b.cer"}, L"--trust needs one CERT"},
        {{L"package", L"register", L"a.msix", L"b.msix"}, L"package takes one PACKAGE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.message));
        const std::wstring before = RegistrySnapshot();
        const ToolRun run = RunTool(c.args);
        EXPECT_EQ(run.ExitCode, 2u);
        EXPECT_TRUE(Contains(run.Err, std::wstring(L"orvane: ") + c.message)) << Utf8(run.Err);
        EXPECT_EQ(run.Out, L"");
        EXPECT_EQ(RegistrySnapshot(), before);
    }
}

// The trust the all-users install adds and its uninstall takes away, in the machine's
// TrustedPeople store: exactly the package's certificate, never another of the same
// subject and serial number.
TEST_F(PackageCliTest, TrustIsAddedAndTakenAwayForExactlyThatCertificate)
{
    enum class Step { TrustA, TrustB, RemoveA, RemoveB };
    struct Case {
        const char* name;
        std::vector<Step> before; // done first, each expected to succeed
        Step step;
        TrustChange expected;
        bool trustedA;
        bool trustedB;
    };
    const Case cases[] = {
        {"trust", {}, Step::TrustA, TrustChange::Added, true, false},
        {"trust again", {Step::TrustA}, Step::TrustA, TrustChange::AlreadyTrusted, true, false},
        {"remove", {Step::TrustA}, Step::RemoveA, TrustChange::Removed, false, false},
        {"remove leaves the twin", {Step::TrustA, Step::TrustB}, Step::RemoveA, TrustChange::Removed, false, true},
        {"remove what is not trusted", {Step::TrustB}, Step::RemoveA, TrustChange::NotTrusted, false, true},
        {"remove from an empty store", {}, Step::RemoveB, TrustChange::NotTrusted, false, false},
    };
    auto run = [&](Step step, std::wstring* message) {
        switch (step) {
        case Step::TrustA: return cli::TrustCertificate(certA_, message);
        case Step::TrustB: return cli::TrustCertificate(certB_, message);
        case Step::RemoveA: return cli::RemoveCertificateTrust(certA_, message);
        case Step::RemoveB: return cli::RemoveCertificateTrust(certB_, message);
        }
        return TrustChange::Failed;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, TrustedPeople);
        std::wstring message;
        for (Step step : c.before)
            ASSERT_NE(run(step, &message), TrustChange::Failed) << Utf8(message);
        EXPECT_EQ(run(c.step, &message), c.expected) << Utf8(message);
        EXPECT_EQ(Trusted(HashA), c.trustedA);
        EXPECT_EQ(Trusted(HashB), c.trustedB);
    }
}

TEST_F(PackageCliTest, ACertificateThatCannotBeReadChangesNoTrust)
{
    const std::wstring notCertificate = dir_.Path() + L"\\not.cer";
    WriteBytes(notCertificate, "-----BEGIN CERTIFICATE-----\nbm90IGEgY2VydGlmaWNhdGU=\n-----END CERTIFICATE-----\n");
    std::wstring message;
    ASSERT_EQ(cli::TrustCertificate(certB_, &message), TrustChange::Added) << Utf8(message);
    const std::wstring before = DumpKey(HKEY_LOCAL_MACHINE, TrustedPeople);
    for (const std::wstring& path : {dir_.Path() + L"\\missing.cer", notCertificate, package_}) {
        SCOPED_TRACE(Utf8(path));
        EXPECT_EQ(cli::TrustCertificate(path, &message), TrustChange::Failed);
        EXPECT_TRUE(Contains(message, path)) << Utf8(message);
        EXPECT_EQ(cli::RemoveCertificateTrust(path, &message), TrustChange::Failed);
        EXPECT_EQ(DumpKey(HKEY_LOCAL_MACHINE, TrustedPeople), before);
    }
    EXPECT_TRUE(Trusted(HashB));
}

} // namespace
} // namespace orvane::test
