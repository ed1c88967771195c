// zrgate as a site runs it: the binary as a child process, a real mosquitto broker on a
// loopback port, simulated readers on their own loopback addresses, and a subscriber.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
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

// A broker that keeps its sessions across restarts, so that the subscriber misses nothing
// published while it was reconnecting.
class Broker {
public:
    Broker(const std::string& dir) : dir_(dir), port_(free_port()) {
        // Run as root, mosquitto drops to its own user: the database directory must let it write.
        namespace fs = std::filesystem;
        fs::create_directory(dir + "/db");
        fs::permissions(dir, fs::perms::others_exec, fs::perm_options::add);
        fs::permissions(dir + "/db", fs::perms::all);
        write(dir + "/mosquitto.conf", "listener " + std::to_string(port_) +
                                           " 127.0.0.1\nallow_anonymous true\npersistence true\npersistence_location " +
                                           dir + "/db/\n");
    }
    void start() {
        child_ = std::make_unique<Child>(std::vector<std::string>{broker_binary(), "-c", dir_ + "/mosquitto.conf"},
                                         logged(dir_ + "/mosquitto.log"));
        EXPECT_TRUE(eventually([&] { return port_open(port_); })) << read(dir_ + "/mosquitto.log");
    }
    void stop() { child_->stop(SIGTERM); }
    int port() const { return port_; }

private:
    std::string dir_;
    int port_;
    std::unique_ptr<Child> child_;
};

// One field of a flat JSON object: a string's text or a number's digits.
std::string field(const std::string& json, const std::string& key) {
    auto at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return {};
    at += key.size() + 3;
    if (json[at] == '"') return json.substr(at + 1, json.find('"', at + 1) - at - 1);
    return json.substr(at, json.find_first_of(",}", at) - at);
}

struct Message {
    std::string topic, payload;
};

class Subscriber {
public:
    Subscriber(int port, const std::string& id) {
        client_ = mosquitto_new(id.c_str(), false, this);  // a lasting session: nothing lost across a restart
        mosquitto_connect_callback_set(client_, [](mosquitto* m, void*, int rc) {
            if (rc == 0) mosquitto_subscribe(m, nullptr, "zr/#", 1);
        });
        mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->subscribed_ = true;
        });
        mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard lock(s->mutex_);
            s->messages_.push_back({m->topic, std::string(static_cast<const char*>(m->payload), m->payloadlen)});
        });
        mosquitto_reconnect_delay_set(client_, 1, 1, false);
        mosquitto_connect(client_, "127.0.0.1", port, 30);
        mosquitto_loop_start(client_);
        EXPECT_TRUE(eventually([&] { return subscribed_.load(); }));
    }
    ~Subscriber() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
    std::vector<Message> messages(const std::string& topic_end = "") const {
        std::lock_guard lock(mutex_);
        std::vector<Message> out;
        for (const auto& m : messages_)
            if (m.topic.ends_with(topic_end)) out.push_back(m);
        return out;
    }
    // Events of `reader`, once each: a QoS 1 message may come twice, never with another seq.
    std::map<long, std::string> events(const std::string& reader) const {
        std::map<long, std::string> out;
        for (const auto& m : messages("/" + reader + "/tags")) {
            auto seq = field(m.payload, "seq");
            out[seq.empty() ? -static_cast<long>(out.size()) - 1 : std::stol(seq)] = m.payload;
        }
        return out;
    }
    std::string last_status(const std::string& topic_end) const {
        auto all = messages(topic_end + "status");
        return all.empty() ? "" : field(all.back().payload, "state");
    }
    int count(const std::string& reader, const std::string& event) const {
        int n = 0;
        for (const auto& [seq, e] : events(reader)) n += field(e, "event") == event;
        return n;
    }

private:
    mosquitto* client_;
    std::atomic<bool> subscribed_{false};
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
};

