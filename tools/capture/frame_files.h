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

// Binary little-endian PLY with float x, y, z vertices. False with `error` set when the file cannot be written.
bool writePly(const std::string& path, const std::vector<Point3>& points, std::string& error);

// Depth as a colour PNG: near blue through green to far red, black where there is no measurement.
bool writeDepthPng(const std::string& path, const std::vector<float>& depth, int width, int height,
                   std::string& error);

// 8- or 16-bit grey, or 16-bit RGB (`channels` 3), from little-endian pixel data.
bool writeImagePng(const std::string& path, const std::uint8_t* data, int width, int height, int bitDepth,
                   int channels, std::string& error);
