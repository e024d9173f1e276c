#include "frontend/gtk/mirror.h"

#include <algorithm>
#include <cmath>

#include "frontend/gtk/map_view.h"
#include "frontend/gtk/view_box.h"
#include "platform/log.h"
#include "uikit/MKMapView.h"
#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UINavigationBar.h"
#include "uikit/UISwitch.h"
#include "uikit/UIWindow.h"

namespace vgps::gtkfe {
namespace {

// The smallest a label's font shrinks to when it adjusts to its width.
constexpr double kMinimumFitPoints = 7;
// A wheel's step, in points.
constexpr double kWheelStep = 40;

const UIColor kSectionText{0.30, 0.34, 0.42, 1};
const GdkRGBA kGroupFill{1, 1, 1, 1};
const GdkRGBA kGroupBorder{0.66, 0.67, 0.70, 1};
const GdkRGBA kSeparator{0.80, 0.80, 0.82, 1};
const GdkRGBA kHighlight{0.76, 0.85, 0.97, 1};

std::string family_of(const std::string& name) {
    const size_t dash = name.find('-');
    return dash == std::string::npos ? name : name.substr(0, dash);
}

// Font and colour of a toolkit text, for a label of `scale` pixels a point.
PangoAttrList* text_attributes(const UIFont& font, double pixels, const UIColor& color) {
    PangoAttrList* attrs = pango_attr_list_new();
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, family_of(font.name).c_str());
    pango_font_description_set_weight(desc, font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_absolute_size(desc, pixels * PANGO_SCALE);
    pango_attr_list_insert(attrs, pango_attr_font_desc_new(desc));
    pango_font_description_free(desc);
    auto channel = [](double v) { return guint16(std::lround(std::clamp(v, 0.0, 1.0) * 65535)); };
    pango_attr_list_insert(attrs, pango_attr_foreground_new(channel(color.red), channel(color.green), channel(color.blue)));
    if (color.alpha < 1) pango_attr_list_insert(attrs, pango_attr_foreground_alpha_new(channel(color.alpha)));
    return attrs;
}

void set_label_text(GtkWidget* label, const std::string& text) {
    if (text != gtk_label_get_text(GTK_LABEL(label))) gtk_label_set_text(GTK_LABEL(label), text.c_str());
}

// Sets or removes a style class, leaving the style alone when it already is
// as asked.
void set_css_class(GtkWidget* widget, const char* name, bool on) {
    if (bool(gtk_widget_has_css_class(widget, name)) == on) return;
    if (on) {
        gtk_widget_add_css_class(widget, name);
    } else {
        gtk_widget_remove_css_class(widget, name);
    }
}

float xalign_of(int alignment) {
    return alignment == UITextAlignmentCenter ? 0.5f : alignment == UITextAlignmentRight ? 1.0f : 0.0f;
}

JSON rounded(double v) { return std::round(v * 1000) / 1000; }

void append_rect(GtkSnapshot* snapshot, const GdkRGBA& color, double x, double y, double w, double h) {
    const graphene_rect_t r = GRAPHENE_RECT_INIT(float(x), float(y), float(w), float(h));
    gtk_snapshot_append_color(snapshot, &color, &r);
}

void stroke_chevron(cairo_t* cr, double cx, double cy, double size) {
    cairo_move_to(cr, cx - size * 0.35, cy - size * 0.6);
    cairo_line_to(cr, cx + size * 0.3, cy);
    cairo_line_to(cr, cx - size * 0.35, cy + size * 0.6);
    cairo_stroke(cr);
}

}  // namespace

Mirror::Node::~Node() = default;

Mirror::Mirror(UIApplication* app, GtkWidget* stage, double scale, TileConfig tiles)
    : app_(app), stage_(stage), scale_(scale), tiles_(std::move(tiles)) {}

Mirror::~Mirror() {
    if (window_ != nullptr) {
        if (Node* root = find(window_->viewId())) removeBox(root->box);
    }
    for (auto& [path, texture] : textures_) g_object_unref(texture);
}

std::shared_ptr<UIView> Mirror::lock(const Node& node) const {
    if (node.root != nullptr) {
        // The window is alive while it is the application's key window.
        if (app_->keyWindow() != node.root) return nullptr;
        return std::shared_ptr<UIView>(std::shared_ptr<UIView>(), node.root);
    }
    return node.view.lock();
}

Mirror::Node* Mirror::find(UIView::Id id) const {
    auto it = nodes_.find(id);
    return it == nodes_.end() ? nullptr : it->second.get();
}

GtkWidget* Mirror::boxFor(UIView::Id id) const {
    Node* node = find(id);
    return node != nullptr ? node->box : nullptr;
}

GtkWidget* Mirror::contentFor(UIView::Id id) const {
    Node* node = find(id);
    return node != nullptr ? node->content : nullptr;
}

void Mirror::rebuild() {
    if (window_ != nullptr) {
        if (Node* root = find(window_->viewId())) removeBox(root->box);
    }
    nodes_.clear();
    pending_.clear();
    window_ = app_->keyWindow();
    if (window_ == nullptr) return;
    build(nullptr, window_, stage_);
}

void Mirror::apply(const UIDisplayChanges& changes) {
    if (app_->keyWindow() != window_) {
        rebuild();
        return;
    }
    for (UIView::Id id : changes.destroyed) {
        if (Node* node = find(id)) removeBox(node->box);
    }
    refreshed_.clear();
    for (UIView::Id id : changes.views) {
        Node* node = find(id);
        if (node == nullptr) continue;
        if (auto view = lock(*node)) refresh(*node, *view);
    }
    refreshed_.clear();
}

void Mirror::refresh(Node& node, UIView& view) {
    if (!refreshed_.insert(node.id).second) return;
    update(node, view);
    syncChildren(node, view);
}

bool Mirror::refreshPending() {
    if (pending_.empty()) return false;
    std::set<UIView::Id> ids = std::move(pending_);
    pending_.clear();
    for (UIView::Id id : ids) {
        Node* node = find(id);
        if (node == nullptr) continue;
        if (auto view = lock(*node)) update(*node, *view);
    }
    return true;
}

Mirror::Node* Mirror::build(const std::shared_ptr<UIView>& shared, UIView* root, GtkWidget* parent) {
    UIView& view = shared ? *shared : *root;
    auto owned = std::make_unique<Node>();
    Node& node = *owned;
    node.id = view.viewId();
    node.view = shared;
    node.root = root;
    node.box = view_box_new(scale_);
    set_widget_view_id(node.box, node.id);
    gtk_widget_insert_before(node.box, parent, nullptr);
    nodes_[node.id] = std::move(owned);
    refreshed_.insert(node.id);
    makeContent(node, view);
    update(node, view);
    syncChildren(node, view);
    return &node;
}

void Mirror::makeContent(Node& node, UIView& view) {
    const UIView::Id id = node.id;
    GtkWidget* content = nullptr;
    if (dynamic_cast<UIWindow*>(&view) != nullptr) {
        node.kind = Kind::Window;
    } else if (dynamic_cast<UINavigationBar*>(&view) != nullptr) {
        // The bar's sheen: lighter at the top, a dark line at the bottom.
        view_box_look(node.box).painter = [](GtkSnapshot* s, double w, double h) {
            const graphene_rect_t r = GRAPHENE_RECT_INIT(0, 0, float(w), float(h));
            const graphene_point_t top = GRAPHENE_POINT_INIT(0, 0), bottom = GRAPHENE_POINT_INIT(0, float(h));
            const GskColorStop stops[2] = {{0, {1, 1, 1, 0.3f}}, {1, {1, 1, 1, 0}}};
            gtk_snapshot_append_linear_gradient(s, &r, &top, &bottom, stops, 2);
            append_rect(s, GdkRGBA{0, 0, 0, 0.45f}, 0, h - 1, w, 1);
        };
    } else if (dynamic_cast<MKMapView*>(&view) != nullptr) {
        node.kind = Kind::Map;
        node.map = std::make_unique<MapContent>(tiles_);
        content = node.map->widget();
    } else if (dynamic_cast<UITableView*>(&view) != nullptr) {
        node.kind = Kind::Table;
        view_box_look(node.box).painter = [this, id](GtkSnapshot* s, double, double) { paintTable(id, s); };
    } else if (dynamic_cast<UIScrollView*>(&view) != nullptr) {
        node.kind = Kind::Scroll;
    } else if (dynamic_cast<UITableViewCell*>(&view) != nullptr) {
        node.kind = Kind::Cell;
        view_box_look(node.box).painter = [this, id](GtkSnapshot* s, double w, double h) { paintCell(id, s, w, h); };
        // Rows take the keyboard's focus; Enter or space taps them.
        gtk_widget_set_focusable(node.box, TRUE);
        GtkEventController* keys = gtk_event_controller_key_new();
        g_signal_connect(keys, "key-pressed", G_CALLBACK(+[](GtkEventControllerKey* c, guint key, guint, GdkModifierType,
                                                             gpointer self) -> gboolean {
                             if (key != GDK_KEY_Return && key != GDK_KEY_KP_Enter && key != GDK_KEY_space) return FALSE;
                             GtkWidget* box = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(c));
                             static_cast<Mirror*>(self)->buttonActivated(widget_view_id(box));
                             return TRUE;
                         }),
                         this);
        gtk_widget_add_controller(node.box, keys);
    } else if (dynamic_cast<UILabel*>(&view) != nullptr) {
        node.kind = Kind::Label;
        content = gtk_label_new(nullptr);
        gtk_label_set_ellipsize(GTK_LABEL(content), PANGO_ELLIPSIZE_END);
        gtk_label_set_single_line_mode(GTK_LABEL(content), TRUE);
    } else if (dynamic_cast<UISwitch*>(&view) != nullptr) {
        node.kind = Kind::Switch;
        content = gtk_switch_new();
        gtk_widget_set_valign(content, GTK_ALIGN_CENTER);
        node.switchHandler = g_signal_connect(
            content, "state-set", G_CALLBACK(+[](GtkSwitch* sw, gboolean, gpointer self) -> gboolean {
                static_cast<Mirror*>(self)->switchToggled(widget_view_id(GTK_WIDGET(sw)));
                return TRUE;  // the toolkit's answer sets the state
            }),
            this);
    } else if (dynamic_cast<UIActivityIndicatorView*>(&view) != nullptr) {
        node.kind = Kind::Spinner;
        content = gtk_spinner_new();
    } else if (dynamic_cast<UIButton*>(&view) != nullptr) {
        node.kind = Kind::Button;
        content = gtk_button_new();
        gtk_button_set_has_frame(GTK_BUTTON(content), FALSE);
        gtk_widget_add_css_class(content, "vgps-button");
        if (dynamic_cast<UINavigationBar*>(view.superview()) != nullptr) {
            gtk_widget_add_css_class(content, "vgps-bar-button");
        }
        GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
        gtk_widget_set_halign(row, GTK_ALIGN_CENTER);
        GtkWidget* picture = gtk_picture_new();
        gtk_picture_set_can_shrink(GTK_PICTURE(picture), TRUE);
        GtkWidget* title = gtk_label_new(nullptr);
        gtk_label_set_ellipsize(GTK_LABEL(title), PANGO_ELLIPSIZE_END);
        gtk_box_append(GTK_BOX(row), picture);
        gtk_box_append(GTK_BOX(row), title);
        gtk_button_set_child(GTK_BUTTON(content), row);
        // Pointer taps reach the toolkit through the window's own gesture;
        // this is the keyboard's way.
        g_signal_connect(content, "clicked", G_CALLBACK(+[](GtkButton* button, gpointer self) {
                             static_cast<Mirror*>(self)->buttonActivated(widget_view_id(GTK_WIDGET(button)));
                         }),
                         this);
    } else if (dynamic_cast<UIImageView*>(&view) != nullptr) {
        node.kind = Kind::Image;
        content = gtk_picture_new();
        gtk_picture_set_can_shrink(GTK_PICTURE(content), TRUE);
        gtk_picture_set_content_fit(GTK_PICTURE(content), GTK_CONTENT_FIT_FILL);
    }
    if (node.kind == Kind::Table || node.kind == Kind::Scroll) {
        GtkEventController* scroll = gtk_event_controller_scroll_new(GTK_EVENT_CONTROLLER_SCROLL_BOTH_AXES);
        g_signal_connect(scroll, "scroll", G_CALLBACK(+[](GtkEventControllerScroll* c, double dx, double dy,
                                                           gpointer self) -> gboolean {
                             GtkWidget* box = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(c));
                             const bool lines = gtk_event_controller_scroll_get_unit(c) == GDK_SCROLL_UNIT_WHEEL;
                             static_cast<Mirror*>(self)->scrolled(widget_view_id(box), dx, dy, lines);
                             return TRUE;
                         }),
                         this);
        gtk_widget_add_controller(node.box, scroll);
    }
    if (content != nullptr) {
        set_widget_view_id(content, id);
        gtk_widget_insert_after(content, node.box, nullptr);
        node.content = content;
        node.decor.push_back(content);
    }
}

