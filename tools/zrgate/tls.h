// What the gateway knows about its TLS files and a broker's certificate, in words: --check
// reads every file before anything connects, and a failed handshake is repeated here to learn
// why (libmosquitto reports only that the certificate was not accepted).
#pragma once

#include <string>
#include <vector>

#include "config.h"

namespace zrgate {

// ca_file, cert_file and key_file as OpenSSL reads them: each must hold what its key says
// (certificates, a certificate, an unencrypted private key matching the certificate). One line
// per problem, naming the file; `warnings` gets certificates that are expired or not yet valid.
std::vector<std::string> check_tls_files(const GatewayConfig& c, std::vector<std::string>& warnings);

// Opens a TLS connection to the broker as the gateway does and says why the broker's
// certificate is refused ("the broker's certificate is not for HOST", "... expired on ...",
// "... is not signed by a CA of FILE", ...) or why the handshake failed; empty when it
// succeeds. Bounded by a few seconds.
std::string diagnose_tls(const GatewayConfig& c);

// Empty when a TCP connection to the broker opens (within 3 s), else why not. libmosquitto's
// TLS connection to a port nobody listens on spins until the keep-alive runs out: asked first.
std::string broker_reachable(const GatewayConfig& c);

}  // namespace zrgate
