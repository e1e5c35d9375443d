// Writing received frames as files: binary PLY point clouds in millimetres, colour-mapped depth PNGs, and
// grey or colour PNGs of image formats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How raw 3D pixel values map to millimetres on each axis: mm = raw × scale + offset.
struct AxisScaling {
    double scale[3] = {1.0, 1.0, 1.0};
    double offset[3] = {0.0, 0.0, 0.0};
};

struct Point3 {
    float x, y, z;
};

// The valid points of a Coord3D_ABC16 or Coord3D_ABC32f frame (three little-endian values per pixel), in
// millimetres; a pixel whose three raw values are all zero carries no measurement and is left out. Also gives,
// per pixel, its depth in mm or a negative value for a pixel without measurement.
std::vector<Point3> pointsInMillimetres(const std::uint8_t* data, std::size_t pixels, bool floats,
                                        const AxisScaling& scaling, std::vector<float>* depthPerPixel);

// The parts of one multipart block that make a point cloud: the Range part (as above), and optionally the
// Mono16 Intensity part (little-endian) and the Confidence8 part, one value per pixel each.
struct RangeParts {
    const std::uint8_t* range = nullptr;
    bool floats = true;
    const std::uint8_t* intensity = nullptr;
    const std::uint8_t* confidence = nullptr;
};

// The points of a multipart block: with a Confidence part the pixels whose confidence is non-zero, without one
// the pixels with a measurement (as pointsInMillimetres). `intensities` receives each point's Intensity (0
// without an Intensity part); `depthPerPixel` as above.
std::vector<Point3> maskedPointsInMillimetres(const RangeParts& parts, std::size_t pixels, const AxisScaling& scaling,
                                              std::vector<std::uint16_t>* intensities,
                                              std::vector<float>* depthPerPixel);

// Binary little-endian PLY with float x, y, z vertices, and an unsigned 16-bit `intensity` per vertex when
// `intensities` is given (one per point). False with `error` set when the file cannot be written.
bool writePly(const std::string& path, const std::vector<Point3>& points, std::string& error,
              const std::vector<std::uint16_t>* intensities = nullptr);

// Depth as a colour PNG: near blue through green to far red, black where there is no measurement.
bool writeDepthPng(const std::string& path, const std::vector<float>& depth, int width, int height, std::string& error);

// 8- or 16-bit grey, or 16-bit RGB (`channels` 3), from little-endian pixel data.
bool writeImagePng(const std::string& path, const std::uint8_t* data, int width, int height, int bitDepth, int channels,
                   std::string& error);
