#include "uikit/MKMapView.h"

#include <algorithm>
#include <cmath>

#include "platform/log.h"

namespace vgps {

MKMapView::MKMapView(CGRect frame) : UIView(frame) {}

MKMapView::~MKMapView() = default;

void MKMapView::setShowsUserLocation(bool shows) {
    if (showsUserLocation_ == shows) return;
    showsUserLocation_ = shows;
    if (shows) {
        addAnnotation(userLocation_);
    } else {
        removeAnnotation(userLocation_);
    }
}

void MKMapView::setRegion_animated(MKCoordinateRegion region, bool animated) {
    const MKCoordinateSpan& s = region.span;
    if (!CLLocationCoordinate2DIsValid(region.center) || !(s.latitudeDelta > 0 && s.latitudeDelta <= 180) ||
        !(s.longitudeDelta > 0 && s.longitudeDelta <= 360)) {
        log_error("<%s> invalid region: centre %f, %f, span %f by %f", "-[MKMapView setRegion:animated:]",
                  region.center.latitude, region.center.longitude, s.latitudeDelta, s.longitudeDelta);
        return;
    }
    if (region_ == region) return;
    region_ = region;
    setNeedsDisplay();
    if (delegate_ != nullptr) delegate_->mapView_regionDidChangeAnimated(this, animated);
}

void MKMapView::setCenterCoordinate_animated(CLLocationCoordinate2D center, bool animated) {
    setRegion_animated({center, region_.span}, animated);
}

std::vector<std::shared_ptr<MKAnnotation>> MKMapView::annotations() const {
    std::vector<std::shared_ptr<MKAnnotation>> out;
    for (const Entry& e : entries_) out.push_back(e.annotation);
    return out;
}

std::shared_ptr<MKAnnotationView> MKMapView::makeView(const std::shared_ptr<MKAnnotation>& annotation) {
    std::shared_ptr<MKAnnotationView> view;
    if (delegate_ != nullptr) view = delegate_->mapView_viewForAnnotation(this, annotation);
    if (view) return view;
    if (annotation == userLocation_) return std::make_shared<MKAnnotationView>(annotation, std::nullopt);
    return std::make_shared<MKPinAnnotationView>(annotation, std::nullopt);
}

void MKMapView::addAnnotation(std::shared_ptr<MKAnnotation> annotation) {
    if (!annotation) return;
    if (std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.annotation == annotation; })) {
        return;
    }
    entries_.push_back({annotation, nullptr});
    // The delegate may look at the map, so the entry is there first.
    std::shared_ptr<MKAnnotationView> view = makeView(annotation);
    for (Entry& e : entries_) {
        if (e.annotation == annotation) e.view = std::move(view);
    }
    setNeedsDisplay();
}

void MKMapView::removeAnnotation(const std::shared_ptr<MKAnnotation>& annotation) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.annotation == annotation; });
    if (it == entries_.end()) return;
    if (it->view && it->view->reuseIdentifier() && reuse_.size() < kReuseQueueLimit) {
        reuse_.emplace_back(*it->view->reuseIdentifier(), it->view);
    }
    entries_.erase(it);
    setNeedsDisplay();
}

MKAnnotationView* MKMapView::viewForAnnotation(const MKAnnotation* annotation) const {
    for (const Entry& e : entries_) {
        if (e.annotation.get() == annotation) return e.view.get();
    }
    return nullptr;
}

std::shared_ptr<MKAnnotationView> MKMapView::dequeueReusableAnnotationViewWithIdentifier(const std::string& identifier) {
    for (auto it = reuse_.rbegin(); it != reuse_.rend(); ++it) {
        if (it->first != identifier) continue;
        std::shared_ptr<MKAnnotationView> view = std::move(it->second);
        reuse_.erase(std::next(it).base());
        return view;
    }
    return nullptr;
}

void MKMapView::dumpProperties(JSON& out) const {
    out["center"] = JSON::array({region_.center.latitude, region_.center.longitude});
    out["span"] = JSON::array({region_.span.latitudeDelta, region_.span.longitudeDelta});
    out["mapType"] = mapType_;
    out["showsUserLocation"] = showsUserLocation_;
    JSON annotations = JSON::array();
    for (const Entry& e : entries_) {
        const CLLocationCoordinate2D c = e.annotation->coordinate();
        JSON a = {{"title", dump_optional(e.annotation->title())},
                  {"subtitle", dump_optional(e.annotation->subtitle())},
                  {"coordinate", JSON::array({c.latitude, c.longitude})},
                  {"view", e.view ? JSON(e.view->className()) : JSON(nullptr)}};
        if (auto* pin = dynamic_cast<const MKPinAnnotationView*>(e.view.get())) a["pinColor"] = pin->pinColor();
        annotations.push_back(std::move(a));
    }
    out["annotations"] = std::move(annotations);
    out["cornerRadius"] = layer()->cornerRadius();
}

}  // namespace vgps
