// Writing the capture client's frames: PLY point clouds, depth pictures and PNG images.
#include "frame_files.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

namespace {

float readFloatLE(const std::uint8_t* bytes) {
    const std::uint32_t bits = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                               static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::uint16_t readU16LE(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8); }

// Encodes rows of 8- or 16-bit samples (16-bit samples already in PNG's big-endian order). libpng reports
// errors by longjmp, so this function holds no object with a destructor.
bool encodePng(FILE* file, int width, int height, int bitDepth, int colourType, const std::uint8_t* rows,
               std::size_t rowBytes) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), bitDepth, colourType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int row = 0; row < height; ++row) {
        png_write_row(png, const_cast<png_bytep>(rows + static_cast<std::size_t>(row) * rowBytes));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool writePng(const std::string& path, int width, int height, int bitDepth, int colourType,
              const std::vector<std::uint8_t>& rows, std::size_t rowBytes, std::string& error) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file) {
        error = "cannot create " + path;
        return false;
    }
    if (!encodePng(file.get(), width, height, bitDepth, colourType, rows.data(), rowBytes)) {
        error = "writing " + path + " failed";
        return false;
    }
    return true;
}

// A blue → cyan → green → yellow → red ramp for t in 0..1.
void colourOf(float t, std::uint8_t* rgb) {
    const float clamped = std::clamp(t, 0.0f, 1.0f) * 4.0f;
    const int band = std::min(static_cast<int>(clamped), 3);
    const float f = clamped - static_cast<float>(band);
    const auto level = [](float v) { return static_cast<std::uint8_t>(std::lround(v * 255.0f)); };
    switch (band) {
        case 0:
            rgb[0] = 0;
            rgb[1] = level(f);
            rgb[2] = 255;
            break;
        case 1:
            rgb[0] = 0;
            rgb[1] = 255;
            rgb[2] = level(1.0f - f);
            break;
        case 2:
            rgb[0] = level(f);
            rgb[1] = 255;
            rgb[2] = 0;
            break;
        default:
            rgb[0] = 255;
            rgb[1] = level(1.0f - f);
            rgb[2] = 0;
            break;
    }
}

}  // namespace

std::vector<Point3> pointsInMillimetres(const std::uint8_t* data, std::size_t pixels, bool floats,
                                        const AxisScaling& scaling, std::vector<float>* depthPerPixel) {
    RangeParts parts;
    parts.range = data;
    parts.floats = floats;
    return maskedPointsInMillimetres(parts, pixels, scaling, nullptr, depthPerPixel);
}

std::vector<Point3> maskedPointsInMillimetres(const RangeParts& parts, std::size_t pixels, const AxisScaling& scaling,
                                              std::vector<std::uint16_t>* intensities,
                                              std::vector<float>* depthPerPixel) {
    std::vector<Point3> points;
    points.reserve(pixels);
    if (intensities != nullptr) intensities->clear();
    if (depthPerPixel != nullptr) depthPerPixel->assign(pixels, -1.0f);
    const std::size_t stride = parts.floats ? 12 : 6;
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* pixel = parts.range + i * stride;
        double raw[3];
        for (int axis = 0; axis < 3; ++axis) {
            raw[axis] = parts.floats ? readFloatLE(pixel + 4 * axis) : readU16LE(pixel + 2 * axis);
        }
        const bool measured =
            parts.confidence != nullptr ? parts.confidence[i] != 0 : !(raw[0] == 0.0 && raw[1] == 0.0 && raw[2] == 0.0);
        if (!measured) continue;
        Point3 point{};
        float* mm[3] = {&point.x, &point.y, &point.z};
        for (int axis = 0; axis < 3; ++axis) {
            *mm[axis] = static_cast<float>(raw[axis] * scaling.scale[axis] + scaling.offset[axis]);
        }
        points.push_back(point);
        if (intensities != nullptr) {
            intensities->push_back(parts.intensity != nullptr ? readU16LE(parts.intensity + 2 * i) : 0);
        }
        if (depthPerPixel != nullptr) (*depthPerPixel)[i] = point.z;
    }
    return points;
}

bool writePly(const std::string& path, const std::vector<Point3>& points, std::string& error,
              const std::vector<std::uint16_t>* intensities) {
    if (intensities != nullptr && intensities->size() != points.size()) {
        error = "one intensity per point expected for " + path;
        return false;
    }
    std::ofstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot create " + path;
        return false;
    }
    file << "ply\nformat binary_little_endian 1.0\ncomment units mm\nelement vertex " << points.size()
         << "\nproperty float x\nproperty float y\nproperty float z\n"
         << (intensities != nullptr ? "property ushort intensity\n" : "") << "end_header\n";
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Point3& point = points[i];
        for (const float value : {point.x, point.y, point.z}) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &value, sizeof bits);
            const char bytes[4] = {static_cast<char>(bits), static_cast<char>(bits >> 8), static_cast<char>(bits >> 16),
                                   static_cast<char>(bits >> 24)};
            file.write(bytes, 4);
        }
        if (intensities != nullptr) {
            const std::uint16_t value = (*intensities)[i];
            const char bytes[2] = {static_cast<char>(value), static_cast<char>(value >> 8)};
            file.write(bytes, 2);
        }
    }
    if (!file.flush()) {
        error = "writing " + path + " failed";
        return false;
    }
    return true;
}

bool writeDepthPng(const std::string& path, const std::vector<float>& depth, int width, int height,
                   std::string& error) {
    float nearest = 0.0f;
    float farthest = 0.0f;
    bool any = false;
    for (const float z : depth) {
        if (z < 0.0f) continue;
        nearest = any ? std::min(nearest, z) : z;
        farthest = any ? std::max(farthest, z) : z;
        any = true;
    }
    const float span = farthest > nearest ? farthest - nearest : 1.0f;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    std::vector<std::uint8_t> rows(rowBytes * static_cast<std::size_t>(height), 0);
    for (std::size_t i = 0; i < depth.size() && i < static_cast<std::size_t>(width) * height; ++i) {
        if (depth[i] >= 0.0f) colourOf((depth[i] - nearest) / span, &rows[i * 3]);
    }
    return writePng(path, width, height, 8, PNG_COLOR_TYPE_RGB, rows, rowBytes, error);
}

bool writeImagePng(const std::string& path, const std::uint8_t* data, int width, int height, int bitDepth, int channels,
                   std::string& error) {
    const std::size_t samples = static_cast<std::size_t>(width) * height * channels;
    const std::size_t bytesPerSample = bitDepth == 16 ? 2 : 1;
    std::vector<std::uint8_t> rows(samples * bytesPerSample);
    for (std::size_t i = 0; i < samples; ++i) {
        if (bytesPerSample == 1) {
            rows[i] = data[i];
        } else {  // little-endian in the frame, big-endian in PNG
            rows[2 * i] = data[2 * i + 1];
            rows[2 * i + 1] = data[2 * i];
        }
    }
    return writePng(path, width, height, bitDepth, channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, rows,
                    static_cast<std::size_t>(width) * channels * bytesPerSample, error);
}
