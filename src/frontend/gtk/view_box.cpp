#include "frontend/gtk/view_box.h"

#include <algorithm>
#include <cmath>

namespace vgps::gtkfe {
namespace {

struct Placement {
    CGRect rect;
    Fit fit = Fit::Fill;
};

GQuark placement_quark() {
    static const GQuark quark = g_quark_from_static_string("vgps-placement");
    return quark;
}

GQuark view_id_quark() {
    static const GQuark quark = g_quark_from_static_string("vgps-view-id");
    return quark;
}

}  // namespace

struct VgpsViewBox {
    GtkWidget parent_instance;
    ViewBoxLook* look;
};

struct VgpsViewBoxClass {
    GtkWidgetClass parent_class;
};

G_DEFINE_TYPE(VgpsViewBox, vgps_view_box, GTK_TYPE_WIDGET)

namespace {

VgpsViewBox* as_box(GtkWidget* widget) { return G_TYPE_CHECK_INSTANCE_CAST(widget, vgps_view_box_get_type(), VgpsViewBox); }

void box_measure(GtkWidget* widget, GtkOrientation orientation, int /*for_size*/, int* minimum, int* natural,
                 int* minimum_baseline, int* natural_baseline) {
    const CGSize size = as_box(widget)->look->natural;
    *minimum = 0;
    *natural = int(orientation == GTK_ORIENTATION_HORIZONTAL ? size.width : size.height);
    *minimum_baseline = -1;
    *natural_baseline = -1;
}

int px(double points, double scale) { return int(std::lround(points * scale)); }

void box_size_allocate(GtkWidget* widget, int width, int height, int /*baseline*/) {
    const ViewBoxLook& look = *as_box(widget)->look;
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child != nullptr;
         child = gtk_widget_get_next_sibling(child)) {
        if (!gtk_widget_should_layout(child)) continue;
        auto* placement = static_cast<Placement*>(g_object_get_qdata(G_OBJECT(child), placement_quark()));
        int min_w, nat_w, min_h, nat_h;
        gtk_widget_measure(child, GTK_ORIENTATION_HORIZONTAL, -1, &min_w, &nat_w, nullptr, nullptr);
        gtk_widget_measure(child, GTK_ORIENTATION_VERTICAL, -1, &min_h, &nat_h, nullptr, nullptr);
        GtkAllocation a{0, 0, min_w, min_h};
        if (placement != nullptr) {
            const CGRect r = placement->rect;
            const int x0 = px(r.origin.x - look.boundsOrigin.x, look.scale);
            const int y0 = px(r.origin.y - look.boundsOrigin.y, look.scale);
            const int x1 = px(r.origin.x + r.size.width - look.boundsOrigin.x, look.scale);
            const int y1 = px(r.origin.y + r.size.height - look.boundsOrigin.y, look.scale);
            const int w = std::max(0, x1 - x0), h = std::max(0, y1 - y0);
            int aw = w, ah = h;
            if (placement->fit == Fit::Natural) {
                aw = std::min(w, nat_w);
                ah = std::min(h, nat_h);
            }
            aw = std::max(aw, min_w);
            ah = std::max(ah, min_h);
            // Centred on the rectangle when it has to differ from it.
            a = {x0 + (w - aw) / 2, y0 + (h - ah) / 2, aw, ah};
        }
        gtk_widget_size_allocate(child, &a, -1);
    }
    if (look.allocated) look.allocated(width, height);
}

void append_color(GtkSnapshot* snapshot, const UIColor& c, const graphene_rect_t& rect) {
    const GdkRGBA rgba{float(c.red), float(c.green), float(c.blue), float(c.alpha)};
    gtk_snapshot_append_color(snapshot, &rgba, &rect);
}

void box_snapshot(GtkWidget* widget, GtkSnapshot* snapshot) {
    const ViewBoxLook& look = *as_box(widget)->look;
    const float w = float(gtk_widget_get_width(widget)), h = float(gtk_widget_get_height(widget));
    const graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, w, h);
    GskRoundedRect rounded;
    gsk_rounded_rect_init_from_rect(&rounded, &bounds, float(look.cornerRadius * look.scale));
    const bool round = look.cornerRadius > 0;

