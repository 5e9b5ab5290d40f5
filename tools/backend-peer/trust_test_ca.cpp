// trust-test-ca CA.der: adds a test run's CA to the CURRENT_USER "Root"
// store of the Wine prefix it runs in (run_peers.py --trust-exe; that prefix
// is the namespace's private copy). Exit 0 when the certificate is trusted.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: trust-test-ca CA.der\n");
    return 2;
  }
  HANDLE f = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "trust-test-ca: cannot open the certificate\n");
    return 1;
  }
  std::vector<BYTE> der(64 * 1024);
  DWORD got = 0;
  ReadFile(f, der.data(), static_cast<DWORD>(der.size()), &got, nullptr);
  CloseHandle(f);
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (!store) {
    fprintf(stderr, "trust-test-ca: no Root store (%lu)\n", GetLastError());
    return 1;
  }
  const BOOL ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), got,
                                                   CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(store, 0);
  if (!ok) fprintf(stderr, "trust-test-ca: not added (%lu)\n", GetLastError());
  return ok ? 0 : 1;
}
