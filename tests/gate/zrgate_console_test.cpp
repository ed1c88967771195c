// zrgate's console as its users reach it: the binary as a child process with `http` set, a real
// mosquitto broker started late, simulated readers on loopback, and plain HTTP requests.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child.h"
#include "gate_support.h"
#include "server.h"
#include "sim_fixture.h"

namespace {

using namespace zr::test::gate;
using namespace std::chrono_literals;
using zr::test::Child;
using zr::test::SimHost;

struct Reply {
    int status = 0;  // 0: no answer
    std::string head, body;
};

// One HTTP/1.0 request over loopback; the server closes the connection after the reply.
Reply request(int port, const std::string& method, const std::string& path, const std::string& headers = "") {
    Reply r;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return r;
    }
    const std::string text = method + " " + path + " HTTP/1.0\r\nHost: localhost\r\n" + headers + "\r\n";
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    std::string all;
    char buf[4096];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) all.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    const auto end = all.find("\r\n\r\n");
    if (all.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) return r;
    r.status = std::stoi(all.substr(9, 3));
    r.head = all.substr(0, end);
    r.body = all.substr(end + 4);
    return r;
}

// An open GET whose reply is read as it comes (/events never ends on its own).
class Stream {
public:
    Stream(int port, const std::string& path, const std::string& headers) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        timeval tv{0, 200000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            const std::string text = "GET " + path + " HTTP/1.1\r\nHost: localhost\r\n" + headers + "\r\n";
            ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
        }
    }
    ~Stream() { ::close(fd_); }
    // Reads until `text` has come (true) or 30 s passed.
    bool wait_for(const std::string& text) {
        for (auto end = std::chrono::steady_clock::now() + 30s; std::chrono::steady_clock::now() < end;) {
            if (got.find(text) != std::string::npos) return true;
            char buf[4096];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n == 0) break;
            if (n > 0) got.append(buf, static_cast<std::size_t>(n));
        }
        return got.find(text) != std::string::npos;
    }
    std::string got;

private:
    int fd_;
};

// A line of the text exposition format as zrgate writes it: "# HELP|TYPE zrgate_NAME text", or
// zrgate_NAME[{label="value",...}] NUMBER with the values escaped (\\ \" \n). The sample's
// key (name and labels) and value go to `key` and `value`.
bool name_at(const std::string& l, std::size_t& i) {
    if (l.compare(i, 7, "zrgate_") != 0) return false;
    i += 7;
    const auto from = i;
    while (i < l.size() && ((l[i] >= 'a' && l[i] <= 'z') || l[i] == '_')) ++i;
    return i > from;
}

bool comment(const std::string& l) {
    std::size_t i = 7;
    if (l.rfind("# HELP ", 0) != 0 && l.rfind("# TYPE ", 0) != 0) return false;
    if (!name_at(l, i) || i + 1 >= l.size() || l[i] != ' ') return false;
    return l[2] == 'H' || l.substr(i + 1) == "counter" || l.substr(i + 1) == "gauge";
}

bool sample(const std::string& l, std::string& key, double& value) {
    std::size_t i = 0;
    if (!name_at(l, i)) return false;
    if (i < l.size() && l[i] == '{') {
        do {
            ++i;
            const auto from = i;
            while (i < l.size() && ((l[i] >= 'a' && l[i] <= 'z') || l[i] == '_')) ++i;
            if (i == from || l.compare(i, 2, "=\"") != 0) return false;
            for (i += 2; i < l.size() && l[i] != '"'; ++i)
                if (l[i] == '\\' && (++i >= l.size() || (l[i] != '\\' && l[i] != '"' && l[i] != 'n'))) return false;
            if (i++ >= l.size()) return false;
        } while (i < l.size() && l[i] == ',');
        if (i >= l.size() || l[i++] != '}') return false;
    }
    if (i >= l.size() || l[i] != ' ') return false;
    key = l.substr(0, i);
    const auto number = l.substr(i + 1);
    std::size_t used = 0;
    try {
        value = std::stod(number, &used);
    } catch (...) {
        return false;
    }
    return !number.empty() && used == number.size() && number.find_first_not_of("-.0123456789") == std::string::npos;
}

// The exposition's samples by "name{labels}"; every line must be a comment or a sample.
std::map<std::string, double> parse_metrics(const std::string& text, std::vector<std::string>& bad) {
    std::map<std::string, double> out;
    std::istringstream in(text);
    for (std::string line, key; std::getline(in, line);) {
        double value = 0;
        if (sample(line, key, value)) out[key] = value;
        else if (!comment(line)) bad.push_back(line);
    }
    return out;
}

