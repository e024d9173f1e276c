// How a map draws an annotation: a view per annotation that the map's
// delegate provides (or the map's standard one), kept for reuse by its
// identifier when the annotation leaves the map. Annotation views are not
// in the view tree: front-ends read them from the map (MKMapView.h).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "uikit/MKAnnotation.h"

namespace vgps {

class MKAnnotationView {
public:
    // initWithAnnotation:reuseIdentifier:
    MKAnnotationView(std::shared_ptr<MKAnnotation> annotation, std::optional<std::string> reuseIdentifier)
        : annotation_(std::move(annotation)), reuseIdentifier_(std::move(reuseIdentifier)) {}
    virtual ~MKAnnotationView() = default;
    virtual const char* className() const { return "MKAnnotationView"; }

    const std::shared_ptr<MKAnnotation>& annotation() const { return annotation_; }
    void setAnnotation(std::shared_ptr<MKAnnotation> annotation) { annotation_ = std::move(annotation); }
    const std::optional<std::string>& reuseIdentifier() const { return reuseIdentifier_; }
    // A tap on the pin shows the annotation's title and subtitle.
    bool canShowCallout() const { return canShowCallout_; }
    void setCanShowCallout(bool can) { canShowCallout_ = can; }

private:
    std::shared_ptr<MKAnnotation> annotation_;
    std::optional<std::string> reuseIdentifier_;
    bool canShowCallout_ = false;
};

enum MKPinAnnotationColor : int { MKPinAnnotationColorRed = 0, MKPinAnnotationColorGreen = 1, MKPinAnnotationColorPurple = 2 };

class MKPinAnnotationView : public MKAnnotationView {
public:
    using MKAnnotationView::MKAnnotationView;
    const char* className() const override { return "MKPinAnnotationView"; }

    int pinColor() const { return pinColor_; }
    void setPinColor(int color) { pinColor_ = color; }
    bool animatesDrop() const { return animatesDrop_; }
    void setAnimatesDrop(bool animates) { animatesDrop_ = animates; }

private:
    int pinColor_ = MKPinAnnotationColorRed;
    bool animatesDrop_ = false;
};

}  // namespace vgps
