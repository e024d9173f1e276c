#include "frontend/gtk/tile_source.h"

#include <libsoup/soup.h>

namespace vgps::gtkfe {
namespace {

constexpr guint kCacheBytes = 100u * 1000u * 1000u;
constexpr GTimeSpan kFreshFor = 7 * G_TIME_SPAN_DAY;
constexpr int kConnections = 2;
constexpr guint kTimeoutSeconds = 30;

}  // namespace

struct VgpsTileSource {
    ShumateDataSource parent_instance;
    TileConfig* config;
    SoupSession* session;
    ShumateFileCache* cache;
    guint writes;  // tiles on their way to the cache
};

struct VgpsTileSourceClass {
    ShumateDataSourceClass parent_class;
};

G_DEFINE_TYPE(VgpsTileSource, vgps_tile_source, SHUMATE_TYPE_DATA_SOURCE)

namespace {

VgpsTileSource* as_source(gpointer object) { return G_TYPE_CHECK_INSTANCE_CAST(object, vgps_tile_source_get_type(), VgpsTileSource); }

// One tile on its way: what the cache held, and the request.
struct Fetch {
    VgpsTileSource* source;  // a reference
    int x, y, zoom;
    GBytes* cached = nullptr;
    char* etag = nullptr;
    SoupMessage* message = nullptr;
};

// The renderer takes a tile's pixels from this signal; the task's result
// only says that the tile is done.
void deliver(Fetch* fetch, GBytes* bytes) {
    g_signal_emit_by_name(fetch->source, "received-data", fetch->x, fetch->y, fetch->zoom, bytes);
}

void fetch_free(gpointer data) {
    auto* fetch = static_cast<Fetch*>(data);
    g_clear_pointer(&fetch->cached, g_bytes_unref);
    g_free(fetch->etag);
    g_clear_object(&fetch->message);
    g_object_unref(fetch->source);
    delete fetch;
}

// The cached tile when there is one (a server that cannot be reached does
// not take away what is on disk), else the error.
void return_cached_or(GTask* task, GError* error) {
    auto* fetch = static_cast<Fetch*>(g_task_get_task_data(task));
    if (fetch->cached != nullptr) {
        g_clear_error(&error);
        g_task_return_pointer(task, g_bytes_ref(fetch->cached), GDestroyNotify(g_bytes_unref));
    } else {
        g_task_return_error(task, error);
    }
}

void on_stored(GObject* cache, GAsyncResult* result, gpointer data) {
    shumate_file_cache_store_tile_finish(SHUMATE_FILE_CACHE(cache), result, nullptr);
    VgpsTileSource* self = as_source(data);
    --self->writes;
    g_object_unref(self);
}

void on_downloaded(GObject* session, GAsyncResult* result, gpointer data) {
    GTask* task = G_TASK(data);
    auto* fetch = static_cast<Fetch*>(g_task_get_task_data(task));
    GError* error = nullptr;
    GBytes* bytes = soup_session_send_and_read_finish(SOUP_SESSION(session), result, &error);
    if (bytes == nullptr) {
        return_cached_or(task, error);
        g_object_unref(task);
        return;
    }
    const guint status = soup_message_get_status(fetch->message);
    if (status == SOUP_STATUS_NOT_MODIFIED && fetch->cached != nullptr) {
        shumate_file_cache_mark_up_to_date(fetch->source->cache, fetch->x, fetch->y, fetch->zoom);
        return_cached_or(task, nullptr);
    } else if (!SOUP_STATUS_IS_SUCCESSFUL(status) || g_bytes_get_size(bytes) == 0) {
        return_cached_or(task, g_error_new(G_IO_ERROR, G_IO_ERROR_FAILED, "tile %d/%d/%d: HTTP %u", fetch->zoom,
                                           fetch->x, fetch->y, status));
    } else {
        deliver(fetch, bytes);
        if (fetch->source->cache != nullptr) {
            const char* etag = soup_message_headers_get_one(soup_message_get_response_headers(fetch->message), "ETag");
            ++fetch->source->writes;
            shumate_file_cache_store_tile_async(fetch->source->cache, fetch->x, fetch->y, fetch->zoom, bytes, etag,
                                                nullptr, on_stored, g_object_ref(fetch->source));
        }
        g_task_return_pointer(task, g_bytes_ref(bytes), GDestroyNotify(g_bytes_unref));
    }
    g_bytes_unref(bytes);
    g_object_unref(task);
}

void download(GTask* task) {
    auto* fetch = static_cast<Fetch*>(g_task_get_task_data(task));
    VgpsTileSource* self = fetch->source;
    const std::string url = tile_url(self->config->urlTemplate, fetch->x, fetch->y, fetch->zoom);
    fetch->message = soup_message_new(SOUP_METHOD_GET, url.c_str());
    if (fetch->message == nullptr) {
        return_cached_or(task, g_error_new(G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT, "bad tile URL %s", url.c_str()));
        g_object_unref(task);
        return;
    }
    if (fetch->etag != nullptr) {
        soup_message_headers_append(soup_message_get_request_headers(fetch->message), "If-None-Match", fetch->etag);
    }
    if (self->session == nullptr) {
        self->session = soup_session_new_with_options(
            "user-agent", self->config->userAgent.c_str(), "max-conns", kConnections, "max-conns-per-host",
            kConnections, "timeout", kTimeoutSeconds, nullptr);
    }
    soup_session_send_and_read_async(self->session, fetch->message, G_PRIORITY_DEFAULT, g_task_get_cancellable(task),
                                     on_downloaded, task);
}

void on_cache_read(GObject* cache, GAsyncResult* result, gpointer data) {
    GTask* task = G_TASK(data);
    auto* fetch = static_cast<Fetch*>(g_task_get_task_data(task));
    GDateTime* modified = nullptr;
    fetch->cached = shumate_file_cache_get_tile_finish(SHUMATE_FILE_CACHE(cache), &fetch->etag, &modified, result,
                                                       nullptr);
    bool fresh = false;
    if (fetch->cached != nullptr && modified != nullptr) {
        GDateTime* now = g_date_time_new_now_utc();
        fresh = g_date_time_difference(now, modified) < kFreshFor;
        g_date_time_unref(now);
    }
    if (modified != nullptr) g_date_time_unref(modified);
    // What the disk has is shown at once, even while a newer tile is asked
    // for.
    if (fetch->cached != nullptr) deliver(fetch, fetch->cached);
    if (fresh) {
        g_task_return_pointer(task, g_bytes_ref(fetch->cached), GDestroyNotify(g_bytes_unref));
        g_object_unref(task);
        return;
    }
    download(task);
}

void get_tile_data_async(ShumateDataSource* data_source, int x, int y, int zoom, GCancellable* cancellable,
                         GAsyncReadyCallback callback, gpointer user_data) {
    VgpsTileSource* self = as_source(data_source);
    GTask* task = g_task_new(self, cancellable, callback, user_data);
    if (self->config->offline) {
        g_task_return_new_error(task, G_IO_ERROR, G_IO_ERROR_NETWORK_UNREACHABLE, "offline: no tiles");
        g_object_unref(task);
        return;
    }
    auto* fetch = new Fetch{self, x, y, zoom};
    g_object_ref(self);
    g_task_set_task_data(task, fetch, fetch_free);
    if (self->cache != nullptr) {
        shumate_file_cache_get_tile_async(self->cache, x, y, zoom, cancellable, on_cache_read, task);
    } else {
        download(task);
    }
}

GBytes* get_tile_data_finish(ShumateDataSource* /*self*/, GAsyncResult* result, GError** error) {
    return static_cast<GBytes*>(g_task_propagate_pointer(G_TASK(result), error));
}

void tile_source_finalize(GObject* object) {
    VgpsTileSource* self = as_source(object);
    g_clear_object(&self->session);
    g_clear_object(&self->cache);
    delete self->config;
    G_OBJECT_CLASS(vgps_tile_source_parent_class)->finalize(object);
}

}  // namespace

static void vgps_tile_source_class_init(VgpsTileSourceClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = tile_source_finalize;
    SHUMATE_DATA_SOURCE_CLASS(klass)->get_tile_data_async = get_tile_data_async;
    SHUMATE_DATA_SOURCE_CLASS(klass)->get_tile_data_finish = get_tile_data_finish;
}

static void vgps_tile_source_init(VgpsTileSource* self) {
    self->config = nullptr;
    self->session = nullptr;
    self->cache = nullptr;
    self->writes = 0;
}

unsigned tile_source_writes_pending(ShumateDataSource* source) { return as_source(source)->writes; }

bool tile_url_template_valid(const std::string& t) {
    const bool web = t.rfind("http://", 0) == 0 || t.rfind("https://", 0) == 0;
    return web && t.find("{z}") != std::string::npos && t.find("{x}") != std::string::npos &&
           t.find("{y}") != std::string::npos;
}

std::string tile_url(const std::string& urlTemplate, int x, int y, int zoom) {
    std::string out;
    for (size_t i = 0; i < urlTemplate.size();) {
        if (urlTemplate.compare(i, 3, "{z}") == 0) {
            out += std::to_string(zoom);
        } else if (urlTemplate.compare(i, 3, "{x}") == 0) {
            out += std::to_string(x);
        } else if (urlTemplate.compare(i, 3, "{y}") == 0) {
            out += std::to_string(y);
        } else {
            out += urlTemplate[i++];
            continue;
        }
        i += 3;
    }
    return out;
}

ShumateDataSource* tile_source_new(const TileConfig& config) {
    VgpsTileSource* self = as_source(g_object_new(vgps_tile_source_get_type(), nullptr));
    self->config = new TileConfig(config);
    if (!config.offline && !config.cacheDir.empty()) {
        // One cache per tile server, so that another server's tiles are never
        // shown for this one's.
        char* key = g_compute_checksum_for_string(G_CHECKSUM_SHA1, config.urlTemplate.c_str(), -1);
        self->cache = shumate_file_cache_new_full(kCacheBytes, key, config.cacheDir.c_str());
        g_free(key);
    }
    return SHUMATE_DATA_SOURCE(self);
}

ShumateMapSource* tile_map_source_new(const TileConfig& config) {
    ShumateDataSource* data = tile_source_new(config);
    const char* license = config.offline ? nullptr : config.attribution.c_str();
    const char* uri = config.offline ? nullptr : config.attributionUri.c_str();
    ShumateRasterRenderer* renderer = shumate_raster_renderer_new_full(
        "vexod-gps-tiles", "Map", license, uri, 0, 19, 256, SHUMATE_MAP_PROJECTION_MERCATOR, data);
    g_object_unref(data);
    return SHUMATE_MAP_SOURCE(renderer);
}

}  // namespace vgps::gtkfe