class Console : public ::testing::Test {
protected:
    void SetUp() override {
        if (broker_binary().empty()) {
            if (std::getenv("ZR_GATE_TESTS_NEED_BROKER")) FAIL() << "mosquitto is not installed (apt-get install mosquitto)";
            GTEST_SKIP() << "mosquitto is not installed (apt-get install mosquitto): zrgate's console tests skipped";
        }
        namespace fs = std::filesystem;
        fs::create_directory(dir + "/db");
        fs::permissions(dir, fs::perms::others_exec, fs::perm_options::add);
        fs::permissions(dir + "/db", fs::perms::all);
        write(dir + "/mosquitto.conf", "listener " + std::to_string(broker_port) + " 127.0.0.1\nallow_anonymous true\n");
    }
    void TearDown() override {
        if (!HasFailure()) std::filesystem::remove_all(dir);
        else std::fprintf(stderr, "kept %s\n", dir.c_str());
    }
    void start_broker() {
        broker = std::make_unique<Child>(std::vector<std::string>{broker_binary(), "-c", dir + "/mosquitto.conf"},
                                         logged(dir + "/mosquitto.log"));
    }
    std::string dir = temp_dir("zrgate-console");
    int broker_port = free_port(), http_port = free_port();
    std::unique_ptr<Child> broker;
};