void Mirror::update(Node& node, UIView& view) {
    // Only what differs from the widget is handed to GTK: a view is looked
    // at again whenever its superview changed.
    ViewBoxLook& look = view_box_look(node.box);
    bool restyled = false, moved = false;
    auto assign = [&restyled](auto& field, const auto& value) {
        if (field == value) return false;
        field = value;
        restyled = true;
        return true;
    };
    assign(look.background, view.backgroundColor());
    assign(look.cornerRadius, view.layer()->cornerRadius());
    assign(look.clips, view.clipsToBounds());
    moved = assign(look.boundsOrigin, view.bounds().origin);
    if (restyled) view_box_changed(node.box, moved);
    gtk_widget_set_visible(node.box, !view.isHidden());
    gtk_widget_set_opacity(node.box, view.alpha());
    view_box_place(node.box, view.frame());
    const CGRect bounds = view.bounds();

    switch (node.kind) {
        case Kind::Label:
            updateLabel(node, static_cast<UILabel&>(view));
            break;
        case Kind::Switch: {
            auto& sw = static_cast<UISwitch&>(view);
            g_signal_handler_block(node.content, node.switchHandler);
            gtk_switch_set_active(GTK_SWITCH(node.content), sw.isOn());
            gtk_switch_set_state(GTK_SWITCH(node.content), sw.isOn());
            g_signal_handler_unblock(node.content, node.switchHandler);
            gtk_widget_set_sensitive(node.content, sw.isEnabled());
            set_css_class(node.content, "vgps-alternate", sw.alternateColors());
            view_box_place(node.content, bounds, Fit::Natural);
            break;
        }
        case Kind::Spinner: {
            auto& spinner = static_cast<UIActivityIndicatorView&>(view);
            gtk_spinner_set_spinning(GTK_SPINNER(node.content), spinner.isAnimating());
            const bool gray = spinner.activityIndicatorViewStyle() == UIActivityIndicatorViewStyleGray;
            set_css_class(node.content, "vgps-gray", gray);
            set_css_class(node.content, "vgps-white", !gray);
            const int side = int(std::lround(std::min(bounds.size.width, bounds.size.height) * scale_));
            gtk_widget_set_size_request(node.content, side, side);
            view_box_place(node.content, bounds, Fit::Natural);
            break;
        }
        case Kind::Button:
            updateButton(node, static_cast<UIButton&>(view));
            view_box_place(node.content, bounds);
            break;
        case Kind::Image: {
            const auto& image = static_cast<UIImageView&>(view).image();
            GdkTexture* t = image ? texture(image->path()) : nullptr;
            if (gtk_picture_get_paintable(GTK_PICTURE(node.content)) != GDK_PAINTABLE(t)) {
                gtk_picture_set_paintable(GTK_PICTURE(node.content), t != nullptr ? GDK_PAINTABLE(t) : nullptr);
            }
            view_box_place(node.content, bounds);
            break;
        }
        case Kind::Map:
            node.map->update(static_cast<MKMapView&>(view), bounds.size.width * scale_, bounds.size.height * scale_);
            view_box_place(node.content, bounds);
            break;
        case Kind::Table:
            updateTable(node, static_cast<UITableView&>(view));
            break;
        case Kind::Cell: {
            auto& cell = static_cast<UITableViewCell&>(view);
            const bool highlighted = cell.isSelected() || cell.isHighlighted();
            if (node.accessory != cell.accessoryType() || !(node.accessoryFrame == cell.accessoryFrame()) ||
                node.highlighted != highlighted) {
                node.accessory = cell.accessoryType();
                node.accessoryFrame = cell.accessoryFrame();
                node.highlighted = highlighted;
                gtk_widget_queue_draw(node.box);
            }
            break;
        }
        case Kind::Window:
        case Kind::Plain:
        case Kind::Scroll:
            break;
    }
}

