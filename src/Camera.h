#pragma once

// A picture point in relative coordinates (0..1, y growing downward).
struct Point2F {
    Point2F() {}
    Point2F(double xValue, double yValue) : x(xValue), y(yValue) {}
    double x; // left unset by the default constructor
    double y;
};

// A world point in metres: x along the ground in the viewing direction from
// the camera's foot point, y up, z across the view toward the picture's right.
struct Point3F {
    Point3F() {}
    double distance(const Point3F& other) const;
    double x; // left unset by the default constructor
    double y;
    double z;
};

double gradToRad(double degrees);

// Pinhole camera above flat ground: vertical field of view, downward tilt of
// the optical axis, mounting height (metres) and picture aspect (width /
// height). Converts between relative picture points and world points. Plain
// double arithmetic; the only failures are the two degenerate cases below,
// thrown as std::runtime_error.
class Camera {
public:
    Camera(double fovDegrees, double angleDegrees, double height, double aspect);
    virtual ~Camera();
    Camera(const Camera&) = default;
    Camera& operator=(const Camera&) = default;

    void set(double fovDegrees, double angleDegrees, double height);
    void set(double fovDegrees, double angleDegrees, double height, double aspect);

    double getFOV() const;
    double getAngle() const;
    double getHeight() const;
    // Distance of the horizon above the picture centre, in picture heights.
    double getHorizontHeight() const;

    // Where the ray through picture point (sx, sy) meets the ground. Points
    // above the horizon give a ground point behind the camera (negative
    // depth); a point exactly on the horizon throws.
    Point3F getCoordsOnGround(double sx, double sy) const;
    // The picture point at which world point (x, y, z) is seen; a point in
    // the plane through the lens perpendicular to the optical axis throws.
    Point2F getScreenCoords(double x, double y, double z) const;
    // Ground distance in metres between what two picture points show.
    double getDistanceOnGround(const Point2F& a, const Point2F& b) const;

private:
    void recompute();

    double fov_ = 0;    // radians
    double angle_ = 0;  // radians
    double height_ = 0; // metres
    double aspect_ = 1;
    double cosA_ = 1;
    double sinA_ = 0;
    double t_ = 0;
    double k_ = 0;
    double kx_ = 0;
    double horizontHeight_ = 0;
};