// Simulated readers that can be killed and brought back on the same address.
struct Readers {
    explicit Readers(int n) {
        for (int i = 0; i < n; ++i) addresses.push_back(SimHost::unique_address()), sims.emplace_back(), start(i);
    }
    void start(int i) {
        sims[i] = std::make_unique<zr::sim::Simulator>();
        std::string error;
        ASSERT_TRUE(sims[i]->listen_tcp(addresses[i], zr::sim::kReaderPort, error)) << error;
        sims[i]->start();
    }
    void kill(int i) { sims[i].reset(); }
    std::string sections(const std::string& extra = "") const {
        std::string s;
        for (std::size_t i = 0; i < addresses.size(); ++i)
            s += "[r" + std::to_string(i) + "]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" + addresses[i] +
                 "\npause_ms=50\n" + extra + "\n";
        return s;
    }
    // Rounds back to back: events as fast as the simulators give them.
    std::string fast_sections() const {
        auto s = sections("quiet_ms=10");
        for (std::size_t at; (at = s.find("pause_ms=50")) != std::string::npos;) s.replace(at, 11, "pause_ms=0");
        return s;
    }
    std::vector<std::string> addresses;
    std::vector<std::unique_ptr<zr::sim::Simulator>> sims;
};

class Gate : public ::testing::Test {
protected:
    void SetUp() override {
        mosquitto_lib_init();
        if (broker_binary().empty()) {
            if (std::getenv("ZR_GATE_TESTS_NEED_BROKER")) FAIL() << "mosquitto is not installed (apt-get install mosquitto)";
            GTEST_SKIP() << "mosquitto is not installed (apt-get install mosquitto): zrgate's broker tests skipped";
        }
        broker = std::make_unique<Broker>(dir);
        broker->start();
    }
    void TearDown() override {
        gates.clear();
        if (broker) broker->stop();
        if (!HasFailure()) std::filesystem::remove_all(dir);
        else std::fprintf(stderr, "kept %s\n", dir.c_str());
        mosquitto_lib_cleanup();
    }
    Child& gateway(const std::string& name, const std::string& gateway_keys, const std::string& readers) {
        const auto ini = write(dir + "/" + name + ".ini", "[gateway]\nsite=" + name + "\nbroker=127.0.0.1\nport=" +
                                                              std::to_string(broker->port()) +
                                                              "\nretry_min_ms=100\nretry_max_ms=500\n" + gateway_keys +
                                                              "\n" + readers);
        gates.push_back(std::make_unique<Child>(std::vector<std::string>{ZRGATE_PATH, ini}, logged(log(name))));
        return *gates.back();
    }
    std::string log(const std::string& name) const { return dir + "/" + name + ".log"; }
    // The last stats block a gateway printed on SIGUSR1: the summary line and one per reader.
    std::string stats(Child& g, const std::string& name) {
        g.signal(SIGUSR1);
        std::this_thread::sleep_for(50ms);
        auto text = read(log(name));
        auto at = text.rfind("zrgate stats");
        return at == std::string::npos ? std::string() : text.substr(at);
    }
    // The events a reader has made so far in the gateway's own count.
    long reader_events(Child& g, const std::string& name, const std::string& reader) {
        std::istringstream block(stats(g, name));
        std::string line, word;
        while (std::getline(block, line)) {
            std::istringstream words(line);
            std::vector<std::string> w;
            while (words >> word) w.push_back(word);
            // "  NAME STATE RATE reads/s READS reads EVENTS events ..."
            if (w.size() > 7 && w[0] == reader && w[7] == "events") return std::stol(w[6]);
        }
        return -1;
    }

    std::string dir = temp_dir();
    std::unique_ptr<Broker> broker;
    std::vector<std::unique_ptr<Child>> gates;
};

