// The record walk and channel choice over a real six-record response, and
// over the two most costly 64 KiB responses for libbluetooth's decoder: one
// record holding as many distinct UUIDs as fit (it keeps a record's UUIDs in
// a list searched on every insertion) or as many attributes (a sorted list
// walked on every insertion). Decoded, each took over a second; the record
// checks now refuse them for holding too many elements, so these measure
// the refusal.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log.h"
#include "sdp/sdp_record_walk.h"

namespace {

using Bytes = std::vector<uint8_t>;

// "DialogAudioPL": six records, serial port on channel 2 (tests/data/sdp).
const char* const kDialogAudio =
    "36027335410900000a000900020900013503191101090004350c3503190100350519000308020900053503191002"
    "090006350909656e09006a0901000901002505434f4d350035550900000a0009000309000135061911081912030900"
    "04350c3503190100350519000308030900053503191002090006350909656e09006a0901000900093508350619110809"
    "0102090100250448535500090302280035560900000a00090007090001350619111e191203090004350c3503190100"
    "3505190003080709000535031910020900063509"
    "09656e09006a0901000900093508350619111e090107090100250448465500090311098081356a0900000a0009000a09"
    "0001350319110b0900043510350619010009001935061900190901000900053503191002090006350909656e09006a09"
    "01000900093508350619110d09010009010025094132445053696e6b0009010225094d696e64547265650009031109"
    "0001358c0900000a0009001b090001350619110e19110f0900043510350619010009001735061900170901040900053503"
    "191002090006350909656e09006a0901000900093508350619110e09010609000d35123510350619010009001b350619"
    "00170901030901002511415652435020436f6e74726f6c6c65720009010225094d696e6454726565000903110903cf35"
    "850900000a0009001c090001350319110c0900043510350619010009001735061900170901040900053503191002090006"
    "350909656e09006a0901000900093508350619110e09010609000d35123510350619010009001b3506190017090103"
    "090100250d4156524350205461726765740009010225094d696e6454726565000903110901ff";

Bytes from_hex(std::string_view hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

void put16(Bytes& b, size_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

Bytes many_uuids() {
    const size_t count = (65535 - 3 - 3 - 3 - 3) / 3;
    Bytes value{0x36};
    put16(value, count * 3);
    for (size_t i = 0; i < count; ++i) {
        value.push_back(0x19);
        put16(value, i + 1);
    }
    Bytes record{0x36};
    put16(record, 3 + value.size());
    record.insert(record.end(), {0x09, 0x02, 0x00});
    record.insert(record.end(), value.begin(), value.end());
    Bytes response{0x36};
    put16(response, record.size());
    response.insert(response.end(), record.begin(), record.end());
    return response;
}

// One record with as many attributes as fit, each a NIL value: libbluetooth
// inserts each into a sorted list it walks linearly.
Bytes many_attributes() {
    const size_t count = (65535 - 3 - 3) / 4;
    Bytes record{0x36};
    put16(record, count * 4);
    for (size_t i = 0; i < count; ++i) {
        record.push_back(0x09);
        put16(record, count - i);  // descending: the longest walk each time
        record.push_back(0x00);
    }
    Bytes response{0x36};
    put16(response, record.size());
    response.insert(response.end(), record.begin(), record.end());
    return response;
}

void run(benchmark::State& state, const Bytes& attrs) {
    vgps::set_log_sink([](std::string_view) {});
    const vgps::bdaddr addr{{0, 1, 2, 3, 4, 5}};
    for (auto _ : state) {
        benchmark::DoNotOptimize(vgps::sdp_choose_rfcomm_channel(
            attrs.data(), static_cast<uint32_t>(attrs.size()), addr));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * attrs.size()));
    vgps::set_log_sink({});
}

void BM_WalkRealResponse(benchmark::State& state) { run(state, from_hex(kDialogAudio)); }
BENCHMARK(BM_WalkRealResponse);

void BM_WalkManyUuids(benchmark::State& state) { run(state, many_uuids()); }
BENCHMARK(BM_WalkManyUuids)->Unit(benchmark::kMillisecond);

void BM_WalkManyAttributes(benchmark::State& state) { run(state, many_attributes()); }
BENCHMARK(BM_WalkManyAttributes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
