// The toolkit's per-turn costs on a device list: scrolling a long grouped
// table by one row (cells leave for the queue, new rows take them back),
// reloading it whole, and dumping the window with its visible device rows.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "platform/run_loop.h"
#include "ui/BTDeviceView.h"
#include "uikit/UIApplication.h"
#include "uikit/UITableView.h"
#include "uikit/UIWindow.h"

namespace {

using namespace vgps;

class Devices : public UITableViewDataSource, public UITableViewDelegate {
public:
    explicit Devices(int n) : n_(n) {}
    int tableView_numberOfRowsInSection(UITableView*, int) override { return n_; }
    std::shared_ptr<UITableViewCell> tableView_cellForRowAtIndexPath(UITableView* table, NSIndexPath p) override {
        auto cell = std::static_pointer_cast<BTDeviceView>(table->dequeueReusableCellWithIdentifier("Cell_Section_1"));
        if (!cell) cell = std::make_shared<BTDeviceView>(0, "Cell_Section_1");
        cell->setTitle("Receiver " + std::to_string(p.row));
        cell->setIsSaved(p.row % 3 == 0);
        cell->setIsBookmarked(p.row == 0);
        cell->setDescription("Address: 00:11:22:33:44:55 Class: 001f00");
        cell->setState(p.row % 3);
        return cell;
    }
    double tableView_heightForRowAtIndexPath(UITableView*, NSIndexPath) override { return 54; }

private:
    int n_;
};

struct Screen {
    explicit Screen(int rows) : devices(rows) {
        window->makeKeyAndVisible();
        table->setDataSource(&devices);
        table->setDelegate(&devices);
        window->addSubview(table);
        table->reloadData();
    }
    RunLoop loop;
    UIApplication app{&loop};
    Devices devices;
    std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRectMake(0, 0, 320, 480));
    std::shared_ptr<UITableView> table = std::make_shared<UITableView>(CGRectMake(0, 64, 320, 416), 1);
};

void BM_ScrollOneRow(benchmark::State& state) {
    Screen screen(static_cast<int>(state.range(0)));
    double y = 0;
    for (auto _ : state) {
        y += 54;
        if (y > screen.table->maximumContentOffset().y) y = 0;
        screen.table->setContentOffset({0, y});
        screen.app.displayIfNeeded();
    }
}
BENCHMARK(BM_ScrollOneRow)->Arg(50)->Arg(1000);

void BM_ReloadData(benchmark::State& state) {
    Screen screen(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        screen.table->reloadData();
        screen.table->clearUpdates();
    }
}
BENCHMARK(BM_ReloadData)->Arg(50)->Arg(1000);

void BM_DumpWindow(benchmark::State& state) {
    Screen screen(50);
    size_t bytes = 0;
    for (auto _ : state) {
        const std::string dump = screen.app.dump();
        bytes = dump.size();
        benchmark::DoNotOptimize(dump.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_DumpWindow);

}  // namespace

BENCHMARK_MAIN();