TEST(GateConfig, CheckNamesTheFileSectionAndKeyOfEveryMistake) {
    const auto dir = temp_dir();
    const std::string reader = "[dock]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=127.0.0.1\n";
    struct Case {
        std::string ini, expected;
    } cases[] = {
        {"[gateway]\nsite=a\nqos=3\n" + reader, ":3: [gateway] qos: '3' is not a whole number from 0 to 2"},
        {"[gateway]\nsite=a/b\n" + reader, ":2: [gateway] site: 'a/b'"},
        {"[gateway]\nsite=a\nwindow=5\n" + reader, ":3: [gateway] window: unknown key"},
        {"[gateway]\nbroker=x\n" + reader, "[gateway] site: missing"},
        {"[gateway]\nsite=a\n[dock]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\n", "[dock] ZR_HOST_NAME: missing"},
        {"[gateway]\nsite=a\n[dock]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=10.0.0.256\n",
         ":6: [dock] ZR_HOST_NAME: '10.0.0.256' is not"},
        {"[gateway]\nsite=a\n" + reader + "inventory=rssi\n", ":7: [dock] inventory: 'rssi': epc or tid"},
        {"[gateway]\nsite=a\n" + reader + "ZR_REPLY_TIMING=sometimes\n", ":7: [dock] ZR_REPLY_TIMING: 'sometimes': fixed or whole"},
        {"[gateway]\nsite=a\n" + reader + "ZR_TCP_PORT=70860\n", ":7: [dock] ZR_TCP_PORT: '70860': a port number, 1 to 65535"},
        {"[gateway]\nsite=a\n" + reader + reader, ":7: [dock] section given twice (first at line 3)"},
        {"[gateway]\nsite=a\n", "no reader section"},
        {"[gateway]\nsite=a\ncredentials=nowhere.txt\n" + reader, ":3: [gateway] credentials: cannot read"},
        {"[gateway]\nsite=a\ndiscovery=hass\n" + reader, ":3: [gateway] discovery: 'hass': homeassistant or none"},
    };
    for (const auto& c : cases) {
        const auto ini = write(dir + "/site.ini", c.ini);
        const auto out = dir + "/out.txt";
        std::filesystem::remove(out);
        Child check({ZRGATE_PATH, "--check", ini}, logged(out));
        EXPECT_EQ(check.stop(0), 2) << c.ini;
        EXPECT_NE(read(out).find(ini + ":"), std::string::npos) << read(out);
        EXPECT_NE(read(out).find(c.expected), std::string::npos) << read(out);
        // The gateway itself refuses to start on the same file.
        Child run({ZRGATE_PATH, ini}, logged(out));
        EXPECT_EQ(run.stop(0), 2) << c.ini;
    }
    const auto ini = write(dir + "/site.ini", "[gateway]\nsite=north\n" + reader);
    Child check({ZRGATE_PATH, "--check", ini}, logged(dir + "/good.txt"));
    EXPECT_EQ(check.stop(0), 0);
    EXPECT_NE(read(dir + "/good.txt").find("zr/north/dock/tags"), std::string::npos) << read(dir + "/good.txt");
    std::filesystem::remove_all(dir);
}

// A reader section holds the library's keys, which reach ZROpen as they are.
TEST(GateConfig, CheckAcceptsEveryKeyTheLibraryReads) {
    const auto dir = temp_dir();
    struct Case {
        std::string line;
        bool whole;  // --check says the reader's replies are taken once whole
    } cases[] = {
        {"ZR_TRACE_FILE=dock.zrtrace", false},
        {"ZR_REPLY_TIMING=whole", true},
        {"zr_reply_timing = Fixed ; the default", false},
        {"ZR_MIN_GAP_MS=5", false},
        {"ZR_TCP_PORT=7087", false},
        {"ZR_SUBNET=255.255.255.0", false},
    };
    for (const auto& c : cases) {
        const auto ini = write(dir + "/site.ini", "[gateway]\nsite=a\n[dock]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\n"
                                                  "ZR_HOST_NAME=127.0.0.1\n" + c.line + "\n");
        const auto out = dir + "/out.txt";
        std::filesystem::remove(out);
        Child check({ZRGATE_PATH, "--check", ini}, logged(out));
        EXPECT_EQ(check.stop(0), 0) << c.line << "\n" << read(out);
        EXPECT_EQ(read(out).find("(whole reply timing)") != std::string::npos, c.whole) << read(out);
    }
    std::filesystem::remove_all(dir);
}