TEST_F(Console, MetricsHealthTokenAndMethodsAnswerAsTheGatewayRuns) {
    std::vector<std::string> addresses;
    std::vector<std::unique_ptr<zr::sim::Simulator>> sims(2);
    auto start_reader = [&](std::size_t i) {
        sims[i] = std::make_unique<zr::sim::Simulator>();
        std::string error;
        ASSERT_TRUE(sims[i]->listen_tcp(addresses[i], zr::sim::kReaderPort, error)) << error;
        sims[i]->start();
    };
    std::string sections;
    for (std::size_t i = 0; i < sims.size(); ++i) {
        addresses.push_back(SimHost::unique_address());
        start_reader(i);
        sections += "[r" + std::to_string(i) + "]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" + addresses[i] +
                    "\npause_ms=50\nantennas=1,2\n";
    }
    const std::string token = "s3cret-Token_1";
    write(dir + "/token.txt", token + "\n");
    const auto ini = write(dir + "/site.ini", "[gateway]\nsite=north\nbroker=127.0.0.1\nport=" + std::to_string(broker_port) +
                                                  "\nretry_min_ms=100\nretry_max_ms=500\nwindow_ms=600\nstats_every_s=0\n"
                                                  "http=" + std::to_string(http_port) + "\nhttp_token=token.txt\n" + sections);
    Child gate({ZRGATE_PATH, ini}, logged(dir + "/zrgate.log"));
    const std::string auth = "Authorization: Bearer " + token + "\r\n";

    // No broker yet: unhealthy, and it says why.
    Reply health;
    ASSERT_TRUE(eventually([&] { return (health = request(http_port, "GET", "/health", auth)).status != 0; }))
        << read(dir + "/zrgate.log");
    EXPECT_EQ(health.status, 503);
    EXPECT_NE(health.body.find("broker 127.0.0.1:" + std::to_string(broker_port) + " not connected"), std::string::npos)
        << health.body;
    start_broker();
    EXPECT_TRUE(eventually([&] { return (health = request(http_port, "GET", "/health", auth)).status == 200; }))
        << health.status << " " << health.body;

    struct Case {
        std::string method, path, headers;
        int status;
        std::string in_body, in_head;
    } cases[] = {
        {"GET", "/health", "", 401, "bearer token", "WWW-Authenticate: Bearer"},
        {"GET", "/metrics", "Authorization: Bearer wrong\r\n", 401, "", ""},
        {"GET", "/metrics?token=" + token + "x", "", 401, "", ""},
        {"GET", "/health", auth, 200, "ok: broker connected", ""},
        {"GET", "/health?token=" + token, "", 200, "ok", ""},
        {"GET", "/?token=" + token, "", 200, "<svg", "text/html"},
        {"GET", "/api/state", auth, 200, "\"site\":\"north\"", "application/json"},
        {"GET", "/api/history", auth, 200, "\"series\":[{\"reader\":\"r0\",\"antenna\":1", ""},
        {"HEAD", "/metrics", auth, 200, "", "text/plain; version=0.0.4"},
        {"POST", "/metrics", auth, 405, "read only", "Allow: GET, HEAD"},
        {"DELETE", "/", "", 405, "", ""},
        {"PUT", "/api/state", auth, 405, "", ""},
        {"GET", "/nothing", auth, 404, "not found", ""},
    };
    for (const auto& c : cases) {
        const auto r = request(http_port, c.method, c.path, c.headers);
        EXPECT_EQ(r.status, c.status) << c.method << " " << c.path << "\n" << r.head << "\n" << r.body;
        EXPECT_NE(r.body.find(c.in_body), std::string::npos) << c.method << " " << c.path << ": " << r.body;
        EXPECT_NE(r.head.find(c.in_head), std::string::npos) << c.method << " " << c.path << ": " << r.head;
        if (c.method == "HEAD") {
            EXPECT_EQ(r.body, "");
        }
    }

    // /metrics: every line parses, and the numbers are what happened. Three tags on each reader
    // (the simulator's default field), arrived once each; reads on both antennas add up.
    auto metrics = [&](std::vector<std::string>& bad) {
        return parse_metrics(request(http_port, "GET", "/metrics", auth).body, bad);
    };
    std::vector<std::string> bad;
    std::map<std::string, double> m;
    EXPECT_TRUE(eventually([&] {
        bad.clear();
        m = metrics(bad);
        return m["zrgate_tags_present{reader=\"r0\"}"] == 3 && m["zrgate_tags_present{reader=\"r1\"}"] == 3 &&
               m["zrgate_events_published_total"] == 6 && m["zrgate_queue_depth"] == 0;
    })) << request(http_port, "GET", "/metrics", auth).body;
    for (const auto& line : bad) ADD_FAILURE() << "not a sample or comment: '" << line << "'";
    for (const char* name : {"zrgate_reads_total", "zrgate_antenna_reads_total", "zrgate_events_total", "zrgate_drops_total",
                             "zrgate_reconnects_total", "zrgate_reader_online", "zrgate_tags_present", "zrgate_queue_depth",
                             "zrgate_spool_depth", "zrgate_broker_connected", "zrgate_events_published_total"}) {
        const auto text = request(http_port, "GET", "/metrics", auth).body;
        EXPECT_NE(text.find(std::string("# HELP ") + name + " "), std::string::npos) << name;
        EXPECT_NE(text.find(std::string("# TYPE ") + name + " "), std::string::npos) << name;
    }
    for (const std::string r : {"r0", "r1"}) {
        const auto l = "{reader=\"" + r + "\"}";
        EXPECT_EQ(m["zrgate_reader_online" + l], 1) << r;
        EXPECT_EQ(m["zrgate_events_total" + l], 3) << r;
        EXPECT_EQ(m["zrgate_drops_total" + l], 0) << r;
        EXPECT_EQ(m["zrgate_reconnects_total" + l], 0) << r;
        EXPECT_GT(m["zrgate_reads_total" + l], 0) << r;
        const double a1 = m["zrgate_antenna_reads_total{reader=\"" + r + "\",antenna=\"1\"}"];
        const double a2 = m["zrgate_antenna_reads_total{reader=\"" + r + "\",antenna=\"2\"}"];
        EXPECT_GT(a1, 0) << r;
        EXPECT_GT(a2, 0) << r;
    }
    EXPECT_EQ(m["zrgate_broker_connected"], 1);
    EXPECT_EQ(m["zrgate_spool_depth"], 0);

    // A reader lost: offline in the metrics, its three tags departed (and streamed to /events,
    // which needs the token too); back: one reconnect.
    Stream refused(http_port, "/events", "");
    EXPECT_TRUE(refused.wait_for("401 Unauthorized")) << refused.got;
    Stream events(http_port, "/events", auth);
    EXPECT_TRUE(events.wait_for("\r\n\r\n")) << events.got;
    EXPECT_NE(events.got.find("Content-Type: text/event-stream"), std::string::npos) << events.got;
    sims[1].reset();
    EXPECT_TRUE(eventually([&] {
        m = metrics(bad);
        return m["zrgate_reader_online{reader=\"r1\"}"] == 0 && m["zrgate_events_total{reader=\"r1\"}"] == 6 &&
               m["zrgate_tags_present{reader=\"r1\"}"] == 0;
    })) << request(http_port, "GET", "/metrics", auth).body;
    EXPECT_NE(request(http_port, "GET", "/api/state", auth).body.find("\"state\":\"reconnecting\""), std::string::npos);
    for (const char* epc : {"300833B2DDD9014000000001", "300833B2DDD9014000000002", "300833B2DDD9014000000003"})
        EXPECT_TRUE(events.wait_for("event: tag\ndata: {\"event\":\"departed\",\"reader\":\"r1\",\"epc\":\"" +
                                    std::string(epc) + "\""))
            << events.got;
    EXPECT_EQ(events.got.find("\"reader\":\"r0\""), std::string::npos) << "only what happened after the stream opened";
    start_reader(1);
    EXPECT_TRUE(eventually([&] {
        m = metrics(bad);
        return m["zrgate_reader_online{reader=\"r1\"}"] == 1 && m["zrgate_reconnects_total{reader=\"r1\"}"] == 1 &&
               m["zrgate_tags_present{reader=\"r1\"}"] == 3;
    })) << request(http_port, "GET", "/metrics", auth).body;
    EXPECT_EQ(m["zrgate_events_total{reader=\"r0\"}"], 3);

    // The broker gone: unhealthy again.
    broker->stop(SIGTERM);
    EXPECT_TRUE(eventually([&] { return request(http_port, "GET", "/health", auth).status == 503; }));
    EXPECT_EQ(gate.stop(SIGTERM), 0) << read(dir + "/zrgate.log");
    EXPECT_EQ(request(http_port, "GET", "/health", auth).status, 0) << "the console ends with the gateway";
}