void Mirror::updateLabel(Node& node, const UILabel& view) {
    GtkWidget* label = node.content;
    view_box_place(label, view.bounds());
    LabelLook now{view.text().value_or(""), view.font(), view.textColor(), view.textAlignment(),
                  view.adjustsFontSizeToFitWidth(), view.bounds().size.width};
    if (node.label && *node.label == now) return;
    set_label_text(label, now.text);
    double pixels = now.font.pointSize * scale_;
    if (now.adjusts && !now.text.empty()) {
        // Shrinks the font until the text fits the width, as far as the
        // smallest size allows.
        PangoAttrList* attrs = text_attributes(now.font, pixels, now.color);
        PangoLayout* layout = gtk_widget_create_pango_layout(label, now.text.c_str());
        pango_layout_set_attributes(layout, attrs);
        int width = 0, height = 0;
        pango_layout_get_pixel_size(layout, &width, &height);
        g_object_unref(layout);
        pango_attr_list_unref(attrs);
        const double available = now.width * scale_;
        if (width > available && width > 0) {
            pixels = std::max(kMinimumFitPoints * scale_, std::floor(pixels * available / width));
        }
    }
    PangoAttrList* attrs = text_attributes(now.font, pixels, now.color);
    gtk_label_set_attributes(GTK_LABEL(label), attrs);
    pango_attr_list_unref(attrs);
    gtk_label_set_xalign(GTK_LABEL(label), xalign_of(now.alignment));
    node.label = std::move(now);
}

