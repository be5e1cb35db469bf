#include "CertificateTrust.h"

#include <windows.h>
#include <wincrypt.h>

#include <cwchar>
#include <iterator>

namespace orvane::cli {

namespace {

constexpr wchar_t StoreName[] = L"TrustedPeople";
constexpr DWORD Encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::wstring ErrorText(const wchar_t* what, DWORD error)
{
    wchar_t code[16];
    std::swprintf(code, std::size(code), L"0x%08lX", static_cast<unsigned long>(error));
    return std::wstring(what) + L" (" + code + L")";
}

class Certificate {
public:
    explicit Certificate(PCCERT_CONTEXT context = nullptr) : context_(context) {}
    Certificate(const Certificate&) = delete;
    Certificate& operator=(const Certificate&) = delete;
    ~Certificate()
    {
        if (context_ != nullptr)
            CertFreeCertificateContext(context_);
    }
    PCCERT_CONTEXT get() const { return context_; }
    PCCERT_CONTEXT* put() { return &context_; }
    // For CertDeleteCertificateFromStore, which frees the context itself.
    PCCERT_CONTEXT release()
    {
        PCCERT_CONTEXT context = context_;
        context_ = nullptr;
        return context;
    }

private:
    PCCERT_CONTEXT context_;
};

class Store {
public:
    explicit Store(DWORD flags)
        : store_(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE | flags, StoreName))
    {
    }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
    ~Store()
    {
        if (store_ != nullptr)
            CertCloseStore(store_, 0);
    }
    HCERTSTORE get() const { return store_; }

private:
    HCERTSTORE store_;
};

// The one certificate a .cer file holds.
bool ReadCertificate(const std::wstring& path, Certificate* certificate, std::wstring* message)
{
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        *message = path + L" does not exist";
        return false;
    }
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_CERT, CERT_QUERY_FORMAT_FLAG_ALL,
                          0, nullptr, nullptr, nullptr, nullptr, nullptr,
                          reinterpret_cast<const void**>(certificate->put())) ||
        certificate->get() == nullptr) {
        *message = ErrorText((path + L" holds no certificate").c_str(), GetLastError());
        return false;
    }
    return true;
}

// The store's own copy of exactly this certificate (the same SHA-1 hash of its encoding).
bool FindExact(HCERTSTORE store, PCCERT_CONTEXT certificate, Certificate* found)
{
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size))
        return false;
    CRYPT_HASH_BLOB blob = {size, hash};
    *found->put() = CertFindCertificateInStore(store, Encoding, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    return found->get() != nullptr;
}

} // namespace

TrustChange TrustCertificate(const std::wstring& certificatePath, std::wstring* message)
{
    Certificate certificate;
    if (!ReadCertificate(certificatePath, &certificate, message))
        return TrustChange::Failed;
    const Store store(0);
    if (store.get() == nullptr) {
        *message = ErrorText(L"the machine's TrustedPeople store cannot be opened for writing", GetLastError());
        return TrustChange::Failed;
    }
    Certificate present;
    if (FindExact(store.get(), certificate.get(), &present)) {
        *message = L"certificate already trusted";
        return TrustChange::AlreadyTrusted;
    }
    if (!CertAddCertificateContextToStore(store.get(), certificate.get(), CERT_STORE_ADD_NEW, nullptr)) {
        *message = ErrorText(L"the certificate cannot be added to the machine's TrustedPeople store", GetLastError());
        return TrustChange::Failed;
    }
    *message = L"certificate trusted (the machine's TrustedPeople store)";
    return TrustChange::Added;
}

TrustChange RemoveCertificateTrust(const std::wstring& certificatePath, std::wstring* message)
{
    Certificate certificate;
    if (!ReadCertificate(certificatePath, &certificate, message))
        return TrustChange::Failed;
    const Store store(CERT_STORE_OPEN_EXISTING_FLAG);
    if (store.get() == nullptr) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            *message = L"certificate was not trusted";
            return TrustChange::NotTrusted;
        }
        *message = ErrorText(L"the machine's TrustedPeople store cannot be opened", error);
        return TrustChange::Failed;
    }
    Certificate present;
    if (!FindExact(store.get(), certificate.get(), &present)) {
        *message = L"certificate was not trusted";
        return TrustChange::NotTrusted;
    }
    if (!CertDeleteCertificateFromStore(present.release())) {
        *message = ErrorText(L"the certificate cannot be taken out of the machine's TrustedPeople store", GetLastError());
        return TrustChange::Failed;
    }
    // Windows writes the deletion through at once; Wine's registry store keeps it until
    // the store is committed (closing it is not enough), so it is committed here.
    CertControlStore(store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
    *message = L"certificate no longer trusted";
    return TrustChange::Removed;
}

} // namespace orvane::cli