TEST_F(Gate, EveryTagArrivesOncePerWindowDepartsAndTheStatusFollowsAKilledAndRestartedReader) {
    Readers readers(3);
    Subscriber sub(broker->port(), "presence-test");
    auto& gate = gateway("presence", "window_ms=600\nstats_every_s=0", readers.sections());
    auto tags = [&](int r) { return std::to_string(r) + " arrived " + std::to_string(sub.count("r" + std::to_string(r), "arrived")); };
    EXPECT_TRUE(eventually([&] { return sub.count("r0", "arrived") + sub.count("r1", "arrived") + sub.count("r2", "arrived") == 9; }))
        << tags(0) << tags(1) << tags(2);
    // Several windows of rounds later, still one arrival per tag and no departure.
    std::this_thread::sleep_for(2s);
    for (const char* r : {"r0", "r1", "r2"}) {
        EXPECT_EQ(sub.count(r, "arrived"), 3) << r;
        EXPECT_EQ(sub.count(r, "departed"), 0) << r;
        EXPECT_EQ(sub.last_status(std::string("/") + r + "/"), "online");
    }

    // The field of r2 changes as zrsim's control lines change it: a tag moves to an antenna the
    // gateway does not ask (it departs), a new one comes (it arrives); the other readers see nothing.
    EXPECT_EQ(readers.sims[2]->control("move 300833B2DDD9014000000002 5"), std::vector<std::string>{"ok"});
    EXPECT_EQ(readers.sims[2]->control("add 300833B2DDD90140000000AB"), std::vector<std::string>{"ok"});
    EXPECT_TRUE(eventually([&] { return sub.count("r2", "departed") == 1 && sub.count("r2", "arrived") == 4; }));
    for (const auto& [seq, e] : sub.events("r2")) {
        if (field(e, "event") == "departed") {
            EXPECT_EQ(field(e, "epc"), "300833B2DDD9014000000002");
        } else if (seq > 3) {
            EXPECT_EQ(field(e, "epc"), "300833B2DDD90140000000AB");
        }
    }

    readers.kill(1);
    EXPECT_TRUE(eventually([&] { return sub.last_status("/r1/") == "reconnecting" && sub.count("r1", "departed") == 3; }));
    std::set<std::string> departed;
    for (const auto& [seq, e] : sub.events("r1"))
        if (field(e, "event") == "departed") departed.insert(field(e, "epc"));
    EXPECT_EQ(departed.size(), 3u);

    readers.start(1);
    EXPECT_TRUE(eventually([&] { return sub.last_status("/r1/") == "online" && sub.count("r1", "arrived") == 6; }));
    EXPECT_NE(field(sub.messages("/r1/status").back().payload, "reconnects"), "0");
    EXPECT_EQ(sub.count("r0", "departed"), 0);
    EXPECT_EQ(sub.count("r2", "departed"), 1);
    for (const char* r : {"r0", "r1", "r2"}) {
        auto events = sub.events(r);  // numbered 1..n without a gap
        EXPECT_EQ(events.begin()->first, 1);
        EXPECT_EQ(events.rbegin()->first, static_cast<long>(events.size())) << r;
    }

    EXPECT_EQ(gate.stop(SIGTERM), 0) << read(log("presence"));
    EXPECT_TRUE(eventually([&] { return sub.last_status("/presence/") == "offline"; }));
    EXPECT_EQ(field(sub.messages("/presence/status").back().payload, "cause"), "stopped");
    for (const char* r : {"r0", "r1", "r2"}) EXPECT_EQ(sub.last_status(std::string("/") + r + "/"), "offline");
}

// discovery = homeassistant: per reader a retained connectivity sensor on its status topic and
// a reads/s sensor on the stats topic, each valid JSON with ids of its own. (The prefix is
// moved under zr/ so that the test's subscription sees it.)
TEST_F(Gate, HomeAssistantDiscoveryAnnouncesEachReader) {
    Readers readers(2);
    auto& gate = gateway("ha.site", "stats_every_s=5\ndiscovery=homeassistant\ndiscovery_prefix=zr/ha", readers.sections());
    Subscriber sub(broker->port(), "ha-test");  // after the gateway: the configurations are retained
    EXPECT_TRUE(eventually([&] { return sub.messages("/config").size() == 4; })) << read(log("ha.site"));
    std::string all;
    std::set<std::string> ids;
    for (const auto& m : sub.messages("/config")) {
        all += m.topic + " " + m.payload + "\n";
        ids.insert(field(m.payload, "unique_id"));
    }
    EXPECT_EQ(ids.size(), 4u) << all;
    for (const std::string part :
         {"zr/ha/binary_sensor/zrgate_ha_site/r0_online/config ", "zr/ha/sensor/zrgate_ha_site/r1_reads/config ",
          "\"state_topic\":\"zr/ha.site/r1/status\"", "\"device_class\":\"connectivity\"",
          "\"state_topic\":\"zr/ha.site/stats\"", "value_json.readers['r0'].reads_per_s",
          "\"availability_topic\":\"zr/ha.site/status\"", "\"expire_after\":15"})
        EXPECT_NE(all.find(part), std::string::npos) << part << "\n" << all;
    std::string payloads;
    for (const auto& m : sub.messages("/config")) payloads += m.payload + "\n";
    const auto file = write(dir + "/discovery.jsonl", payloads);
    Child json({"/usr/bin/env", "python3", "-c", "import json,sys\nfor l in open(sys.argv[1]): json.loads(l)", file},
               logged(dir + "/json.txt"));
    EXPECT_EQ(json.stop(0), 0) << read(dir + "/json.txt");
    EXPECT_EQ(gate.stop(SIGTERM), 0);
}