void Mirror::updateButton(Node& node, const UIButton& view) {
    ButtonLook now{view.currentImage().get(), view.currentTitle(), view.titleFont(), view.buttonType(),
                   view.isEnabled(), view.isHighlighted(), view.bounds().size};
    if (node.button && *node.button == now) return;
    node.button = now;
    GtkWidget* row = gtk_button_get_child(GTK_BUTTON(node.content));
    GtkWidget* picture = gtk_widget_get_first_child(row);
    GtkWidget* title = gtk_widget_get_next_sibling(picture);
    const auto image = view.currentImage();
    GdkTexture* t = image ? texture(image->path()) : nullptr;
    if (gtk_picture_get_paintable(GTK_PICTURE(picture)) != GDK_PAINTABLE(t)) {
        gtk_picture_set_paintable(GTK_PICTURE(picture), t != nullptr ? GDK_PAINTABLE(t) : nullptr);
    }
    gtk_widget_set_visible(picture, t != nullptr);
    if (t != nullptr) {
        // The image at its own size, or smaller to fit the button.
        const CGSize size = image->size();
        const CGRect b = view.bounds();
        const double fit = std::min({1.0, b.size.width / std::max(size.width, 1.0), b.size.height / std::max(size.height, 1.0)});
        gtk_widget_set_size_request(picture, int(std::lround(size.width * fit * scale_)),
                                    int(std::lround(size.height * fit * scale_)));
    }
    const auto text = view.currentTitle();
    gtk_widget_set_visible(title, text.has_value());
    set_label_text(title, text.value_or(""));
    const bool bar = gtk_widget_has_css_class(node.content, "vgps-bar-button");
    const UIColor color = bar || view.buttonType() == UIButtonTypeCustom ? UIColor::whiteColor()
                                                                         : UIColor{0.2, 0.31, 0.52, 1};
    PangoAttrList* attrs = text_attributes(view.titleFont(), view.titleFont().pointSize * scale_, color);
    gtk_label_set_attributes(GTK_LABEL(title), attrs);
    pango_attr_list_unref(attrs);
    gtk_widget_set_sensitive(node.content, view.isEnabled());
    set_css_class(node.content, "vgps-highlighted", view.isHighlighted());
}