TEST(ConsoleConfig, CheckRefusesABadHttpValueAndATokenItCannotUseAndATakenPortStopsTheStart) {
    const auto dir = temp_dir("zrgate-console");
    const std::string reader = "[dock]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=127.0.0.1\n";
    write(dir + "/blank.txt", "\n");
    struct Case {
        std::string keys, expected;
    } cases[] = {
        {"http=web", ":3: [gateway] http: 'web': [ADDRESS:]PORT, e.g. 8080 or 0.0.0.0:8080"},
        {"http=70000", ":3: [gateway] http: '70000': [ADDRESS:]PORT"},
        {"http=0", ":3: [gateway] http: '0': [ADDRESS:]PORT"},
        {"http=10.0.0:8080", ":3: [gateway] http: '10.0.0:8080'"},
        {"http=localhost:8080", ":3: [gateway] http: 'localhost:8080'"},
        {"http=8080\nhttp_token=nowhere.txt", ":4: [gateway] http_token: cannot read"},
        {"http=8080\nhttp_token=blank.txt", ":4: [gateway] http_token: " + dir + "/blank.txt: the first line must be the token"},
        {"http_token=blank.txt", "[gateway] http_token: given without http"},
    };
    for (const auto& c : cases) {
        const auto ini = write(dir + "/site.ini", "[gateway]\nsite=a\n" + c.keys + "\n" + reader);
        const auto r = zr::test::run({ZRGATE_PATH, "--check", ini});
        EXPECT_EQ(r.status, 2) << c.keys;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << c.keys << "\n" << r.err;
    }
    struct Good {
        std::string keys, expected;
    } good[] = {
        {"http=8080", "console: http://127.0.0.1:8080/"},
        {"http=0.0.0.0:9000", "console: http://0.0.0.0:9000/ (/api/state, /metrics, /health, /events), no token"},
        {"http=192.0.2.1:80\nhttp_token=token.txt", "bearer token from " + dir + "/token.txt"},
    };
    write(dir + "/token.txt", "abc\n");
    for (const auto& c : good) {
        const auto ini = write(dir + "/site.ini", "[gateway]\nsite=a\n" + c.keys + "\n" + reader);
        const auto r = zr::test::run({ZRGATE_PATH, "--check", ini});
        EXPECT_EQ(r.status, 0) << c.keys << "\n" << r.err;
        EXPECT_NE(r.out.find(c.expected), std::string::npos) << c.keys << "\n" << r.out;
    }
    // A port already taken stops the gateway at start, before it publishes anything.
    const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::listen(taken, 1);
    ::getsockname(taken, reinterpret_cast<sockaddr*>(&a), &n);
    const auto port = std::to_string(ntohs(a.sin_port));
    const auto ini = write(dir + "/site.ini", "[gateway]\nsite=a\nbroker=127.0.0.1\nport=1\nhttp=" + port + "\n" + reader);
    const auto r = zr::test::run({ZRGATE_PATH, ini});
    ::close(taken);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("console: cannot listen on 127.0.0.1:" + port + " (Address already in use)"), std::string::npos) << r.err;
    std::filesystem::remove_all(dir);
}

}  // namespace
