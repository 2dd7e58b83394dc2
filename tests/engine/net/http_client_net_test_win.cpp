// Network cases about Windows' own settings: the user's proxy and the system's message table.
#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "http/http_winhttp_win.h"
#include "tests/engine/net/net_test_util.h"

namespace sv {

std::string LocalName(const std::string& unixPath) { return "Z:" + unixPath; }

int FreeLoopbackPort() {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 0;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
    int len = sizeof(addr);
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
  }
  closesocket(s);
  return port;
}

namespace {

// Windows names the failed certificate check in the SECURE_FAILURE notification before the
// request fails (Wine does not send it, so the reading is checked here, not against a server).
TEST(HttpErrorText, CertificateFailuresAreToldApartByTheNotificationsFlags) {
  struct Case {
    DWORD flags;
    uint32_t code;
  };
  for (const Case& c : {Case{WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID, kHttpErrorCertDateInvalid},
                        Case{WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, kHttpErrorCertNameInvalid},
                        Case{WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA |
                                 WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID,
                             kHttpErrorCertUnknownIssuer},
                        Case{WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, kHttpErrorCertRevoked},
                        Case{WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR,
                             kHttpErrorSecureFailure}}) {
    HttpResult result;
    FailWithCode(result, ERROR_WINHTTP_SECURE_FAILURE, c.flags);
    EXPECT_EQ(result.error_code, c.code) << c.flags;
    EXPECT_EQ(result.error_text, HttpClient::ErrorText(c.code));
  }
  // The flags say nothing about a failure that is not a secure-connection one.
  HttpResult result;
  FailWithCode(result, ERROR_WINHTTP_CANNOT_CONNECT, WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA);
  EXPECT_EQ(result.error_code, uint32_t(ERROR_WINHTTP_CANNOT_CONNECT));
}

TEST(HttpErrorText, SystemTextForOtherNumbers) {
  // The system knows error 2; its text is trimmed and numbered.
  HttpClient loaded;  // makes sure winhttp.dll is loaded for its message table
  ASSERT_TRUE(loaded.Open(L"Sarvik/1.0"));
  const std::wstring known = HttpClient::ErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_GT(known.size(), 4u);
  EXPECT_EQ(known.substr(known.size() - 4), L" (2)");
  EXPECT_NE(known[0], L' ');
  EXPECT_EQ(known.find(L'\n'), std::wstring::npos);
}

// The user's proxy setting, as the system's internet settings store it: a header (version 0x46,
// a counter, flags: direct | proxy), then the proxy list and the bypass list, each as a length
// and ANSI characters.
class UserProxySetting {
 public:
  UserProxySetting(const std::string& proxy, const std::string& bypass) {
    RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key_,
                    nullptr);
    DWORD size = 0;
    if (RegQueryValueExW(key_, kValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
      saved_.resize(size);
      hadValue_ = RegQueryValueExW(key_, kValue, nullptr, nullptr, saved_.data(), &size) ==
                  ERROR_SUCCESS;
    }
    std::string blob;
    const auto put32 = [&](uint32_t v) { blob.append(reinterpret_cast<const char*>(&v), 4); };
    put32(0x46);
    put32(1);
    put32(1 | 2);
    put32(uint32_t(proxy.size()));
    blob += proxy;
    put32(uint32_t(bypass.size()));
    blob += bypass;
    put32(0);  // no automatic configuration script
    for (int i = 0; i < 8; ++i) put32(0);
    RegSetValueExW(key_, kValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob.data()),
                   DWORD(blob.size()));
  }
  ~UserProxySetting() {
    if (hadValue_)
      RegSetValueExW(key_, kValue, 0, REG_BINARY, saved_.data(), DWORD(saved_.size()));
    else
      RegDeleteValueW(key_, kValue);
    RegCloseKey(key_);
  }

 private:
  static constexpr wchar_t kKey[] =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
  static constexpr wchar_t kValue[] = L"DefaultConnectionSettings";
  HKEY key_ = nullptr;
  std::vector<BYTE> saved_;
  bool hadValue_ = false;
};

TEST_F(Net, TheUsersProxyCarriesTheRequests) {
  HttpClient proxied;
  {
    // Local addresses bypass the proxy, so other programs of this prefix are not disturbed while
    // the setting exists. It is needed only while the client opens.
    const std::string faultHostPort = Narrow(fault).substr(strlen("http://"));
    UserProxySetting setting(faultHostPort, "<local>;127.0.0.1");
    ASSERT_TRUE(proxied.Open(L"Sarvik/1.0"));
  }
  // The name never resolves: only the proxy can answer.
  const std::wstring url = L"http://update.example.invalid/file/1000?id=proxy";
  Collected body;
  ASSERT_TRUE(proxied.Get(url, 0, 99, result, Collect, &body, nullptr)) << result.error_text;
  EXPECT_EQ(result.status, 206u);
  EXPECT_EQ(body.bytes.size(), 100u);
  const std::string requests = ReadLogOnce(Env("SV_FAULT_LOG"), "id=proxy");
  // Proxy form: the whole URL in the request line (some versions add the default port).
  EXPECT_EQ(CountLines(requests, "http://update.example.invalid"), 1u) << requests;
  EXPECT_EQ(CountLines(requests, "/file/1000?id=proxy bytes=0-99 206"), 1u) << requests;

  // An address on the bypass list goes straight to its server.
  EXPECT_TRUE(proxied.Get(nginx + L"/index.html?via=direct", -1, -1, result, nullptr, nullptr,
                          nullptr));
  EXPECT_EQ(CountLines(ReadLogOnce(Env("SV_NGINX_LOG"), "via=direct"), "GET /index.html?via=direct "),
            1u);
}

}  // namespace
}  // namespace sv