TEST_F(Gate, AGatewayStartedBeforeItsBrokerPublishesOnceTheBrokerIsUp) {
    Readers readers(1);
    broker->stop();
    auto& gate = gateway("early", "stats_every_s=0", readers.sections());
    EXPECT_TRUE(eventually([&] { return read(log("early")).find("retrying") != std::string::npos; }));
    broker->start();
    Subscriber sub(broker->port(), "early-test");  // the retained statuses and a late subscriber's view
    EXPECT_TRUE(eventually([&] { return sub.last_status("/early/") == "online" && sub.last_status("/r0/") == "online"; }));
    EXPECT_EQ(gate.stop(SIGTERM), 0);
}

// Two gateways through one broker restart: one with room for everything (in its spool), one
// without a spool and with a queue of 5.
TEST_F(Gate, ABrokerRestartLosesNothingThatFitsTheQueueAndCountsWhatDidNot) {
    Readers readers(2);
    Subscriber sub(broker->port(), "restart-test");
    auto section = [&](int i) {
        return "[r" + std::to_string(i) + "]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" +
               readers.addresses[i] + "\npause_ms=50\n";
    };
    auto& roomy = gateway("roomy", "events=reads\nstats_every_s=0", section(0));
    auto& tight = gateway("tight", "events=reads\nstats_every_s=0\nqueue_bound=5\nspool=off", section(1));
    EXPECT_TRUE(eventually([&] { return sub.count("r0", "read") > 0 && sub.count("r1", "read") > 0; }));

    // The last stats line a gateway printed on SIGUSR1.
    auto stats = [&](Child& g, const std::string& name) {
        auto block = Gate::stats(g, name);
        return block.substr(0, block.find('\n'));
    };
    broker->stop();
    // Wait for events queued behind the missing broker: some in the roomy gateway, drops in the tight one.
    EXPECT_TRUE(eventually([&] {
        auto s = stats(roomy, "roomy");
        return s.find("broker away") != std::string::npos && s.find("queue 0 ") == std::string::npos;
    }));
    EXPECT_TRUE(eventually([&] { return stats(tight, "tight").find(" 0 dropped") == std::string::npos; }));
    const auto queued_before = stats(roomy, "roomy");
    broker->start();
    EXPECT_TRUE(eventually([&] {
        return stats(roomy, "roomy").find("queue 0 (+0 in flight)") != std::string::npos &&
               stats(tight, "tight").find("queue 0 (+0 in flight)") != std::string::npos;
    }));
    EXPECT_EQ(roomy.stop(SIGTERM), 0);
    // The tight gateway dies: its last will says so.
    tight.stop(SIGKILL);
    EXPECT_TRUE(eventually([&] { return sub.last_status("/roomy/") == "offline" && sub.last_status("/tight/") == "offline"; }));
    EXPECT_EQ(field(sub.messages("/tight/status").back().payload, "cause"), "connection lost");

    // Roomy: every event numbered 1..n arrived.
    auto r0 = sub.events("r0");
    EXPECT_EQ(r0.rbegin()->first, static_cast<long>(r0.size())) << queued_before;
    EXPECT_EQ(sub.count("r0", "dropped"), 0);
    // Tight: every number either arrived or is in exactly one "dropped" notice's range.
    std::map<long, int> numbers;
    long dropped = 0;
    for (const auto& [seq, e] : sub.events("r1")) {
        if (field(e, "event") != "dropped") {
            ++numbers[seq];
            continue;
        }
        dropped += std::stol(field(e, "count"));
        for (long n = std::stol(field(e, "first_seq")); n <= std::stol(field(e, "last_seq")); ++n) ++numbers[n];
    }
    EXPECT_GT(dropped, 0);
    EXPECT_EQ(numbers.rbegin()->first, static_cast<long>(numbers.size()));
    for (const auto& [n, times] : numbers) EXPECT_EQ(times, 1) << "event " << n;
}

// What a consumer makes of one reader's tags topic: distinct payloads by seq (a redelivery is
// the same payload again), the dropped notices, and the run of every event.
struct Ledger {
    std::map<long, std::set<std::string>> by_seq;
    std::set<std::string> notices;
    std::map<long, long> run_of;  // seq -> run
    std::vector<long> arrivals;   // seqs in the order they first came
    long dropped = 0;
};

