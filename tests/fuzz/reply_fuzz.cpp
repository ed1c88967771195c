// libFuzzer target: any bytes a reader (or line noise) may send, against every function that
// reads a reply, on both links; raw, or framed with a good CRC. Output buffers are heap blocks of exactly the documented size,
// so AddressSanitizer reports a single byte written past them.
//
//   cmake -S . -B build-fuzz -DZR_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
//   cmake --build build-fuzz --target zr_reply_fuzz && build-fuzz/tests/fuzz/zr_reply_fuzz -max_total_time=120
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "fake_platform.h"
#include "zr.h"

using namespace zr::test;

namespace {

struct Out {
    explicit Out(std::size_t n) : bytes(std::make_unique<unsigned char[]>(n ? n : 1)) {}
    std::unique_ptr<unsigned char[]> bytes;
    unsigned char* p() { return bytes.get(); }
};

const unsigned char kId[8] = {1, 2, 3, 4, 5, 6, 7, 8};
const unsigned char kPwd[4] = {0, 0, 0, 0};
const unsigned char kData[256] = {};

struct Entry {
    bool report;  // receive-only: the bytes are waiting before the call
    std::function<int(int h, bool serial, std::uint8_t size)> call;
};

const std::vector<Entry>& entries() {
    // Report buffers: the largest report each link can deliver.
    static const auto report_size = [](bool serial) { return serial ? 251u : 95u; };
    static const auto frame_size = [](bool serial) { return serial ? 254u : 98u; };
    static const std::vector<Entry> e = {
        {false, [](int h, bool, std::uint8_t) { return ZRReset(h); }},
        {true, [](int h, bool s, std::uint8_t) { Out o(report_size(s)); return ZRReport(h, o.p()); }},
        {true, [](int h, bool s, std::uint8_t) { Out o(report_size(s)); return ZRDirectReport(h, o.p()); }},
        {true, [](int h, bool s, std::uint8_t) { Out o(report_size(s)); return ZRLongReport(h, o.p()); }},
        {true, [](int h, bool s, std::uint8_t) { Out o(report_size(s)); return ZRUserReport(h, o.p()); }},
        {true, [](int h, bool s, std::uint8_t) { Out o(frame_size(s)); return ZREpcCodeReport(h, o.p()); }},
        {true, [](int h, bool s, std::uint8_t) { Out o(frame_size(s)); return ZRTIDCodeReport(h, o.p()); }},
        {true, [](int h, bool s, std::uint8_t) { Out o(report_size(s)); return ZRGetUseDataReport(h, o.p()); }},
        {true, [](int h, bool s, std::uint8_t) { Out o(report_size(s)); return ZREASAlarmReport(h, o.p()); }},
        {true, [](int h, bool, std::uint8_t) {
             Out a(6), b(8), c(8);
             return ZRListenReader(h, 0, a.p(), b.p(), c.p());
         }},
        {false, [](int h, bool, std::uint8_t n) { return ZRDataReturn(h, 1, n % 5); }},
        {false, [](int h, bool, std::uint8_t n) { return ZRCodeSending(h, 1 + n % 20, 0, kData); }},
        {false, [](int h, bool, std::uint8_t) { return ZREndEASAlarm(h, 1); }},
        {false, [](int h, bool, std::uint8_t n) { Out o(n); return ZRReadUserData(h, 1, 0, n, kId, o.p()); }},
        {false, [](int h, bool, std::uint8_t n) { Out o(2u * n + 5); return ZRReadUserDataEPC(h, kPwd, 0, n, 1, o.p()); }},
        {false, [](int h, bool, std::uint8_t n) { return ZRSetEpcCode(h, 1, kPwd, 12, n % 124, kData); }},
        {false, [](int h, bool, std::uint8_t n) { return ZRLockUserData(h, n % 200, 1, kId, 8); }},
        {false, [](int h, bool, std::uint8_t n) { return ZRSetDestroyTag(h, 1, kPwd, n % 125, kData); }},
        {false, [](int h, bool, std::uint8_t n) { Out o(n % 53); return ZRSysQuery(h, 0, n % 53, o.p()); }},
        {false, [](int h, bool, std::uint8_t n) { Out o(n % 253); return ZRTagQuery(h, 0, n % 253, o.p()); }},
        {false, [](int h, bool, std::uint8_t) { Out o(54); return ZRFreqQuery(h, 0, 0, o.p()); }},
        {false, [](int h, bool, std::uint8_t n) { Out o(n % 53); return ZRPowerQuery(h, 0, n % 53, o.p()); }},
        {false, [](int h, bool, std::uint8_t) { int v = 0; return ZRGetDeviceClass(h, &v); }},
        {false, [](int h, bool, std::uint8_t) { Out o(2); return ZRGetInterfere(h, o.p()); }},
        {false, [](int h, bool, std::uint8_t) { Out o(6); return ZRGetReaderState(h, 1, o.p()); }},
        {false, [](int h, bool, std::uint8_t) { return ZRGetReaderfixNO(h, 0); }},
        {false, [](int h, bool, std::uint8_t n) { return ZRSysSet(h, 0xFF, 1 + n % 3, kData); }},
        {false, [](int h, bool, std::uint8_t) { return ZRPowerOff(h); }},
        {false, [](int h, bool, std::uint8_t) {
             return ZRNetAddrSet(h, 0, "net", "192.0.2.1", "255.255.255.0", "192.0.2.254");
         }},
    };
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const auto& table = entries();
    const auto& entry = table[data[0] % table.size()];
    const bool serial = (data[1] & 1) == 0;
    const std::uint8_t param = data[2];
    const int delay = data[3] % 120;
    Bytes wire(data + 4, data + size);
    // Random bytes seldom carry a good CRC: half the inputs are framed properly, so that what
    // lies behind the CRC check (lengths, codes, statuses, copies) is reached as well.
    if (data[1] & 2) wire = serial ? zr::sim::serial_wire(wire) : zr::sim::with_crc(wire);

    FakePlatform fake;
    const LinkCase& l = kLinks[serial ? 0 : 1];
    Peer& peer = peer_of(fake, l);
    int h = -1;
    if (open_fake(fake, l.type, l.name, h) != ZR_OK) __builtin_trap();
    if (entry.report) peer.send_raw(wire, delay);
    else peer.reply_next_raw(wire, delay);
    int r = entry.call(h, serial, param);
    (void)r;
    // Whatever came before (garbage, half a frame, a length no reply has), the link is in step
    // again at the next command, on both links.
    fake.advance(milliseconds(1000));
    peer.incoming.clear();
    peer.script.clear();
    peer.reply_next({0x00, 0x04, 0x67, 0x00, 0x02, 0x10});
    if (ZRReset(h) != ZR_OK) __builtin_trap();
    ZRClose(&h);
    return 0;
}
