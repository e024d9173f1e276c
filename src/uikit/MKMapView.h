// A map: the region it shows (a centre and a span in degrees), its type,
// and the annotations on it, each drawn by an annotation view that the
// delegate provides when the annotation is added. The map draws nothing
// itself: a front-end shows tiles for region() and a pin per annotation.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "uikit/CLLocation.h"
#include "uikit/MKAnnotation.h"
#include "uikit/MKAnnotationView.h"
#include "uikit/UIView.h"

namespace vgps {

class MKMapView;

struct MKCoordinateSpan {
    double latitudeDelta = 0;
    double longitudeDelta = 0;
    bool operator==(const MKCoordinateSpan&) const = default;
};

struct MKCoordinateRegion {
    CLLocationCoordinate2D center;
    MKCoordinateSpan span;
    bool operator==(const MKCoordinateRegion&) const = default;
};

inline MKCoordinateSpan MKCoordinateSpanMake(double latitudeDelta, double longitudeDelta) {
    return {latitudeDelta, longitudeDelta};
}
inline MKCoordinateRegion MKCoordinateRegionMake(CLLocationCoordinate2D center, MKCoordinateSpan span) {
    return {center, span};
}

enum MKMapType : int { MKMapTypeStandard = 0, MKMapTypeSatellite = 1, MKMapTypeHybrid = 2 };

class MKMapViewDelegate {
public:
    virtual ~MKMapViewDelegate() = default;
    // The view for an annotation; none gives the map's standard view (a
    // red pin, or the user-location mark).
    virtual std::shared_ptr<MKAnnotationView> mapView_viewForAnnotation(MKMapView* /*mapView*/,
                                                                        const std::shared_ptr<MKAnnotation>& /*a*/) {
        return nullptr;
    }
    virtual void mapView_regionDidChangeAnimated(MKMapView* /*mapView*/, bool /*animated*/) {}
};

class MKMapView : public UIView {
public:
    static constexpr size_t kReuseQueueLimit = 16;

    // initWithFrame: the whole world, centred on (0, 0).
    explicit MKMapView(CGRect frame = {});
    ~MKMapView() override;
    const char* className() const override { return "MKMapView"; }

    MKMapViewDelegate* delegate() const { return delegate_; }
    void setDelegate(MKMapViewDelegate* delegate) { delegate_ = delegate; }
    int mapType() const { return mapType_; }
    void setMapType(int type) { changeProperty(mapType_, type); }

    // Showing the user location adds userLocation() to the annotations.
    bool showsUserLocation() const { return showsUserLocation_; }
    void setShowsUserLocation(bool shows);
    const std::shared_ptr<MKUserLocation>& userLocation() const { return userLocation_; }

    const MKCoordinateRegion& region() const { return region_; }
    // An invalid centre or a span that is not positive (or above 180 by
    // 360 degrees) is logged and changes nothing.
    void setRegion_animated(MKCoordinateRegion region, bool animated);
    CLLocationCoordinate2D centerCoordinate() const { return region_.center; }
    void setCenterCoordinate_animated(CLLocationCoordinate2D center, bool animated);

    // In the order they were added.
    std::vector<std::shared_ptr<MKAnnotation>> annotations() const;
    // Adding an annotation already on the map changes nothing.
    void addAnnotation(std::shared_ptr<MKAnnotation> annotation);
    void removeAnnotation(const std::shared_ptr<MKAnnotation>& annotation);
    // The view drawing an annotation on the map, or null.
    MKAnnotationView* viewForAnnotation(const MKAnnotation* annotation) const;
    std::shared_ptr<MKAnnotationView> dequeueReusableAnnotationViewWithIdentifier(const std::string& identifier);

protected:
    void dumpProperties(JSON& out) const override;

private:
    struct Entry {
        std::shared_ptr<MKAnnotation> annotation;
        std::shared_ptr<MKAnnotationView> view;
    };
    std::shared_ptr<MKAnnotationView> makeView(const std::shared_ptr<MKAnnotation>& annotation);

    MKMapViewDelegate* delegate_ = nullptr;
    int mapType_ = MKMapTypeStandard;
    bool showsUserLocation_ = false;
    std::shared_ptr<MKUserLocation> userLocation_ = std::make_shared<MKUserLocation>();
    MKCoordinateRegion region_{{0, 0}, {180, 360}};
    std::vector<Entry> entries_;
    std::vector<std::pair<std::string, std::shared_ptr<MKAnnotationView>>> reuse_;
};

}  // namespace vgps