void Mirror::updateTable(Node& node, UITableView& table) {
    const bool grouped = table.style() == UITableViewStyleGrouped;
    const auto layouts = table.sectionLayouts();
    std::vector<Section> sections;
    for (size_t s = 0; s < layouts.size(); ++s) {
        const UITableViewSectionLayout& l = layouts[s];
        Section section{l.header, l.footer, l.headerFrame, l.groupFrame, l.footerFrame, {}};
        for (int row = 1; row < l.rows; ++row) {
            section.separators.push_back(table.rectForRowAtIndexPath({int(s), row}).origin.y);
        }
        sections.push_back(std::move(section));
    }
    if (grouped == node.grouped && sections == node.sections) return;
    node.grouped = grouped;
    node.sections = std::move(sections);
    gtk_widget_queue_draw(node.box);
    // The section texts: two labels a section, made as sections come.
    while (node.decor.size() < 2 * node.sections.size()) {
        const bool header = node.decor.size() % 2 == 0;
        GtkWidget* label = gtk_label_new(nullptr);
        gtk_widget_add_css_class(label, header ? "vgps-section-header" : "vgps-section-footer");
        gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
        if (!header) {
            gtk_label_set_wrap(GTK_LABEL(label), TRUE);
            gtk_label_set_lines(GTK_LABEL(label), 2);
            gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
        }
        const UIFont font = header ? UIFont::boldSystemFontOfSize(17) : UIFont::systemFontOfSize(15);
        PangoAttrList* attrs = text_attributes(font, font.pointSize * scale_, kSectionText);
        gtk_label_set_attributes(GTK_LABEL(label), attrs);
        pango_attr_list_unref(attrs);
        GtkWidget* previous = node.decor.empty() ? nullptr : node.decor.back();
        gtk_widget_insert_after(label, node.box, previous);
        node.decor.push_back(label);
    }
    while (node.decor.size() > 2 * node.sections.size()) {
        gtk_widget_unparent(node.decor.back());
        node.decor.pop_back();
    }
    for (size_t s = 0; s < node.sections.size(); ++s) {
        const Section& section = node.sections[s];
        for (int part = 0; part < 2; ++part) {
            GtkWidget* label = node.decor[2 * s + size_t(part)];
            const auto& text = part == 0 ? section.header : section.footer;
            CGRect frame = part == 0 ? section.headerFrame : section.footerFrame;
            gtk_widget_set_visible(label, text.has_value());
            if (!text) continue;
            set_label_text(label, *text);
            if (part == 0) {
                // The header's text stands on the group, set in from its edge.
                gtk_label_set_xalign(GTK_LABEL(label), 0);
                gtk_label_set_yalign(GTK_LABEL(label), 0.75f);
                frame = CGRectInset(frame, node.grouped ? 10 : 6, 0);
            } else {
                gtk_label_set_xalign(GTK_LABEL(label), 0.5f);
            }
            view_box_place(label, frame);
        }
    }
}

