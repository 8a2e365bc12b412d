#include "Camera.h"

#include <gtest/gtest.h>
#include <cmath>
#include <stdexcept>
#include <string>

namespace {

double tanDegrees(double degrees)
{
    return std::tan(gradToRad(degrees));
}

} // namespace

TEST(Camera, DefaultPositionLooksAtItsCentrePoint)
{
    const Camera camera(36, 13, 3, 1.25);
    EXPECT_EQ(static_cast<int>(camera.getFOV()), 36);
    EXPECT_EQ(static_cast<int>(camera.getAngle()), 13);
    EXPECT_DOUBLE_EQ(camera.getHeight(), 3);

    const Point3F centre = camera.getCoordsOnGround(0.5, 0.5);
    EXPECT_NEAR(centre.x, 3 / tanDegrees(13), 1e-9);
    EXPECT_NEAR(centre.x, 12.99, 0.01);
    EXPECT_NEAR(centre.y, 0, 1e-9);
    EXPECT_NEAR(centre.z, 0, 1e-12);
    const Point2F back = camera.getScreenCoords(centre.x, 0, centre.z);
    EXPECT_NEAR(back.x, 0.5, 1e-12);
    EXPECT_NEAR(back.y, 0.5, 1e-12);
    EXPECT_NEAR(0.5 - camera.getHorizontHeight(), 0.145, 0.001);
    // Picture centre to the middle of the bottom edge: 12.99 m - 4.99 m.
    EXPECT_NEAR(camera.getDistanceOnGround(Point2F(0.5, 0.5), Point2F(0.5, 1)), 8.0, 0.005);
}

TEST(Camera, WholeDegreesReadBackExactly)
{
    Camera camera(36, 13, 3, 1.25);
    for (int degrees = 1; degrees <= 89; ++degrees) {
        camera.set(degrees, 90 - degrees, 1.5);
        EXPECT_EQ(static_cast<int>(std::lround(camera.getFOV())), degrees);
        EXPECT_NEAR(camera.getFOV(), degrees, 1e-12);
        EXPECT_NEAR(camera.getAngle(), 90 - degrees, 1e-12);
    }
}

// Picture -> ground -> picture over the whole accepted range, for points below
// the horizon (in front of the camera), plus distance symmetry.
TEST(Camera, RoundTripsOverTheAcceptedRange)
{
    Camera camera(36, 13, 3, 1.25);
    const double heights[] = {0.1, 0.5, 3, 12.5, 40};
    for (int fov = 1; fov <= 89; fov += 4) {
        for (int angle = 1; angle <= 89; angle += 4) {
            for (double height : heights) {
                camera.set(fov, angle, height);
                const double horizon = 0.5 - camera.getHorizontHeight();
                for (double sx = 0; sx <= 1; sx += 0.25) {
                    for (double sy = 1; sy > horizon + 0.01 && sy >= 0; sy -= 0.125) {
                        const Point3F g = camera.getCoordsOnGround(sx, sy);
                        ASSERT_NEAR(g.y, 0, 1e-9 * (1 + std::fabs(g.x) + std::fabs(g.z)));
                        const Point2F s = camera.getScreenCoords(g.x, g.y, g.z);
                        ASSERT_NEAR(s.x, sx, 1e-9) << fov << " " << angle << " " << height << " " << sy;
                        ASSERT_NEAR(s.y, sy, 1e-9) << fov << " " << angle << " " << height << " " << sx;
                    }
                }
                const Point2F a(0.2, 0.9), b(0.7, 1);
                EXPECT_DOUBLE_EQ(camera.getDistanceOnGround(a, a), 0);
                EXPECT_DOUBLE_EQ(camera.getDistanceOnGround(a, b), camera.getDistanceOnGround(b, a));
            }
        }
    }
}

TEST(Camera, PointsAboveTheHorizonLieBehindTheCamera)
{
    const Camera camera(36, 13, 3, 1.25);
    const Point3F g = camera.getCoordsOnGround(0.5, 0.05); // horizon at 0.145
    EXPECT_LT(g.x, 0);
    EXPECT_NEAR(g.y, 0, 1e-9);
}

TEST(Camera, DegenerateCasesThrowAndKeepTheState)
{
    // Level camera: the picture centre looks exactly along the horizon.
    Camera camera(36, 0, 2, 1.25);
    try {
        camera.getCoordsOnGround(0.5, 0.5);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Camera getCoordsOnGround k = 0");
    }
    // A point in the plane through the lens perpendicular to the axis.
    camera.set(36, 13, 2);
    try {
        camera.getScreenCoords(0, 2, 5);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Camera getScreenCoords tmp.x = 0");
    }
    EXPECT_NEAR(camera.getCoordsOnGround(0.5, 0.5).x, 2 / tanDegrees(13), 1e-9);
}
