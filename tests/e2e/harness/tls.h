#pragma once

#include <string>
#include <vector>

namespace corvidale::e2e {

// Host names the app resolves to 127.0.0.1 during a test.
inline constexpr const char* kAppHost = "app.corvidale.test";
// A subdomain of the app's host: foreign as far as the shell is concerned.
inline constexpr const char* kSubdomainHost = "other.app.corvidale.test";
inline constexpr const char* kForeignHost = "foreign.test";
// One of the sign-in hosts that stays inside the window.
inline constexpr const char* kSignInHost = "accounts.google.com";

std::vector<std::string> testHosts();

// A throw-away certificate authority, a server certificate it signed for the
// test hosts and 127.0.0.1, the system CA bundle with the test CA appended,
// and a hosts file. Made with the openssl command line in `folder`.
struct TlsMaterial {
    std::string caCertificate;
    std::string serverCertificate;
    std::string serverKey;
    std::string caBundle;
    std::string hostsFile;

    static TlsMaterial create(const std::string& folder);
};

inline constexpr const char* kSystemCaBundle = "/etc/ssl/certs/ca-certificates.crt";
inline constexpr const char* kSystemHosts = "/etc/hosts";

}  // namespace corvidale::e2e