Ledger ledger(const Subscriber& sub, const std::string& topic) {
    Ledger l;
    for (const auto& m : sub.messages("/" + topic + "/tags")) {
        if (field(m.payload, "event") == "dropped") {
            if (l.notices.insert(m.payload).second) l.dropped += std::stol(field(m.payload, "count"));
            continue;
        }
        const long seq = std::stol(field(m.payload, "seq"));
        if (!l.by_seq.count(seq)) l.arrivals.push_back(seq);
        l.by_seq[seq].insert(m.payload);
        l.run_of[seq] = std::stol(field(m.payload, "run"));
    }
    return l;
}

// Every seq from 1 on stands for one event only, and is either delivered or in exactly one
// dropped notice; events come in their order (repeats aside), a later run's after an earlier's.
void expect_whole(const Ledger& l, const std::string& what) {
    std::map<long, int> covered;
    for (const auto& [seq, payloads] : l.by_seq) {
        EXPECT_EQ(payloads.size(), 1u) << what << ": seq " << seq << " used for different events";
        ++covered[seq];
    }
    for (const auto& n : l.notices)
        for (long seq = std::stol(field(n, "first_seq")); seq <= std::stol(field(n, "last_seq")); ++seq) ++covered[seq];
    ASSERT_FALSE(covered.empty()) << what;
    EXPECT_EQ(covered.begin()->first, 1) << what;
    EXPECT_EQ(covered.rbegin()->first, static_cast<long>(covered.size())) << what << ": a gap";
    for (const auto& [seq, times] : covered) EXPECT_EQ(times, 1) << what << ": seq " << seq;
    for (std::size_t i = 1; i < l.arrivals.size(); ++i)
        EXPECT_LT(l.arrivals[i - 1], l.arrivals[i]) << what << ": out of order";
    long run = 0;
    for (const auto& [seq, r] : l.run_of) {
        EXPECT_GE(r, run) << what << ": seq " << seq << " of run " << r << " after one of run " << run;
        run = r;
    }
}

// The spool through what can happen to a gateway: each case disturbs a running gateway (and
// may start it again); the consumer then holds every event once per (reader, seq), the gaps
// covered by dropped notices, in as many runs as the gateway had.
TEST_F(Gate, TheSpoolKeepsEveryEventThroughStopsKillsAndOutages) {
    struct Case {
        std::string name, keys;
        int readers;
        std::function<void(Readers&, Subscriber&, Child*&)> disturb;
        long runs;
        bool drops;
    } cases[] = {
        // SIGTERM while the broker is away, departures made after it went: all kept for the next run.
        {"outage", "window_ms=300\nshutdown_flush_ms=300", 2,
         [this](Readers& readers, Subscriber& sub, Child*& gate) {
             const std::string site = "outage";
             EXPECT_TRUE(eventually([&] { return sub.count(site + "/r0", "arrived") == 3 && sub.count(site + "/r1", "arrived") == 3; }));
             broker->stop();
             readers.kill(0), readers.kill(1);
             EXPECT_TRUE(eventually([&] {
                 return reader_events(*gate, site, "r0") == 6 && reader_events(*gate, site, "r1") == 6;
             })) << read(log(site));
             EXPECT_EQ(gate->stop(SIGTERM), 0);
             EXPECT_NE(read(log(site)).find("kept in the spool"), std::string::npos) << read(log(site));
             const auto check = zr::test::run({ZRGATE_PATH, "--check", dir + "/" + site + ".ini"});
             EXPECT_NE(check.out.find("spool file: 6 event(s) waiting"), std::string::npos) << check.out;
             EXPECT_EQ(sub.count(site + "/r0", "departed"), 0);
             broker->start();
             readers.start(0), readers.start(1);
             gate = &gateway(site, "window_ms=300\nshutdown_flush_ms=300", readers.sections());
             EXPECT_TRUE(eventually([&] {
                 return sub.count(site + "/r0", "departed") == 3 && sub.count(site + "/r1", "departed") == 3 &&
                        sub.count(site + "/r0", "arrived") == 6 && sub.count(site + "/r1", "arrived") == 6;
             })) << read(log(site));
         },
         2, false},
        // kill -9 while events stream out: what was committed comes again, nothing twice under one seq.
        {"crash", "events=reads", 2,
         [this](Readers& readers, Subscriber& sub, Child*& gate) {
             const std::string site = "crash";
             EXPECT_TRUE(eventually([&] { return sub.count(site + "/r0", "read") > 100 && sub.count(site + "/r1", "read") > 100; }));
             gate->stop(SIGKILL);
             const auto before = sub.count(site + "/r0", "read");
             gate = &gateway(site, "events=reads", readers.fast_sections());
             EXPECT_TRUE(eventually([&] { return sub.count(site + "/r0", "read") > before + 100; }));
         },
         2, false},
        // A spool of 5 events while the broker is away: the rest dropped, counted and announced.
        {"full", "events=reads\nspool_bound=5", 1,
         [this](Readers&, Subscriber& sub, Child*& gate) {
             const std::string site = "full";
             EXPECT_TRUE(eventually([&] { return sub.count(site + "/r0", "read") > 0; }));
             broker->stop();
             EXPECT_TRUE(eventually([&] { return stats(*gate, site).find(" 0 dropped") == std::string::npos; }));
             broker->start();
             EXPECT_TRUE(eventually([&] { return sub.count(site + "/r0", "dropped") > 0; })) << read(log(site));
         },
         1, true},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        Readers readers(c.readers);
        auto sub = std::make_unique<Subscriber>(broker->port(), "spool-" + c.name);
        Child* gate = &gateway(c.name, c.keys, c.name == "crash" ? readers.fast_sections() : readers.sections());
        c.disturb(readers, *sub, gate);
        EXPECT_EQ(gate->stop(SIGTERM), 0) << read(log(c.name));
        EXPECT_EQ(read(log(c.name)).find("kept in the spool", read(log(c.name)).rfind("run ")), std::string::npos)
            << "the last run left events behind\n" << read(log(c.name));
        for (int r = 0; r < c.readers; ++r) {
            const auto l = ledger(*sub, c.name + "/r" + std::to_string(r));
            expect_whole(l, c.name + "/r" + std::to_string(r));
            std::set<long> runs;
            for (const auto& [seq, run] : l.run_of) runs.insert(run);
            EXPECT_EQ(static_cast<long>(runs.size()), c.runs) << c.name << "/r" << r;
            EXPECT_EQ(l.dropped > 0, c.drops) << c.name << "/r" << r;
        }
    }
}

