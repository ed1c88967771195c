#include "tls.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace zrgate {
namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;
struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using Cert = std::unique_ptr<X509, X509Free>;
struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

// OpenSSL's reason for the last failure, without its error-code prefix.
std::string openssl_reason() {
    const unsigned long e = ERR_peek_last_error();
    ERR_clear_error();
    if (!e) return "no reason given";
    const char* r = ERR_reason_error_string(e);
    return r ? r : "error " + std::to_string(e);
}

std::string asn1_time_text(const ASN1_TIME* t) {
    std::tm tm{};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return "an unreadable date";
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return buf;
}

// "" when the certificate is valid now, else what is wrong with its dates.
std::string validity(X509* x) {
    if (X509_cmp_current_time(X509_get0_notAfter(x)) < 0) return "expired on " + asn1_time_text(X509_get0_notAfter(x));
    if (X509_cmp_current_time(X509_get0_notBefore(x)) > 0)
        return "not valid before " + asn1_time_text(X509_get0_notBefore(x));
    return {};
}

std::string subject(X509* x) {
    char buf[256];
    X509_NAME_oneline(X509_get_subject_name(x), buf, sizeof buf);
    return buf;
}

// The PEM certificates of `path` (none when it holds none: the caller says so).
std::vector<Cert> read_certificates(const std::string& path, std::string& error) {
    std::vector<Cert> out;
    File f(std::fopen(path.c_str(), "r"));
    if (!f) {
        error = "cannot read " + path;
        return out;
    }
    while (X509* x = PEM_read_X509(f.get(), nullptr, nullptr, nullptr)) out.emplace_back(x);
    ERR_clear_error();  // the end of the file reads as an error
    if (out.empty()) error = path + ": not a PEM certificate (no \"BEGIN CERTIFICATE\" block OpenSSL can read)";
    return out;
}

// Never asks for a passphrase on the terminal: an encrypted key is refused instead.
int no_passphrase(char*, int, int, void* asked) {
    *static_cast<bool*>(asked) = true;
    return -1;
}

}  // namespace

std::vector<std::string> check_tls_files(const GatewayConfig& c, std::vector<std::string>& warnings) {
    std::vector<std::string> errors;
    if (!c.ca_file.empty()) {
        std::string error;
        const auto cas = read_certificates(c.ca_file, error);
        if (!error.empty()) errors.push_back("ca_file " + error);
        for (const auto& x : cas)
            if (auto v = validity(x.get()); !v.empty())
                warnings.push_back("ca_file " + c.ca_file + ": the certificate " + subject(x.get()) + " " + v);
    }
    if (c.cert_file.empty() != c.key_file.empty())
        errors.push_back(std::string(c.cert_file.empty() ? "key_file" : "cert_file") +
                         " given without " + (c.cert_file.empty() ? "cert_file" : "key_file") +
                         ": a client certificate needs both");
    if ((!c.cert_file.empty() || !c.key_file.empty()) && c.ca_file.empty())
        errors.push_back("cert_file and key_file need ca_file (they are used over TLS only)");
    Cert cert;
    if (!c.cert_file.empty()) {
        std::string error;
        auto certs = read_certificates(c.cert_file, error);
        if (!error.empty()) errors.push_back("cert_file " + error);
        else {
            cert = std::move(certs.front());
            if (auto v = validity(cert.get()); !v.empty())
                warnings.push_back("cert_file " + c.cert_file + ": the client certificate " + v);
        }
    }
    if (!c.key_file.empty()) {
        File f(std::fopen(c.key_file.c_str(), "r"));
        if (!f) {
            errors.push_back("key_file cannot read " + c.key_file);
        } else {
            bool asked = false;
            Key key(PEM_read_PrivateKey(f.get(), nullptr, no_passphrase, &asked));
            if (!key) {
                ERR_clear_error();
                errors.push_back("key_file " + c.key_file +
                                 (asked ? ": an encrypted private key (the gateway cannot ask for a passphrase: "
                                          "store it unencrypted, readable by the gateway's user only)"
                                        : ": not a PEM private key"));
            } else if (cert && X509_check_private_key(cert.get(), key.get()) != 1) {
                ERR_clear_error();
                errors.push_back("key_file " + c.key_file + " is not the key of cert_file " + c.cert_file);
            }
        }
    }
    return errors;
}

