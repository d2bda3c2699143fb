// Test tool: adds a DER certificate to, or removes it from, the local machine's ROOT store
// of the Wine prefix it runs in. Usage: trustroot add|remove <file.der>. Exit 0 on success.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  HANDLE file =
      CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  std::vector<BYTE> der(GetFileSize(file, nullptr));
  DWORD read = 0;
  const BOOL ok = ReadFile(file, der.data(), static_cast<DWORD>(der.size()), &read, nullptr);
  CloseHandle(file);
  if (!ok || read != der.size()) return 3;

  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
  if (store == nullptr) {
    fprintf(stderr, "CertOpenStore: %lu\n", GetLastError());
    return 4;
  }
  int rc = 0;
  if (wcscmp(argv[1], L"add") == 0) {
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      fprintf(stderr, "CertAddEncodedCertificateToStore: %lu\n", GetLastError());
      rc = 5;
    }
  } else if (wcscmp(argv[1], L"remove") == 0) {
    PCCERT_CONTEXT wanted =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    PCCERT_CONTEXT found = wanted ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                               CERT_FIND_EXISTING, wanted, nullptr)
                                  : nullptr;
    if (found != nullptr && !CertDeleteCertificateFromStore(found)) rc = 5;  // deletion frees found
    if (wanted != nullptr) CertFreeCertificateContext(wanted);
  } else {
    rc = 2;
  }
  CertCloseStore(store, 0);
  return rc;
}
