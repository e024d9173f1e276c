// The toolkit window's view tree kept as GTK widgets: one view box per
// view, for as long as the view is in the window, holding the widget that
// shows what the view is (a label, a switch, a spinner, a button, a
// picture, a map) and the boxes of its subviews in drawing order. The
// application's once-per-turn display notice says which views changed and
// which went away; only those are touched.
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "frontend/gtk/tile_source.h"
#include "uikit/UIApplication.h"
#include "uikit/UIColor.h"
#include "uikit/UIFont.h"
#include "uikit/UITableView.h"

namespace vgps::gtkfe {

class MapContent;
}  // namespace vgps::gtkfe

namespace vgps {
class UIButton;
class UILabel;
}  // namespace vgps

namespace vgps::gtkfe {

class Mirror {
public:
    // Builds into `stage`, a view box whose bounds origin hides the
    // toolkit's status bar.
    Mirror(UIApplication* app, GtkWidget* stage, double scale, TileConfig tiles);
    ~Mirror();
    Mirror(const Mirror&) = delete;
    Mirror& operator=(const Mirror&) = delete;

    // Everything anew from the key window.
    void rebuild();
    void apply(const UIDisplayChanges& changes);
    // Views whose widgets must be brought back to the toolkit's values on
    // the next turn (a switch the toolkit did not let toggle).
    void refreshSoon(UIView::Id id) { pending_.insert(id); }
    // True when there was something to refresh.
    bool refreshPending();

    GtkWidget* boxFor(UIView::Id id) const;
    GtkWidget* contentFor(UIView::Id id) const;
    size_t widgetCount() const { return nodes_.size(); }
    // Every widget of the tree, depth first in drawing order.
    JSON dump() const;

private:
    enum class Kind { Plain, Window, Label, Switch, Spinner, Button, Image, Map, Table, Scroll, Cell };
    struct Section {
        std::optional<std::string> header, footer;
        CGRect headerFrame, groupFrame, footerFrame;
        std::vector<double> separators;  // content y of the lines between rows
        bool operator==(const Section&) const = default;
    };
    // What a label or a button showed when last updated.
    struct LabelLook {
        std::string text;
        UIFont font;
        UIColor color;
        int alignment = 0;
        bool adjusts = false;
        double width = 0;
        bool operator==(const LabelLook&) const = default;
    };
    struct ButtonLook {
        const void* image = nullptr;
        std::optional<std::string> title;
        UIFont font;
        int type = 0;
        bool enabled = true, highlighted = false;
        CGSize size;
        bool operator==(const ButtonLook&) const = default;
    };
    struct Node {
        UIView::Id id = 0;
        Kind kind = Kind::Plain;
        std::weak_ptr<UIView> view;
        UIView* root = nullptr;  // the window, which nobody shares
        GtkWidget* box = nullptr;
        GtkWidget* content = nullptr;
        std::vector<GtkWidget*> decor;  // first children: content, section texts
        std::unique_ptr<MapContent> map;
        gulong switchHandler = 0;
        // What the painters draw, as of the last display.
        bool grouped = false;
        std::vector<Section> sections;
        int accessory = 0;
        CGRect accessoryFrame;
        bool highlighted = false;
        std::optional<LabelLook> label;
        std::optional<ButtonLook> button;
        ~Node();
    };

    std::shared_ptr<UIView> lock(const Node& node) const;
    Node* find(UIView::Id id) const;
    Node* build(const std::shared_ptr<UIView>& view, UIView* root, GtkWidget* parent);
    void makeContent(Node& node, UIView& view);
    // The view's widget and its subviews' widgets, once per display.
    void refresh(Node& node, UIView& view);
    void update(Node& node, UIView& view);
    void syncChildren(Node& node, UIView& view);
    void removeBox(GtkWidget* box);
    void forget(GtkWidget* box);

    void updateLabel(Node& node, const UILabel& view);
    void updateButton(Node& node, const UIButton& view);
    void updateTable(Node& node, UITableView& table);
    void paintTable(UIView::Id id, GtkSnapshot* snapshot);
    void paintCell(UIView::Id id, GtkSnapshot* snapshot, double width, double height);
    GdkTexture* texture(const std::string& path);
    void switchToggled(UIView::Id id);
    void buttonActivated(UIView::Id id);
    void scrolled(UIView::Id id, double dx, double dy, bool lines);
    void dumpBox(GtkWidget* box, JSON& out) const;

    UIApplication* app_;
    GtkWidget* stage_;
    double scale_;
    TileConfig tiles_;
    UIView* window_ = nullptr;
    std::unordered_map<UIView::Id, std::unique_ptr<Node>> nodes_;
    std::map<std::string, GdkTexture*> textures_;
    std::set<UIView::Id> pending_;
    std::set<UIView::Id> refreshed_;
};

}  // namespace vgps::gtkfe
