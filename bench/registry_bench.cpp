// Start-up cost of the remembered devices: reading the main preference file
// and the devices file once per remembered element, for lists of a few to
// a few dozen devices and for 2,000, and one read-modify-write of the main
// file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/plist_file.h"
#include "registry/BTDeviceCache.h"

namespace {

struct PrefsFolder {
    std::string path;
    explicit PrefsFolder(int devices) {
        char pattern[] = "/tmp/vgps-bench-XXXXXX";
        path = ::mkdtemp(pattern);
        ::setenv(vgps::kPreferencesDirVariable, path.c_str(), 1);
        vgps::PlistArray remembered;
        vgps::PlistDictionary entries;
        for (int i = 0; i < devices; ++i) {
            vgps::bdaddr a{{0x00, 0x11, 0x22, 0x33, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}};
            const std::string text = vgps::ba2str(a);
            remembered.emplace_back(text);
            vgps::PlistDictionary entry;
            entry.set("device-name", "Receiver " + std::to_string(i));
            entry.set("device-class", vgps::PlistInteger{0x1f00});
            entries.set(text, std::move(entry));
        }
        vgps::PlistDictionary prefs;
        prefs.set("remembered", std::move(remembered));
        vgps::plist_write_xml_atomically(vgps::main_preferences_path(), prefs);
        vgps::plist_write_xml_atomically(vgps::devices_preferences_path(), entries);
    }
    ~PrefsFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

void BM_LoadSaved(benchmark::State& state) {
    PrefsFolder folder(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        vgps::BTDeviceCache cache;
        cache.loadSaved();
        benchmark::DoNotOptimize(cache.deviceCount());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LoadSaved)->Arg(1)->Arg(8)->Arg(32)->Arg(2000)->Unit(benchmark::kMicrosecond);

void BM_SaveAsDefault(benchmark::State& state) {
    PrefsFolder folder(8);
    vgps::bdaddr a{{1, 2, 3, 4, 5, 6}}, b{{6, 5, 4, 3, 2, 1}};
    vgps::BTDevice first(std::nullopt, 0, std::nullopt, &a), second(std::nullopt, 0, std::nullopt, &b);
    bool flip = false;
    for (auto _ : state) {
        (flip ? first : second).saveAsDefault();  // changes every time, so it always writes
        flip = !flip;
    }
}
BENCHMARK(BM_SaveAsDefault)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