void Mirror::paintTable(UIView::Id id, GtkSnapshot* snapshot) {
    Node* node = find(id);
    if (node == nullptr) return;
    const ViewBoxLook& look = view_box_look(node->box);
    const double s = scale_, ox = look.boundsOrigin.x, oy = look.boundsOrigin.y;
    const double width = gtk_widget_get_width(node->box);
    for (const Section& section : node->sections) {
        const CGRect g = section.groupFrame;
        if (CGRectIsEmpty(g)) continue;
        const graphene_rect_t r = GRAPHENE_RECT_INIT(float((g.origin.x - ox) * s), float((g.origin.y - oy) * s),
                                                     float(g.size.width * s), float(g.size.height * s));
        if (node->grouped) {
            GskRoundedRect outline;
            gsk_rounded_rect_init_from_rect(&outline, &r, float(10 * s));
            gtk_snapshot_push_rounded_clip(snapshot, &outline);
            gtk_snapshot_append_color(snapshot, &kGroupFill, &r);
            for (double y : section.separators) {
                append_rect(snapshot, kSeparator, r.origin.x, (y - oy) * s, r.size.width, 1);
            }
            gtk_snapshot_pop(snapshot);
            const float widths[4] = {1, 1, 1, 1};
            const GdkRGBA colors[4] = {kGroupBorder, kGroupBorder, kGroupBorder, kGroupBorder};
            gtk_snapshot_append_border(snapshot, &outline, widths, colors);
        } else {
            for (double y : section.separators) append_rect(snapshot, kSeparator, 0, (y - oy) * s, width, 1);
            if (!CGRectIsEmpty(section.headerFrame)) {
                const CGRect h = section.headerFrame;
                append_rect(snapshot, GdkRGBA{0.62f, 0.67f, 0.72f, 1}, (h.origin.x - ox) * s, (h.origin.y - oy) * s,
                            h.size.width * s, h.size.height * s);
            }
        }
    }
}