TEST(GateConfig, ASpoolThatCannotBeOpenedIsRefusedWithItsNameAndSQLitesReason) {
    const auto dir = temp_dir();
    write(dir + "/junk.db", "not a database, but long enough to have a header of sorts...........................\n");
    struct Case {
        std::string spool, expected;
    } cases[] = {
        {dir + "/no/such/dir/site.db", dir + "/no/such/dir/site.db: unable to open database file"},
        {"junk.db", dir + "/junk.db: file is not a database"},
    };
    const std::string reader = "[dock]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=127.0.0.1\n";
    for (const auto& c : cases) {
        const auto ini = write(dir + "/site.ini", "[gateway]\nsite=a\nspool=" + c.spool + "\n" + reader);
        const auto out = dir + "/out.txt";
        std::filesystem::remove(out);
        Child check({ZRGATE_PATH, "--check", ini}, logged(out));
        EXPECT_EQ(check.stop(0), 2) << read(out);
        Child run({ZRGATE_PATH, ini}, logged(out));
        EXPECT_EQ(run.stop(0), 1) << read(out);
        const auto text = read(out);
        EXPECT_NE(text.find("spool " + c.expected + "; not a usable configuration"), std::string::npos) << text;
        EXPECT_NE(text.find("cannot open the spool " + c.expected + "; not started"), std::string::npos) << text;
    }
    // A spool in use by a running gateway: --check says so, a second gateway is refused.
    const auto held = write(dir + "/held.ini", "[gateway]\nsite=held\nbroker=127.0.0.1\nport=1\n" + reader);
    Child first({ZRGATE_PATH, held}, logged(dir + "/first.txt"));
    EXPECT_TRUE(eventually([&] { return read(dir + "/first.txt").find(", run 1") != std::string::npos; }));
    const auto in_use = zr::test::run({ZRGATE_PATH, "--check", held});
    EXPECT_EQ(in_use.status, 0);
    EXPECT_NE(in_use.out.find("spool file: in use by a running gateway"), std::string::npos) << in_use.out;
    const auto second = zr::test::run({ZRGATE_PATH, held});
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.err.find("cannot open the spool " + dir + "/held.db: database is locked; not started"),
              std::string::npos) << second.err;
    first.stop(SIGKILL);

    // The default is SITE.db beside the file; --check leaves no file behind.
    const auto ini = write(dir + "/site.ini", "[gateway]\nsite=north\n" + reader);
    const auto ran = zr::test::run({ZRGATE_PATH, "--check", ini});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_NE(ran.out.find("spool: " + dir + "/north.db"), std::string::npos) << ran.out;
    EXPECT_FALSE(std::filesystem::exists(dir + "/north.db"));
    std::filesystem::remove_all(dir);
}

