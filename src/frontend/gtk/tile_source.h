// Where the map's tiles come from: a tile server over HTTP(S), with a
// User-Agent naming this application and at most two connections, as the
// OpenStreetMap tile servers' usage policy asks, and a cache on disk that
// keeps each tile a week before asking the server again (with its ETag, so
// an unchanged tile costs no download). Offline, every tile fails at once
// and nothing touches the network or the cache.
#pragma once

#include <shumate/shumate.h>

#include <string>

namespace vgps::gtkfe {

struct TileConfig {
    bool offline = false;
    // "{z}", "{x}" and "{y}" are replaced by the tile's zoom level and
    // column and row.
    std::string urlTemplate = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
    std::string userAgent;
    // The folder of the cache; empty: no cache.
    std::string cacheDir;
    // Whose data the tiles show (shown on the map), and where its terms are.
    std::string attribution = "© OpenStreetMap contributors";
    std::string attributionUri = "https://www.openstreetmap.org/copyright";
};

// Whether a URL template can name tiles: http:// or https://, with {z},
// {x} and {y} each in it.
bool tile_url_template_valid(const std::string& urlTemplate);
// The URL of one tile.
std::string tile_url(const std::string& urlTemplate, int x, int y, int zoom);

// A data source for a raster renderer (transfer full).
ShumateDataSource* tile_source_new(const TileConfig& config);
// Tiles downloaded but not yet in the disk cache.
unsigned tile_source_writes_pending(ShumateDataSource* source);
// The map source the map shows: the tiles of `config` in the usual web
// Mercator pyramid, 256-pixel tiles, zoom levels 0 to 19 (transfer full).
ShumateMapSource* tile_map_source_new(const TileConfig& config);

}  // namespace vgps::gtkfe
