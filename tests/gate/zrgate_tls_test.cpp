// zrgate and a broker over TLS: a test CA and certificates made by openssl for each run, a
// real mosquitto with a TLS listener, and zrgate as a child process. Each broken setup must
// give a line on stderr that says what is wrong, and, once the broker is fixed, the gateway's
// retained status must say it too. Then the files --check reads, and secrets others may read.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child.h"
#include "gate_support.h"

namespace {

using namespace zr::test::gate;
using namespace std::chrono_literals;
using zr::test::Child;
namespace fs = std::filesystem;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A test CA, a CA nobody trusts, and certificates made with them, in `dir`. World-readable:
// mosquitto started as root reads them as its own user.
struct Pki {
    explicit Pki(const std::string& dir) : dir(dir) {
        fs::permissions(dir, fs::perms::others_exec | fs::perms::others_read, fs::perm_options::add);
        ok = run("openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 -subj '/CN=zr test CA'") &&
             run("openssl req -x509 -newkey rsa:2048 -nodes -keyout other-ca.key -out other-ca.crt -days 2 "
                 "-subj '/CN=someone else'") &&
             sign("server", "ca", "DNS:localhost,IP:127.0.0.1", "2") &&
             sign("wrong-host", "ca", "DNS:elsewhere.example", "2") &&
             sign("expired", "ca", "DNS:localhost,IP:127.0.0.1", "-1") &&
             sign("stranger", "other-ca", "DNS:localhost,IP:127.0.0.1", "2") &&
             sign("client", "ca", "DNS:zrgate", "2") && sign("client2", "ca", "DNS:zrgate", "2") &&
             run("openssl pkey -in client.key -aes256 -passout pass:secret -out encrypted.key");
        // The gateway's keys are its own; the broker's are read by mosquitto's user.
        for (const auto& f : fs::directory_iterator(dir)) {
            if (f.path().extension() != ".key" && f.path().extension() != ".crt") continue;
            const bool mine = f.path().extension() == ".key" && (f.path().filename().string().starts_with("client") ||
                                                                 f.path().filename() == "encrypted.key");
            fs::permissions(f.path(), mine ? fs::perms::owner_read | fs::perms::owner_write
                                           : fs::perms::owner_read | fs::perms::owner_write |
                                                 fs::perms::group_read | fs::perms::others_read);
        }
    }
    bool run(const std::string& command) const {
        return std::system(("cd '" + dir + "' && " + command + " >>openssl.log 2>&1").c_str()) == 0;
    }
    bool sign(const std::string& name, const std::string& ca, const std::string& names, const std::string& days) const {
        write(dir + "/" + name + ".ext", "subjectAltName=" + names + "\n");
        return run("openssl req -newkey rsa:2048 -nodes -keyout " + name + ".key -out " + name + ".csr -subj '/CN=" +
                   name + "'") &&
               run("openssl x509 -req -in " + name + ".csr -CA " + ca + ".crt -CAkey " + ca + ".key -CAcreateserial -out " +
                   name + ".crt -days " + days + " -extfile " + name + ".ext");
    }
    std::string path(const std::string& file) const { return dir + "/" + file; }
    std::string dir;
    bool ok = false;
};

// mosquitto with one TLS listener; restarted with another configuration on the same port.
class TlsBroker {
public:
    TlsBroker(const Pki& pki) : pki_(pki), port_(free_port()) {}
    void start(const std::string& cert, const std::string& extra = "") {
        const auto conf = write(pki_.path("mosquitto.conf"),
                                "listener " + std::to_string(port_) + " 127.0.0.1\ncafile " + pki_.path("ca.crt") +
                                    "\ncertfile " + pki_.path(cert + ".crt") + "\nkeyfile " + pki_.path(cert + ".key") +
                                    "\n" + (contains(extra, "allow_anonymous") ? "" : "allow_anonymous true\n") + extra);
        child_ = std::make_unique<Child>(std::vector<std::string>{broker_binary(), "-c", conf},
                                         logged(pki_.path("mosquitto.log")));
        EXPECT_TRUE(eventually([&] { return port_open(port_); })) << read(pki_.path("mosquitto.log"));
    }
    void stop() {
        if (child_) child_->stop(SIGTERM);
        child_.reset();
    }
    int port() const { return port_; }

private:
    const Pki& pki_;
    int port_;
    std::unique_ptr<Child> child_;
};

// The last retained status of the gateway `site`, read over TLS as a consumer would (with a
// client certificate of its own, for the broker that asks for one).
std::string gateway_status(int port, const Pki& pki, const std::string& site) {
    struct State {
        std::mutex mutex;
        std::string payload;
        std::string topic;
    } state;
    state.topic = "zr/" + site + "/status";
    mosquitto* m = mosquitto_new(nullptr, true, &state);
    mosquitto_tls_set(m, pki.path("ca.crt").c_str(), nullptr, pki.path("client2.crt").c_str(),
                      pki.path("client2.key").c_str(), nullptr);
    mosquitto_connect_callback_set(m, [](mosquitto* m, void* self, int rc) {
        if (rc == 0) mosquitto_subscribe(m, nullptr, static_cast<State*>(self)->topic.c_str(), 1);
    });
    mosquitto_message_callback_set(m, [](mosquitto*, void* self, const mosquitto_message* msg) {
        auto* s = static_cast<State*>(self);
        std::lock_guard lock(s->mutex);
        s->payload.assign(static_cast<const char*>(msg->payload), msg->payloadlen);
    });
    std::string out;
    if (mosquitto_connect(m, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS && mosquitto_loop_start(m) == MOSQ_ERR_SUCCESS) {
        eventually([&] {
            std::lock_guard lock(state.mutex);
            return !state.payload.empty();
        });
        mosquitto_disconnect(m);
        mosquitto_loop_stop(m, false);
        std::lock_guard lock(state.mutex);
        out = state.payload;
    }
    mosquitto_destroy(m);
    return out;
}

class GateTls : public ::testing::Test {
protected:
    void SetUp() override {
        mosquitto_lib_init();
        if (broker_binary().empty()) {
            if (std::getenv("ZR_GATE_TESTS_NEED_BROKER")) FAIL() << "mosquitto is not installed (apt-get install mosquitto)";
            GTEST_SKIP() << "mosquitto is not installed (apt-get install mosquitto): zrgate's TLS tests skipped";
        }
        char tmpl[] = "/tmp/zrgate-tls-XXXXXX";
        dir = ::mkdtemp(tmpl) ? tmpl : "/tmp";
        pki = std::make_unique<Pki>(dir);
        ASSERT_TRUE(pki->ok) << "openssl could not make the test CA: " << read(dir + "/openssl.log");
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir);
        else std::fprintf(stderr, "kept %s\n", dir.c_str());
        mosquitto_lib_cleanup();
    }
    std::string ini(const std::string& site, int port, const std::string& keys) {
        // The reader is nowhere: the gateway's broker side is what is tested.
        return write(dir + "/" + site + ".ini",
                     "[gateway]\nsite=" + site + "\nbroker=127.0.0.1\nport=" + std::to_string(port) +
                         (contains(keys, "ca_file=") ? "" : "\nca_file=" + pki->path("ca.crt")) +
                         // An attempt that meets the broker's restart can go unanswered until
                         // the keep-alive gives it up: 5 s, well within what the cases wait.
                         "\nretry_min_ms=100\nretry_max_ms=400\nkeepalive_s=5\nstats_every_s=0\n" + keys +
                         "\n[r]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=127.0.0.1\nZR_TCP_PORT=1\n");
    }
    std::string dir;
    std::unique_ptr<Pki> pki;
};

// Each setup as a site meets it; a broken one is then fixed (the broker restarted with the
// good certificate and no password file) and the gateway must get through by itself.
TEST_F(GateTls, EachBrokenSetupIsNamedOnStderrAndInTheStatusOnceFixed) {
    struct Case {
        const char* site;
        std::string broker_cert, broker_extra, gateway_keys;
        std::string said;  // on stderr and in the status; empty: connects at once
    } cases[] = {
        {"good", "server", "", "", ""},
        {"client-cert", "server", "require_certificate true\n",
         "cert_file=" + pki->path("client.crt") + "\nkey_file=" + pki->path("client.key"), ""},
        {"wrong-host", "wrong-host", "", "", "the broker's certificate is not for 127.0.0.1 (hostname mismatch"},
        {"unknown-ca", "stranger", "", "", "the broker's certificate is not signed by a CA of ca_file"},
        {"expired", "expired", "", "", "the broker's certificate has expired"},
        {"password", "server", "allow_anonymous false\npassword_file " + pki->path("passwords") + "\n",
         "credentials=" + pki->path("mqtt.txt"), "refused the credentials of user 'gate'"},
        {"no-client-cert", "server", "require_certificate true\n", "", "the broker refused the TLS connection"},
    };
    write(pki->path("passwords"), "");
    ASSERT_EQ(std::system(("mosquitto_passwd -b " + pki->path("passwords") + " gate right >/dev/null 2>&1").c_str()), 0);
    fs::permissions(pki->path("passwords"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    write(pki->path("mqtt.txt"), "gate:wrong\n");
    fs::permissions(pki->path("mqtt.txt"), fs::perms::owner_read | fs::perms::owner_write);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.site);
        TlsBroker broker(*pki);
        broker.start(c.broker_cert, c.broker_extra);
        const auto log = dir + "/" + c.site + ".log";
        Child gate({ZRGATE_PATH, ini(c.site, broker.port(), c.gateway_keys)}, logged(log));
        if (c.said.empty()) {
            EXPECT_TRUE(eventually([&] { return contains(read(log), "zrgate: connected to broker"); })) << read(log);
            const auto status = gateway_status(broker.port(), *pki, c.site);
            EXPECT_TRUE(contains(status, "\"state\":\"online\"")) << status;
            EXPECT_FALSE(contains(status, "broker_error")) << status;
            // A broker restarted under a connected gateway: it gets through again by itself.
            broker.stop();
            broker.start(c.broker_cert, c.broker_extra);
            EXPECT_TRUE(eventually([&] {
                const auto text = read(log);
                return text.find("zrgate: connected to broker") != text.rfind("zrgate: connected to broker");
            })) << read(log);
        } else {
            EXPECT_TRUE(eventually([&] { return contains(read(log), c.said); })) << read(log);
            EXPECT_TRUE(contains(read(log), "retrying with back-off")) << read(log);
            EXPECT_FALSE(contains(read(log), "zrgate: connected to broker")) << read(log);
            // Said once however often it is retried.
            std::this_thread::sleep_for(1s);
            const auto text = read(log);
            EXPECT_EQ(text.find(c.said), text.rfind(c.said)) << text;
            broker.stop();
            broker.start("server");
            EXPECT_TRUE(eventually([&] { return contains(read(log), "zrgate: connected to broker"); })) << read(log);
            const auto status = gateway_status(broker.port(), *pki, c.site);
            EXPECT_TRUE(contains(status, "\"state\":\"online\"")) << status;
            // The causes met before getting through, in order: a connection lost on the way may
            // come before the one the case is about.
            const auto from = status.find("\"broker_error\":\"");
            ASSERT_NE(from, std::string::npos) << status;
            EXPECT_TRUE(contains(status.substr(from, status.find('"', from + 16) - from), c.said)) << status;
        }
        EXPECT_EQ(gate.stop(SIGTERM), 0) << read(log);
        broker.stop();
    }
}

// --check reads every TLS file as OpenSSL does, and looks at who may read the secrets.
TEST_F(GateTls, CheckRefusesWhatIsNotACertificateOrKeyAndWarnsOfSecretsOthersMayRead) {
    write(pki->path("junk.crt"), "not a certificate\n");
    fs::copy_file(pki->path("client.key"), pki->path("open.key"));
    fs::permissions(pki->path("open.key"), fs::perms::group_read | fs::perms::others_read, fs::perm_options::add);
    const auto secret = [&](const std::string& name, fs::perms mode) {
        write(pki->path(name), "gate:right\n");
        fs::permissions(pki->path(name), mode);
        return pki->path(name);
    };
    const auto rw = fs::perms::owner_read | fs::perms::owner_write;
    const auto mine = secret("mine.txt", rw);
    const auto group = secret("group.txt", rw | fs::perms::group_read);
    const auto world = secret("world.txt", rw | fs::perms::group_read | fs::perms::others_read);
    const auto key = [&](const std::string& k) { return "cert_file=" + pki->path("client.crt") + "\nkey_file=" + pki->path(k); };
    struct Case {
        std::string keys;
        int status;
        std::string said;  // empty: nothing said on stderr
    } cases[] = {
        {"", 0, ""},
        {key("client.key"), 0, ""},
        {"credentials=" + mine, 0, ""},
        {"credentials=" + group, 0, group + " may be read by its group (mode 0640)"},
        {"credentials=" + world, 0, world + " may be read by others (mode 0644)"},
        {"credentials=" + world + "\nstrict_permissions=true", 2, "strict_permissions refuses it"},
        {"strict_permissions=maybe", 2, "strict_permissions: 'maybe': true or false"},
        {"ca_file=" + pki->path("junk.crt"), 2, "ca_file " + pki->path("junk.crt") + ": not a PEM certificate"},
        {"cert_file=" + pki->path("junk.crt") + "\nkey_file=" + pki->path("client.key"), 2,
         "cert_file " + pki->path("junk.crt") + ": not a PEM certificate"},
        {"cert_file=" + pki->path("client.crt") + "\nkey_file=" + pki->path("junk.crt"), 2,
         "key_file " + pki->path("junk.crt") + ": not a PEM private key"},
        {key("client2.key"), 2, "key_file " + pki->path("client2.key") + " is not the key of cert_file"},
        {key("encrypted.key"), 2, "an encrypted private key"},
        {"cert_file=" + pki->path("client.crt"), 2, "cert_file given without key_file"},
        {key("open.key") + "\nstrict_permissions=true", 2, pki->path("open.key") + " may be read by others"},
        {"ca_file=" + pki->path("expired.crt"), 0, "the certificate /CN=expired expired on"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        const auto out = dir + "/check.txt";
        fs::remove(out);
        Child check({ZRGATE_PATH, "--check", ini("check", 1883, c.keys)}, logged(out));
        EXPECT_EQ(check.stop(0), c.status) << read(out);
        if (c.said.empty()) EXPECT_FALSE(contains(read(out), "zrgate:")) << read(out);
        else EXPECT_TRUE(contains(read(out), c.said)) << read(out);
    }
}

}  // namespace
