#include "tls.h"

#include <random>
#include <sstream>
#include <stdexcept>

#include "process.h"

namespace corvidale::e2e {
namespace {

void openssl(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"openssl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const auto result = runCommand(argv);
    if (!result.success()) throw std::runtime_error("openssl " + arguments.front() + " failed: " + result.describe());
}

}  // namespace

std::vector<std::string> testHosts() { return {kAppHost, kSubdomainHost, kForeignHost, kSignInHost}; }

TlsMaterial TlsMaterial::create(const std::string& folder) {
    TlsMaterial material;
    const std::string caKey = folder + "/ca.key";
    material.caCertificate = folder + "/ca.pem";
    material.serverKey = folder + "/server.key";
    material.serverCertificate = folder + "/server.pem";
    const std::string request = folder + "/server.csr";
    const std::string extensions = folder + "/server.ext";
    material.caBundle = folder + "/ca-bundle.crt";
    material.hostsFile = folder + "/hosts";

    openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", caKey,
             "-out", material.caCertificate, "-days", "3", "-subj", "/CN=Corvidale End-to-End Test CA", "-addext",
             "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"});

    std::string altNames;
    for (const auto& host : testHosts()) altNames += "DNS:" + host + ",";
    altNames += "IP:127.0.0.1";
    writeFile(extensions, "subjectAltName=" + altNames +
                              "\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n"
                              "extendedKeyUsage=serverAuth\nsubjectKeyIdentifier=hash\n"
                              "authorityKeyIdentifier=keyid\n");
    openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
             material.serverKey, "-out", request, "-subj", std::string("/CN=") + kAppHost});
    std::random_device random;
    std::ostringstream serial;
    serial << "0x" << std::hex << random() << random();
    openssl({"x509", "-req", "-in", request, "-CA", material.caCertificate, "-CAkey", caKey, "-set_serial",
             serial.str(), "-days", "3", "-extfile", extensions, "-out", material.serverCertificate});

    const std::string system = readFile(kSystemCaBundle);
    if (system.empty()) throw std::runtime_error(std::string(kSystemCaBundle) + " is missing (ca-certificates)");
    std::string bundle = system;
    if (bundle.back() != '\n') bundle += '\n';
    writeFile(material.caBundle, bundle + readFile(material.caCertificate));

    std::string hosts = "127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n127.0.0.1\t";
    for (const auto& host : testHosts()) hosts += host + " ";
    hosts.back() = '\n';
    writeFile(material.hostsFile, hosts);
    return material;
}

}  // namespace corvidale::e2e