namespace {

// A TCP connection to the broker (3 s bounds on connecting and each read or write), or -1 with
// `error`.
int connect_to(const GatewayConfig& c, std::string& error) {
    addrinfo hints{}, *found = nullptr;
    hints.ai_socktype = SOCK_STREAM;
    if (::getaddrinfo(c.broker.c_str(), std::to_string(c.port).c_str(), &hints, &found) != 0 || !found) {
        error = "cannot resolve " + c.broker;
        return -1;
    }
    int fd = -1;
    for (auto* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd < 0) continue;
        timeval tv{3, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            error = std::strerror(errno);
            ::close(fd), fd = -1;
        }
    }
    ::freeaddrinfo(found);
    return fd;
}

}  // namespace

std::string broker_reachable(const GatewayConfig& c) {
    std::string error;
    const int fd = connect_to(c, error);
    if (fd >= 0) ::close(fd);
    return fd >= 0 ? std::string() : error;
}

std::string diagnose_tls(const GatewayConfig& c) {
    std::string error;
    const int fd = connect_to(c, error);
    if (fd < 0) return {};  // not a TLS matter: the broker is not there

    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    std::string why;
    if (!ctx || SSL_CTX_load_verify_locations(ctx.get(), c.ca_file.c_str(), nullptr) != 1) {
        ::close(fd);
        return "ca_file " + c.ca_file + ": " + openssl_reason();
    }
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    if (!c.cert_file.empty() && (SSL_CTX_use_certificate_chain_file(ctx.get(), c.cert_file.c_str()) != 1 ||
                                 SSL_CTX_use_PrivateKey_file(ctx.get(), c.key_file.c_str(), SSL_FILETYPE_PEM) != 1)) {
        ::close(fd);
        return "cert_file/key_file: " + openssl_reason();
    }
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx.get()), SSL_free);
    SSL_set_fd(ssl.get(), fd);
    // The name checked as libmosquitto checks it: an address against the certificate's IP
    // entries, a name against its DNS names.
    in6_addr any{};
    const bool address = ::inet_pton(AF_INET, c.broker.c_str(), &any) == 1 || ::inet_pton(AF_INET6, c.broker.c_str(), &any) == 1;
    if (address) X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), c.broker.c_str());
    else {
        SSL_set_tlsext_host_name(ssl.get(), c.broker.c_str());
        SSL_set1_host(ssl.get(), c.broker.c_str());
    }
    const int rc = SSL_connect(ssl.get());
    const long verify = SSL_get_verify_result(ssl.get());
    if (rc == 1) {
        // A broker that wants a client certificate says so only after the handshake (TLS 1.3):
        // a read shows whether it hangs up.
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 200) > 0) {
            char byte;
            if (SSL_read(ssl.get(), &byte, 1) <= 0 && ERR_peek_last_error())
                why = "the broker refused the TLS connection: " + openssl_reason();
        }
    } else if (verify != X509_V_OK) {
        X509* peer = SSL_get0_peer_certificate(ssl.get());
        switch (verify) {
            case X509_V_ERR_HOSTNAME_MISMATCH:
            case X509_V_ERR_IP_ADDRESS_MISMATCH:
                why = "the broker's certificate is not for " + c.broker + " (hostname mismatch" +
                      (peer ? ": it is for " + subject(peer) : std::string()) + ")";
                break;
            case X509_V_ERR_CERT_HAS_EXPIRED:
                why = "the broker's certificate has expired" +
                      (peer ? " (on " + asn1_time_text(X509_get0_notAfter(peer)) + ")" : std::string());
                break;
            case X509_V_ERR_CERT_NOT_YET_VALID:
                why = "the broker's certificate is not valid yet" +
                      (peer ? " (from " + asn1_time_text(X509_get0_notBefore(peer)) + ")" : std::string());
                break;
            case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
            case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
            case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            case X509_V_ERR_CERT_SIGNATURE_FAILURE:
                why = "the broker's certificate is not signed by a CA of ca_file " + c.ca_file + " (unknown CA: " +
                      X509_verify_cert_error_string(verify) + ")";
                break;
            default:
                why = std::string("the broker's certificate is refused: ") + X509_verify_cert_error_string(verify);
        }
        ERR_clear_error();
    } else {
        why = "TLS handshake with the broker failed: " + openssl_reason();
    }
    SSL_shutdown(ssl.get());
    ::close(fd);
    return why;
}

}  // namespace zrgate