void Mirror::paintCell(UIView::Id id, GtkSnapshot* snapshot, double width, double height) {
    Node* node = find(id);
    if (node == nullptr) return;
    if (node->highlighted) append_rect(snapshot, kHighlight, 0, 0, width, height);
    if (gtk_widget_has_visible_focus(node->box)) {
        const graphene_rect_t r = GRAPHENE_RECT_INIT(1, 1, float(width - 2), float(height - 2));
        GskRoundedRect outline;
        gsk_rounded_rect_init_from_rect(&outline, &r, 4);
        const float widths[4] = {2, 2, 2, 2};
        const GdkRGBA c{0.21f, 0.52f, 0.89f, 1};
        const GdkRGBA colors[4] = {c, c, c, c};
        gtk_snapshot_append_border(snapshot, &outline, widths, colors);
    }
    if (node->accessory == UITableViewCellAccessoryNone || CGRectIsEmpty(node->accessoryFrame)) return;
    const double s = scale_;
    const CGRect a = node->accessoryFrame;
    const graphene_rect_t area = GRAPHENE_RECT_INIT(float(a.origin.x * s), float(a.origin.y * s),
                                                    float(a.size.width * s), float(a.size.height * s));
    cairo_t* cr = gtk_snapshot_append_cairo(snapshot, &area);
    const double cx = (CGRectGetMidX(a) - 2) * s, cy = CGRectGetMidY(a) * s;
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    switch (node->accessory) {
        case UITableViewCellAccessoryCheckmark:
            cairo_set_source_rgb(cr, 0.2, 0.31, 0.52);
            cairo_set_line_width(cr, 2.6 * s);
            cairo_move_to(cr, cx - 6 * s, cy);
            cairo_line_to(cr, cx - 1.5 * s, cy + 5 * s);
            cairo_line_to(cr, cx + 7 * s, cy - 7 * s);
            cairo_stroke(cr);
            break;
        case UITableViewCellAccessoryDetailDisclosureButton: {
            const double r = 11 * s;
            cairo_pattern_t* fill = cairo_pattern_create_linear(0, cy - r, 0, cy + r);
            cairo_pattern_add_color_stop_rgb(fill, 0, 0.36, 0.58, 0.96);
            cairo_pattern_add_color_stop_rgb(fill, 1, 0.12, 0.36, 0.85);
            cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
            cairo_set_source(cr, fill);
            cairo_fill_preserve(cr);
            cairo_pattern_destroy(fill);
            cairo_set_source_rgb(cr, 1, 1, 1);
            cairo_set_line_width(cr, 2 * s);
            cairo_stroke(cr);
            cairo_set_line_width(cr, 2.6 * s);
            stroke_chevron(cr, cx + 0.5 * s, cy, 8 * s);
            break;
        }
        default:
            cairo_set_source_rgb(cr, 0.5, 0.5, 0.52);
            cairo_set_line_width(cr, 2.6 * s);
            stroke_chevron(cr, cx, cy, 9 * s);
            break;
    }
    cairo_destroy(cr);
}

void Mirror::syncChildren(Node& node, UIView& view) {
    // The subviews' boxes, in the subviews' order, after the box's own
    // widgets; boxes of views that left go, moved ones come over.
    std::set<UIView::Id> wanted;
    std::vector<GtkWidget*> boxes;
    for (const auto& sub : view.subviews()) {
        wanted.insert(sub->viewId());
        Node* child = find(sub->viewId());
        if (child == nullptr) {
            child = build(sub, nullptr, node.box);
        } else {
            if (gtk_widget_get_parent(child->box) != node.box) {
                g_object_ref(child->box);
                gtk_widget_unparent(child->box);
                gtk_widget_insert_before(child->box, node.box, nullptr);
                g_object_unref(child->box);
            }
            // A view taken out and put back (or changed while out of the
            // window) tells nobody: the subviews of a changed view are
            // looked at again, down to the leaves.
            refresh(*child, *sub);
        }
        boxes.push_back(child->box);
    }
    std::vector<GtkWidget*> gone;
    for (GtkWidget* w = gtk_widget_get_first_child(node.box); w != nullptr; w = gtk_widget_get_next_sibling(w)) {
        const UIView::Id id = widget_view_id(w);
        if (is_view_box(w) && id != 0 && wanted.count(id) == 0) gone.push_back(w);
    }
    for (GtkWidget* w : gone) removeBox(w);
    GtkWidget* previous = node.decor.empty() ? nullptr : node.decor.back();
    for (GtkWidget* box : boxes) {
        if (gtk_widget_get_prev_sibling(box) != previous) gtk_widget_insert_after(box, node.box, previous);
        previous = box;
    }
}

void Mirror::forget(GtkWidget* box) {
    for (GtkWidget* w = gtk_widget_get_first_child(box); w != nullptr; w = gtk_widget_get_next_sibling(w)) {
        if (is_view_box(w)) forget(w);
    }
    const UIView::Id id = widget_view_id(box);
    auto it = nodes_.find(id);
    if (it != nodes_.end() && it->second->box == box) {
        // The painters may still be asked once: they find no node.
        view_box_look(box).painter = nullptr;
        nodes_.erase(it);
    }
}

void Mirror::removeBox(GtkWidget* box) {
    g_object_ref(box);
    forget(box);
    if (gtk_widget_get_parent(box) != nullptr) gtk_widget_unparent(box);
    g_object_unref(box);
}

GdkTexture* Mirror::texture(const std::string& path) {
    auto it = textures_.find(path);
    if (it != textures_.end()) return it->second;
    GError* error = nullptr;
    GdkTexture* t = gdk_texture_new_from_filename(path.c_str(), &error);
    if (t == nullptr) {
        log_error("<%s> %s: %s", "-[GtkFrontEnd texture]", path.c_str(), error->message);
        g_error_free(error);
    }
    textures_[path] = t;  // a failure is not tried again
    return t;
}

