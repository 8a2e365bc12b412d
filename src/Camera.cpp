#include "Camera.h"

#include <cmath>
#include <stdexcept>

namespace {

// The same constant both ways, so whole degrees read back as whole degrees.
constexpr double kPi = 3.141592653589793;

// Horizon height reported when the axis points straight down.
constexpr double kHorizonStraightDown = -10;

} // namespace

double Point3F::distance(const Point3F& other) const
{
    const double dx = x - other.x;
    const double dy = y - other.y;
    const double dz = z - other.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

double gradToRad(double degrees)
{
    return degrees * kPi / 180;
}

Camera::Camera(double fovDegrees, double angleDegrees, double height, double aspect)
    : fov_(gradToRad(fovDegrees)), angle_(gradToRad(angleDegrees)), height_(height), aspect_(aspect)
{
    recompute();
}

Camera::~Camera() = default;

void Camera::set(double fovDegrees, double angleDegrees, double height)
{
    set(fovDegrees, angleDegrees, height, aspect_);
}

void Camera::set(double fovDegrees, double angleDegrees, double height, double aspect)
{
    fov_ = gradToRad(fovDegrees);
    angle_ = gradToRad(angleDegrees);
    height_ = height;
    aspect_ = aspect;
    recompute();
}

double Camera::getFOV() const
{
    return 180 * fov_ / kPi;
}

double Camera::getAngle() const
{
    return 180 * angle_ / kPi;
}

double Camera::getHeight() const
{
    return height_;
}

double Camera::getHorizontHeight() const
{
    return horizontHeight_;
}

void Camera::recompute()
{
    cosA_ = std::cos(angle_);
    sinA_ = std::sin(angle_);
    t_ = std::tan(fov_ / 2);
    k_ = 1 / (t_ + t_);
    kx_ = k_ / aspect_;
    horizontHeight_ = cosA_ != 0 ? sinA_ * k_ / cosA_ : kHorizonStraightDown;
}

Point3F Camera::getCoordsOnGround(double sx, double sy) const
{
    const double u = sx - 0.5;
    const double v = 0.5 - sy;
    const double w = v / k_;
    const double den = sinA_ - cosA_ * w;
    if (den == 0) {
        throw std::runtime_error("Camera getCoordsOnGround k = 0");
    }
    const double s = height_ / den;
    const double up = s * w;
    const double across = (u / k_) * s * aspect_;
    const double a0 = s - sinA_ * height_;
    const double a1 = up + cosA_ * height_;
    Point3F result;
    result.x = a0 * cosA_ + a1 * sinA_;
    result.y = a1 * cosA_ - a0 * sinA_;
    result.z = across;
    return result;
}

Point2F Camera::getScreenCoords(double x, double y, double z) const
{
    const double yr = y - height_;
    const double depth = cosA_ * x - sinA_ * yr;
    const double up = sinA_ * x + cosA_ * yr;
    if (depth == 0) {
        throw std::runtime_error("Camera getScreenCoords tmp.x = 0");
    }
    return Point2F(0.5 + (z / depth) * kx_, 0.5 - (up / depth) * k_);
}

double Camera::getDistanceOnGround(const Point2F& a, const Point2F& b) const
{
    return getCoordsOnGround(a.x, a.y).distance(getCoordsOnGround(b.x, b.y));
}
