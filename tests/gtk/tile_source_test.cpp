// The map's tiles: fetched from a tile server (a real HTTP server on a
// local socket here) with the application's User-Agent, kept in the disk
// cache so that a tile is downloaded once, and never asked for offline.
// And the zoom at which a region fits the map.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "frontend/gtk/GtkFrontEnd.h"
#include "frontend/gtk/glib_loop.h"
#include "frontend/gtk/map_view.h"
#include "frontend/gtk/tile_source.h"
#include "platform/log.h"
#include "platform/run_loop.h"
#include "support/temp_dir.h"
#include "tile_server.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

class TileSourceTest : public ::testing::Test {
protected:
    TileSourceTest() : join(&loop) {}

    gtkfe::TileConfig config() {
        gtkfe::TileConfig c;
        c.urlTemplate = server.urlTemplate();
        c.userAgent = gtk_front_end_user_agent();
        c.cacheDir = dir.file("tiles");
        return c;
    }

    // Asks `source` for one tile and runs the loop until it comes: its size
    // in bytes, or -1 with the error's text.
    long fetch(ShumateDataSource* source, int x, int y, int z, std::string* error = nullptr) {
        struct Result {
            bool done = false;
            long size = -1;
            std::string error;
        } result;
        shumate_data_source_get_tile_data_async(
            source, x, y, z, nullptr,
            +[](GObject* object, GAsyncResult* res, gpointer data) {
                auto* r = static_cast<Result*>(data);
                GError* err = nullptr;
                GBytes* bytes = shumate_data_source_get_tile_data_finish(SHUMATE_DATA_SOURCE(object), res, &err);
                if (bytes != nullptr) {
                    r->size = long(g_bytes_get_size(bytes));
                    g_bytes_unref(bytes);
                } else {
                    r->error = err->message;
                    g_error_free(err);
                }
                r->done = true;
            },
            &result);
        EXPECT_TRUE(loop.run_until([&] { return result.done; }, 20s));
        if (error != nullptr) *error = result.error;
        return result.size;
    }

    test::TempDir dir;
    test::TileServer server;
    RunLoop loop;
    GLibLoopJoin join;
};

TEST_F(TileSourceTest, TilesComeWithTheApplicationsUserAgentAndAreDownloadedOnce) {
    ASSERT_TRUE(join.ok());
    ShumateDataSource* source = gtkfe::tile_source_new(config());
    EXPECT_EQ(fetch(source, 8716, 5685, 14), long(sizeof test::kTilePng));
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("GET /14/8716/5685.png HTTP/1.1", 0), 0u) << requests[0];
    EXPECT_NE(requests[0].find("User-Agent: vexod-gps/"), std::string::npos) << requests[0];
    EXPECT_TRUE(loop.run_until([&] { return gtkfe::tile_source_writes_pending(source) == 0; }, 10s));
    g_object_unref(source);

    // A new source (a new run of the program) finds it on disk.
    source = gtkfe::tile_source_new(config());
    EXPECT_EQ(fetch(source, 8716, 5685, 14), long(sizeof test::kTilePng));
    EXPECT_EQ(server.requests().size(), 1u);
    // A tile the server does not have is an error, not an empty picture.
    std::string error;
    EXPECT_EQ(fetch(source, 0, 0, 0, &error), -1);
    EXPECT_NE(error.find("404"), std::string::npos) << error;
    g_object_unref(source);
}

TEST_F(TileSourceTest, OfflineNothingIsAskedOfTheServerOrTheCache) {
    ASSERT_TRUE(join.ok());
    gtkfe::TileConfig c = config();
    c.offline = true;
    ShumateDataSource* source = gtkfe::tile_source_new(c);
    std::string error;
    EXPECT_EQ(fetch(source, 1, 1, 1, &error), -1);
    EXPECT_NE(error.find("offline"), std::string::npos);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_FALSE(g_file_test(c.cacheDir.c_str(), G_FILE_TEST_EXISTS));
    g_object_unref(source);
}

TEST(TileUrl, ATemplateFromTheEnvironmentMustNameEveryTile) {
    EXPECT_TRUE(gtkfe::tile_url_template_valid("https://tile.openstreetmap.org/{z}/{x}/{y}.png"));
    EXPECT_TRUE(gtkfe::tile_url_template_valid("http://127.0.0.1:8080/t/{x}/{y}/{z}"));
    EXPECT_FALSE(gtkfe::tile_url_template_valid("file:///tmp/{z}/{x}/{y}.png"));
    EXPECT_FALSE(gtkfe::tile_url_template_valid("https://tile.openstreetmap.org/{z}/{x}.png"));

    LogCapture log;
    setenv("VEXOD_GPS_TILE_URL", "ftp://example.org/{z}/{x}/{y}", 1);
    setenv("VEXOD_GPS_OFFLINE", "yes", 1);
    const GtkFrontEndOptions options = GtkFrontEndOptions::fromEnvironment();
    unsetenv("VEXOD_GPS_TILE_URL");
    unsetenv("VEXOD_GPS_OFFLINE");
    EXPECT_TRUE(options.tileUrl.empty());
    EXPECT_TRUE(options.offline);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("VEXOD_GPS_TILE_URL"), std::string::npos);
}

TEST(ZoomForRegion, TheRegionJustFitsTheMap) {
    // The inspector's map: 300 by 248 pixels, 0.01 degrees around Munich.
    const MKCoordinateRegion region{{48.117302, 11.516666}, {0.01, 0.01}};
    const double zoom = gtkfe::zoom_for_region(region, 300, 248);
    const double world = 256 * std::pow(2, zoom);
    const double width = world * 0.01 / 360;
    auto y = [](double lat) { return std::log(std::tan(M_PI / 4 + lat * M_PI / 360)); };
    const double height = world * (y(48.122302) - y(48.112302)) / (2 * M_PI);
    // Both spans are shown whole, and one of them fills its side.
    EXPECT_LE(width, 300.001);
    EXPECT_LE(height, 248.001);
    EXPECT_TRUE(std::fabs(width - 300) < 0.01 || std::fabs(height - 248) < 0.01) << width << " x " << height;

    // The whole world at the start is zoom 0; tiny spans stop at 19.
    EXPECT_EQ(gtkfe::zoom_for_region({{0, 0}, {180, 360}}, 300, 248), 0);
    EXPECT_EQ(gtkfe::zoom_for_region({{0, 0}, {1e-7, 1e-7}}, 300, 248), 19);
}

}  // namespace
}  // namespace vgps
