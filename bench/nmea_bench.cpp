// Throughput of the NMEA stream parser on a realistic 1 Hz receiver stream:
// each epoch GPGGA, GPGSA, three GPGSV (12 satellites), GPRMC and GPVTG with
// CR LF, several MB in all, fed in the data link's 1023-byte blocks.
//
//   nmea_bench                 Google Benchmark: ns per sentence
//   nmea_bench --passes=N      N plain passes over the stream, for counting
//                              instructions under callgrind (see
//                              scripts/bench-nmea.sh)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "nmea/info.h"
#include "nmea/parser.h"

namespace {

using namespace vgps;

constexpr int kEpochs = 8000;
constexpr int kSentencesPerEpoch = 7;
constexpr int kBlock = 1023;

std::string sentence(const char* body) {
    unsigned crc = 0;
    for (const char* p = body; *p; ++p) crc ^= static_cast<unsigned char>(*p);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", crc & 0xFF);
    return std::string("$") + body + tail;
}

struct Stream {
    std::string bytes;
    long sentences = 0;
};

const Stream& receiver_stream() {
    static const Stream stream = [] {
        Stream s;
        unsigned seed = 12345;
        auto next = [&seed](unsigned range) {
            seed = seed * 1103515245u + 12345u;
            return (seed >> 16) % range;
        };
        int prn[12];
        for (int i = 0; i < 12; ++i) prn[i] = 2 + i * 2 + (i > 7 ? 40 : 0);
        double lat = 4807.0380, lon = 1131.0000;
        char body[128];
        for (int e = 0; e < kEpochs; ++e) {
            const int t = 12 * 3600 + e;
            const int hh = (t / 3600) % 24, mm = (t / 60) % 60, ss = t % 60;
            lat += (static_cast<int>(next(21)) - 10) * 0.0001;
            lon += (static_cast<int>(next(21)) - 10) * 0.0001;
            const double knots = next(400) / 10.0, track = next(3600) / 10.0;

            std::snprintf(body, sizeof body,
                          "GPGGA,%02d%02d%02d.000,%09.4f,N,%010.4f,E,1,12,0.%d,%d.%d,M,46.9,M,,",
                          hh, mm, ss, lat, lon, 7 + next(3), 540 + next(10), next(10));
            s.bytes += sentence(body);
            std::snprintf(body, sizeof body,
                          "GPGSA,A,3,%02d,%02d,%02d,%02d,%02d,%02d,%02d,%02d,%02d,%02d,%02d,%02d,"
                          "1.%d,0.%d,1.%d",
                          prn[0], prn[1], prn[2], prn[3], prn[4], prn[5], prn[6], prn[7], prn[8],
                          prn[9], prn[10], prn[11], next(10), 7 + next(3), next(10));
            s.bytes += sentence(body);
            for (int k = 0; k < 3; ++k) {
                int n = std::snprintf(body, sizeof body, "GPGSV,3,%d,12", k + 1);
                for (int i = 0; i < 4; ++i) {
                    const int id = prn[k * 4 + i];
                    n += std::snprintf(body + n, sizeof body - n, ",%02d,%02d,%03d,%02d", id,
                                       (id * 7) % 90, (id * 37) % 360, 20 + next(30));
                }
                s.bytes += sentence(body);
            }
            std::snprintf(body, sizeof body,
                          "GPRMC,%02d%02d%02d.000,A,%09.4f,N,%010.4f,E,%.1f,%.1f,060610,,,A", hh,
                          mm, ss, lat, lon, knots, track);
            s.bytes += sentence(body);
            std::snprintf(body, sizeof body, "GPVTG,%.1f,T,,M,%.1f,N,%.1f,K,A", track, knots,
                          knots * 1.852);
            s.bytes += sentence(body);
            s.sentences += kSentencesPerEpoch;
        }
        return s;
    }();
    return stream;
}

// One pass as the data link runs it: a fresh parser and record, then the
// stream in 1023-byte blocks. Returns the packs applied.
long run_pass(const std::string& bytes) {
    nmeaPARSER parser;
    nmeaINFO info;
    nmea_parser_init(&parser);
    nmea_zero_INFO(&info);
    long packs = 0;
    for (size_t pos = 0; pos < bytes.size(); pos += kBlock) {
        const size_t n = bytes.size() - pos < kBlock ? bytes.size() - pos : kBlock;
        packs += nmea_parse(&parser, bytes.data() + pos, static_cast<int>(n), &info);
    }
    benchmark::DoNotOptimize(info);
    nmea_parser_destroy(&parser);
    return packs;
}

void BM_NmeaStream1023(benchmark::State& state) {
    const Stream& stream = receiver_stream();
    long packs = 0;
    for (auto _ : state) packs = run_pass(stream.bytes);
    state.SetItemsProcessed(state.iterations() * stream.sentences);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.bytes.size()));
    state.counters["sentences"] = static_cast<double>(stream.sentences);
    state.counters["packs_applied"] = static_cast<double>(packs);
    state.counters["ns_per_sentence"] = benchmark::Counter(
        static_cast<double>(stream.sentences),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_NmeaStream1023)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strncmp(argv[1], "--passes=", 9) == 0) {
        const int passes = std::atoi(argv[1] + 9);
        const Stream& stream = receiver_stream();
        long packs = 0;
        for (int i = 0; i < passes; ++i) packs += run_pass(stream.bytes);
        std::printf("passes=%d bytes=%zu sentences=%ld packs=%ld\n", passes, stream.bytes.size(),
                    stream.sentences, packs);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