    int pushes = 0;
    if (look.clips) {
        if (round) {
            gtk_snapshot_push_rounded_clip(snapshot, &rounded);
        } else {
            gtk_snapshot_push_clip(snapshot, &bounds);
        }
        ++pushes;
    }
    if (look.background && look.background->alpha > 0) {
        if (round && !look.clips) {
            gtk_snapshot_push_rounded_clip(snapshot, &rounded);
            append_color(snapshot, *look.background, bounds);
            gtk_snapshot_pop(snapshot);
        } else {
            append_color(snapshot, *look.background, bounds);
        }
    }
    if (look.painter) look.painter(snapshot, w, h);
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child != nullptr;
         child = gtk_widget_get_next_sibling(child)) {
        gtk_widget_snapshot_child(widget, child, snapshot);
    }
    while (pushes-- > 0) gtk_snapshot_pop(snapshot);
}

void box_dispose(GObject* object) {
    GtkWidget* widget = GTK_WIDGET(object);
    while (GtkWidget* child = gtk_widget_get_first_child(widget)) gtk_widget_unparent(child);
    G_OBJECT_CLASS(vgps_view_box_parent_class)->dispose(object);
}

void box_finalize(GObject* object) {
    delete as_box(GTK_WIDGET(object))->look;
    G_OBJECT_CLASS(vgps_view_box_parent_class)->finalize(object);
}

}  // namespace

static void vgps_view_box_class_init(VgpsViewBoxClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    object_class->dispose = box_dispose;
    object_class->finalize = box_finalize;
    GtkWidgetClass* widget_class = GTK_WIDGET_CLASS(klass);
    widget_class->measure = box_measure;
    widget_class->size_allocate = box_size_allocate;
    widget_class->snapshot = box_snapshot;
    gtk_widget_class_set_css_name(widget_class, "vgps-view");
}

static void vgps_view_box_init(VgpsViewBox* self) { self->look = new ViewBoxLook(); }

GtkWidget* view_box_new(double scale) {
    GtkWidget* widget = GTK_WIDGET(g_object_new(vgps_view_box_get_type(), nullptr));
    as_box(widget)->look->scale = scale;
    return widget;
}

bool is_view_box(GtkWidget* widget) { return G_TYPE_CHECK_INSTANCE_TYPE(widget, vgps_view_box_get_type()); }

ViewBoxLook& view_box_look(GtkWidget* box) { return *as_box(box)->look; }

void view_box_changed(GtkWidget* box, bool relayout) {
    gtk_widget_set_overflow(box, as_box(box)->look->clips ? GTK_OVERFLOW_HIDDEN : GTK_OVERFLOW_VISIBLE);
    if (relayout) gtk_widget_queue_allocate(box);
    gtk_widget_queue_draw(box);
}

void view_box_place(GtkWidget* child, CGRect rect, Fit fit) {
    auto* placement = static_cast<Placement*>(g_object_get_qdata(G_OBJECT(child), placement_quark()));
    if (placement == nullptr) {
        placement = new Placement{rect, fit};
        g_object_set_qdata_full(G_OBJECT(child), placement_quark(), placement,
                                [](gpointer p) { delete static_cast<Placement*>(p); });
    } else {
        if (placement->rect == rect && placement->fit == fit) return;
        placement->rect = rect;
        placement->fit = fit;
    }
    if (GtkWidget* parent = gtk_widget_get_parent(child)) gtk_widget_queue_allocate(parent);
}

std::optional<CGRect> view_box_placement(GtkWidget* child) {
    auto* placement = static_cast<Placement*>(g_object_get_qdata(G_OBJECT(child), placement_quark()));
    if (placement == nullptr) return std::nullopt;
    return placement->rect;
}

void set_widget_view_id(GtkWidget* widget, uint64_t id) {
    auto* stored = new uint64_t(id);
    g_object_set_qdata_full(G_OBJECT(widget), view_id_quark(), stored,
                            [](gpointer p) { delete static_cast<uint64_t*>(p); });
}

uint64_t widget_view_id(GtkWidget* widget) {
    auto* stored = static_cast<uint64_t*>(g_object_get_qdata(G_OBJECT(widget), view_id_quark()));
    return stored != nullptr ? *stored : 0;
}

}  // namespace vgps::gtkfe
