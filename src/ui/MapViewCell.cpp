#include "ui/MapViewCell.h"

namespace vgps {

MapViewCell::MapViewCell(int style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier)) {
    mapView_ = std::make_shared<MKMapView>(bounds());
    mapView_->layer()->setCornerRadius(kCornerRadius);
    mapView_->layer()->setMasksToBounds(true);
    mapView_->setDelegate(this);
    mapView_->setMapType(MKMapTypeStandard);
    mapView_->setShowsUserLocation(false);
    contentView()->addSubview(mapView_);
    annotation_ = std::make_shared<GPSAnnotation>();
}

MapViewCell::~MapViewCell() {
    if (mapView_ && mapView_->delegate() == this) mapView_->setDelegate(nullptr);
}

void MapViewCell::layoutSubviews() {
    UITableViewCell::layoutSubviews();
    mapView_->setFrame(contentView()->bounds());
}

void MapViewCell::didLocatedTo(CLLocationCoordinate2D coordinate) {
    if (!CLLocationCoordinate2DIsValid(coordinate)) return;
    if (mapView_->centerCoordinate() == coordinate) return;
    annotation_->setCoordinate(coordinate);
    mapView_->removeAnnotation(annotation_);
    mapView_->addAnnotation(annotation_);
    mapView_->setRegion_animated(MKCoordinateRegionMake(coordinate, MKCoordinateSpanMake(kSpan, kSpan)), false);
}

std::shared_ptr<MKAnnotationView> MapViewCell::mapView_viewForAnnotation(MKMapView* /*mapView*/,
                                                                        const std::shared_ptr<MKAnnotation>& annotation) {
    if (dynamic_cast<const MKUserLocation*>(annotation.get()) != nullptr) return nullptr;
    if (auto view = mapView_->dequeueReusableAnnotationViewWithIdentifier(kAnnotationIdentifier)) {
        view->setAnnotation(annotation_);
        return view;
    }
    auto pin = std::make_shared<MKPinAnnotationView>(annotation_, kAnnotationIdentifier);
    pin->setPinColor(MKPinAnnotationColorPurple);
    pin->setCanShowCallout(true);
    return pin;
}

}  // namespace vgps
