// add_root_certificate FILE: adds the DER certificate FILE to the machine's trusted root store, as an
// administrator installs a company's root, so that a prefix trusts the CA the TLS tests make.
#include <windows.h>

#include <shellapi.h>
#include <wincrypt.h>

#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int nArgs = 0;
    LPWSTR* ppszArgs = CommandLineToArgvW(GetCommandLineW(), &nArgs);
    if (ppszArgs == nullptr || nArgs != 2)
        return 2;
    HANDLE hFile = CreateFileW(ppszArgs[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LocalFree(ppszArgs);
    if (hFile == INVALID_HANDLE_VALUE)
        return 1;
    std::vector<BYTE> der(GetFileSize(hFile, nullptr));
    DWORD cbRead = 0;
    BOOL bRead = ReadFile(hFile, der.data(), static_cast<DWORD>(der.size()), &cbRead, nullptr);
    CloseHandle(hFile);
    if (!bRead || cbRead != der.size())
        return 1;
    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (hStore == nullptr)
        return 1;
    BOOL bAdded = CertAddEncodedCertificateToStore(
        hStore, X509_ASN_ENCODING, der.data(), cbRead, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(hStore, 0);
    return bAdded ? 0 : 1;
}