void Mirror::switchToggled(UIView::Id id) {
    Node* node = find(id);
    auto view = node != nullptr ? lock(*node) : nullptr;
    // A finger on the switch: the toolkit toggles it and tells the screen;
    // the switch then shows what the toolkit says, also when it said no.
    if (view) app_->tapView(view.get());
    refreshSoon(id);
}

void Mirror::buttonActivated(UIView::Id id) {
    Node* node = find(id);
    auto view = node != nullptr ? lock(*node) : nullptr;
    if (view) app_->tapView(view.get());
}

void Mirror::scrolled(UIView::Id id, double dx, double dy, bool lines) {
    Node* node = find(id);
    auto view = node != nullptr ? lock(*node) : nullptr;
    auto* scroll = dynamic_cast<UIScrollView*>(view.get());
    if (scroll == nullptr) return;
    const double step = lines ? kWheelStep : 1 / scale_;
    scroll->scrollBy({dx * step, dy * step});
}

JSON Mirror::dump() const {
    JSON widgets = JSON::array();
    if (window_ != nullptr) {
        if (Node* root = find(window_->viewId())) dumpBox(root->box, widgets);
    }
    return widgets;
}

void Mirror::dumpBox(GtkWidget* box, JSON& out) const {
    Node* node = find(widget_view_id(box));
    if (node == nullptr) return;
    auto view = lock(*node);
    JSON entry = JSON::object();
    entry["id"] = node->id;
    entry["class"] = view ? JSON(view->className()) : JSON(nullptr);
    GtkWidget* shown = node->content != nullptr ? node->content : node->box;
    entry["gtk"] = G_OBJECT_TYPE_NAME(shown);
    graphene_rect_t r;
    const ViewBoxLook& stage = view_box_look(stage_);
    if (gtk_widget_get_mapped(box) && gtk_widget_compute_bounds(box, stage_, &r)) {
        entry["frame"] = JSON::array({rounded(r.origin.x / scale_ + stage.boundsOrigin.x),
                                      rounded(r.origin.y / scale_ + stage.boundsOrigin.y),
                                      rounded(r.size.width / scale_), rounded(r.size.height / scale_)});
    } else {
        entry["frame"] = nullptr;
    }
    entry["mapped"] = bool(gtk_widget_get_mapped(box));
    switch (node->kind) {
        case Kind::Label:
            entry["text"] = gtk_label_get_text(GTK_LABEL(node->content));
            break;
        case Kind::Switch:
            entry["on"] = bool(gtk_switch_get_active(GTK_SWITCH(node->content)));
            entry["state"] = bool(gtk_switch_get_state(GTK_SWITCH(node->content)));
            break;
        case Kind::Spinner: {
            gboolean spinning = FALSE;
            g_object_get(node->content, "spinning", &spinning, nullptr);
            entry["spinning"] = bool(spinning);
            break;
        }
        case Kind::Button: {
            GtkWidget* picture = gtk_widget_get_first_child(gtk_button_get_child(GTK_BUTTON(node->content)));
            GtkWidget* title = gtk_widget_get_next_sibling(picture);
            entry["text"] = gtk_widget_get_visible(title) ? JSON(gtk_label_get_text(GTK_LABEL(title))) : JSON(nullptr);
            entry["image"] = gtk_picture_get_paintable(GTK_PICTURE(picture)) != nullptr;
            break;
        }
        case Kind::Image:
            entry["image"] = gtk_picture_get_paintable(GTK_PICTURE(node->content)) != nullptr;
            break;
        case Kind::Map:
            entry["map"] = node->map->dump();
            break;
        case Kind::Table: {
            JSON sections = JSON::array();
            for (size_t s = 0; s < node->sections.size(); ++s) {
                JSON section = JSON::object();
                for (int part = 0; part < 2; ++part) {
                    GtkWidget* label = node->decor[2 * s + size_t(part)];
                    section[part == 0 ? "header" : "footer"] =
                        gtk_widget_get_visible(label) ? JSON(gtk_label_get_text(GTK_LABEL(label))) : JSON(nullptr);
                }
                sections.push_back(std::move(section));
            }
            entry["sections"] = std::move(sections);
            break;
        }
        case Kind::Cell:
            entry["accessory"] = node->accessory;
            entry["highlighted"] = node->highlighted;
            break;
        default:
            break;
    }
    out.push_back(std::move(entry));
    for (GtkWidget* w = gtk_widget_get_first_child(box); w != nullptr; w = gtk_widget_get_next_sibling(w)) {
        if (is_view_box(w) && widget_view_id(w) != 0) dumpBox(w, out);
    }
}

}  // namespace vgps::gtkfe