// SIGHUP: a file with mistakes changes nothing; then one reader removed (its events made while
// the broker was away still arrive), one added, and later the removed one back and the added one
// changed, while the reader left alone never notices.
TEST_F(Gate, SighupAddsRemovesAndChangesReadersAndLeavesTheOthersAlone) {
    Readers readers(3);
    Subscriber sub(broker->port(), "reload-test");
    auto section = [&](int i, const std::string& extra = "") {
        return "[r" + std::to_string(i) + "]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" +
               readers.addresses[i] + "\npause_ms=50\n" + extra + "\n";
    };
    auto& gate = gateway("reload", "window_ms=300\nstats_every_s=0", section(0) + section(1));
    const auto ini = dir + "/reload.ini";
    const auto text = read(ini);
    const auto head = text.substr(0, text.find("[r0]"));
    auto count = [&](const std::string& r, const char* event) { return sub.count("reload/" + r, event); };
    auto logged = [&](const std::string& line) { return read(log("reload")).find(line) != std::string::npos; };
    EXPECT_TRUE(eventually([&] { return count("r0", "arrived") == 3 && count("r1", "arrived") == 3; }));

    write(ini, head + section(0) + section(1) + "[r2]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=10.0.0.300\npause_ms=soon\n");
    gate.signal(SIGHUP);
    EXPECT_TRUE(eventually([&] { return logged("not reloaded, the running configuration kept"); })) << read(log("reload"));
    EXPECT_TRUE(logged("[r2] ZR_HOST_NAME: '10.0.0.300' is not")) << read(log("reload"));
    EXPECT_TRUE(logged("[r2] pause_ms: 'soon'")) << read(log("reload"));
    EXPECT_TRUE(logged("2 error(s) in " + ini)) << read(log("reload"));

    broker->stop();
    readers.kill(1);
    EXPECT_TRUE(eventually([&] { return reader_events(gate, "reload", "r1") == 6; })) << read(log("reload"));
    auto moved = head;  // and a [gateway] key changed, which waits for the next start
    moved.replace(moved.find("stats_every_s=0"), 15, "stats_every_s=3600");
    write(ini, moved + section(0) + section(2));
    gate.signal(SIGHUP);
    EXPECT_TRUE(eventually([&] { return logged("1 reader(s) added, 1 removed, 0 changed, 1 unchanged"); }))
        << read(log("reload"));
    EXPECT_TRUE(logged("reload: [gateway] changes take effect at the next start"));
    broker->start();
    EXPECT_TRUE(eventually([&] {
        return count("r1", "departed") == 3 && count("r2", "arrived") == 3 && sub.last_status("/reload/r1/") == "offline";
    })) << read(log("reload"));
    EXPECT_EQ(field(sub.messages("/reload/r1/status").back().payload, "cause"), "removed from the configuration");

    readers.start(1);
    write(ini, head + section(0) + section(1) + section(2, "quiet_ms=80\n"));
    gate.signal(SIGHUP);
    EXPECT_TRUE(eventually([&] { return logged("1 reader(s) added, 0 removed, 1 changed, 1 unchanged"); }))
        << read(log("reload"));
    EXPECT_TRUE(eventually([&] { return count("r1", "arrived") == 6 && count("r2", "arrived") == 6; })) << read(log("reload"));
    EXPECT_EQ(gate.stop(SIGTERM), 0) << read(log("reload"));

    // The reader left alone: online all along, its tags arrived once and never departed.
    const auto statuses = sub.messages("/reload/r0/status");  // the last may be the stop's offline
    for (std::size_t i = 0; i + 1 < statuses.size(); ++i) EXPECT_EQ(field(statuses[i].payload, "state"), "online");
    EXPECT_EQ(count("r0", "arrived"), 3);
    EXPECT_EQ(count("r0", "departed"), 0);
    // Every reader's numbers go on from 1 without a gap, the removed and re-added one included.
    for (const char* r : {"r0", "r1", "r2"}) expect_whole(ledger(sub, std::string("reload/") + r), r);
    EXPECT_EQ(ledger(sub, "reload/r1").by_seq.size(), 9u);
}

}  // namespace
