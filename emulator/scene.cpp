// Ray tracing of the emulated scene and the per-frame rendering; see scene.h.
#include "scene.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace emulator {
namespace {

enum PixelState : std::uint8_t { PixelMeasured = 0, PixelShadowed = 1, PixelOutOfRange = 2, PixelNothing = 3 };

struct Vec {
    double x, y, z;
};
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator*(Vec a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec normalized(Vec a) { return a * (1.0 / std::sqrt(dot(a, a))); }

constexpr double kNoHit = std::numeric_limits<double>::infinity();
constexpr double kZNoiseMm = 0.06;
constexpr double kIntensityNoise = 0.01;

// The objects, placed relative to the working range so that any range setting frames them alike.
struct Objects {
    Vec sphereCentre;
    double sphereRadius;
    Vec boxMin, boxMax;
    double planeZ0, planeSlopeX, planeSlopeY;  // z = z0 + sx * x + sy * y
    Vec projector;
};

Objects placeObjects(const SceneRanges& r) {
    const double z0 = r.workingRangeZStart;
    const double depth = r.measuringRangeZ;
    const double w = r.measuringRangeX;
    const double h = r.measuringRangeY;
    Objects o;
    o.sphereCentre = {-0.2 * w, 0.08 * h, z0 + 0.55 * depth};
    o.sphereRadius = 0.17 * std::min(w, h);
    o.boxMin = {0.12 * w, -0.3 * h, z0 + 0.65 * depth};
    o.boxMax = {0.38 * w, 0.05 * h, z0 + 0.9 * depth};
    // Steep enough that one corner of the plane leaves the measuring range.
    o.planeZ0 = z0 + 0.8 * depth;
    o.planeSlopeX = 0.5 * depth / w;
    o.planeSlopeY = 0.4 * depth / h;
    o.projector = {0.35 * w, 0.0, 0.0};
    return o;
}

double hitSphere(const Objects& o, Vec origin, Vec dir) {
    const Vec oc = origin - o.sphereCentre;
    const double b = dot(oc, dir);
    const double c = dot(oc, oc) - o.sphereRadius * o.sphereRadius;
    const double disc = b * b - c * dot(dir, dir);
    if (disc < 0) return kNoHit;
    const double t = (-b - std::sqrt(disc)) / dot(dir, dir);
    return t > 1e-6 ? t : kNoHit;
}

// Slab test; `normal` receives the face normal of the entry point.
double hitBox(const Objects& o, Vec origin, Vec dir, Vec* normal) {
    double tNear = -kNoHit, tFar = kNoHit;
    int axisNear = 0;
    const double orig[3] = {origin.x, origin.y, origin.z}, d[3] = {dir.x, dir.y, dir.z};
    const double lo[3] = {o.boxMin.x, o.boxMin.y, o.boxMin.z}, hi[3] = {o.boxMax.x, o.boxMax.y, o.boxMax.z};
    for (int a = 0; a < 3; ++a) {
        if (std::abs(d[a]) < 1e-12) {
            if (orig[a] < lo[a] || orig[a] > hi[a]) return kNoHit;
            continue;
        }
        double t1 = (lo[a] - orig[a]) / d[a], t2 = (hi[a] - orig[a]) / d[a];
        if (t1 > t2) std::swap(t1, t2);
        if (t1 > tNear) {
            tNear = t1;
            axisNear = a;
        }
        tFar = std::min(tFar, t2);
        if (tNear > tFar) return kNoHit;
    }
    if (tNear <= 1e-6) return kNoHit;
    if (normal) {
        double n[3] = {0, 0, 0};
        n[axisNear] = d[axisNear] > 0 ? -1 : 1;
        *normal = {n[0], n[1], n[2]};
    }
    return tNear;
}

double hitPlane(const Objects& o, Vec origin, Vec dir) {
    // origin.z + t dir.z = z0 + sx (origin.x + t dir.x) + sy (origin.y + t dir.y)
    const double denominator = dir.z - o.planeSlopeX * dir.x - o.planeSlopeY * dir.y;
    if (std::abs(denominator) < 1e-12) return kNoHit;
    const double t = (o.planeZ0 + o.planeSlopeX * origin.x + o.planeSlopeY * origin.y - origin.z) / denominator;
    return t > 1e-6 ? t : kNoHit;
}

bool inProjectorShadow(const Objects& o, Vec point) {
    const Vec toProjector = o.projector - point;
    // Start a little off the surface so that it does not shadow itself.
    const Vec start = point + toProjector * 1e-4;
    const double s = hitSphere(o, start, toProjector);
    const double b = hitBox(o, start, toProjector, nullptr);
    return (s < 1.0) || (b < 1.0);
}

std::uint64_t splitmix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace

Scene::Scene(std::uint32_t width, std::uint32_t height, const SceneRanges& ranges, std::uint64_t seed)
    : width_(width), height_(height) {
    const std::size_t n = std::size_t{width} * height;
    points_.resize(3 * n);
    state_.resize(n);
    reflectance_.resize(n);
    noise_.resize(n);
    depthNoise_.resize(n);
    const Objects o = placeObjects(ranges);
    const double zMid = ranges.workingRangeZStart + 0.5 * ranges.measuringRangeZ;
    const double zEnd = ranges.workingRangeZStart + ranges.measuringRangeZ;
    for (std::uint32_t v = 0; v < height; ++v)
        for (std::uint32_t u = 0; u < width; ++u) {
            const std::size_t i = std::size_t{v} * width + u;
            const Vec dir{((u + 0.5) / width - 0.5) * ranges.measuringRangeX / zMid,
                          ((v + 0.5) / height - 0.5) * ranges.measuringRangeY / zMid, 1.0};
            const Vec origin{0, 0, 0};
            Vec boxNormal{0, 0, -1};
            const double tSphere = hitSphere(o, origin, dir);
            const double tBox = hitBox(o, origin, dir, &boxNormal);
            const double tPlane = hitPlane(o, origin, dir);
            const double t = std::min({tSphere, tBox, tPlane});
            if (t == kNoHit) {
                state_[i] = PixelNothing;
                continue;
            }
            const Vec p = dir * t;
            Vec normal;
            double albedo;
            if (t == tSphere) {
                normal = normalized(p - o.sphereCentre);
                albedo = 0.85;
            } else if (t == tBox) {
                normal = boxNormal;
                albedo = 0.7;
            } else {
                normal = normalized({o.planeSlopeX, o.planeSlopeY, -1.0});
                // A printed checker pattern of 20 mm squares gives the 2D image some texture.
                const bool dark =
                    (static_cast<long>(std::floor(p.x / 20.0)) + static_cast<long>(std::floor(p.y / 20.0))) & 1;
                albedo = dark ? 0.45 : 0.75;
            }
            const double lit = std::max(0.0, dot(normal, normalized(o.projector - p)));
            reflectance_[i] = static_cast<float>(albedo * (0.25 + 0.75 * lit));
            points_[3 * i] = static_cast<float>(p.x);
            points_[3 * i + 1] = static_cast<float>(p.y);
            points_[3 * i + 2] = static_cast<float>(p.z);
            depthNoise_[i] = static_cast<float>(kZNoiseMm / p.z);
            if (p.z < ranges.workingRangeZStart || p.z > zEnd)
                state_[i] = PixelOutOfRange;
            else if (inProjectorShadow(o, p))
                state_[i] = PixelShadowed;
            else
                state_[i] = PixelMeasured;
        }
    // Box-Muller pairs from a seeded splitmix64 stream.
    std::uint64_t state = seed;
    for (std::size_t i = 0; i < n; i += 2) {
        const double u1 = (static_cast<double>(splitmix(state) >> 11) + 1.0) / 9007199254740993.0;
        const double u2 = static_cast<double>(splitmix(state) >> 11) / 9007199254740992.0;
        const double radius = std::sqrt(-2.0 * std::log(u1));
        noise_[i] = static_cast<float>(radius * std::cos(6.283185307179586 * u2));
        if (i + 1 < n) noise_[i + 1] = static_cast<float>(radius * std::sin(6.283185307179586 * u2));
    }
}

double Scene::brightness(double exposureUs, double gain, double ledPowerPercent) {
    // The factory settings (10 ms, gain 1, 80 %) use about a third of the range on the brightest surfaces,
    // leaving headroom for gain before pixels saturate.
    return 0.5 * exposureUs / 10000.0 * gain * ledPowerPercent / 100.0;
}

void Scene::renderCloud(std::uint64_t frameIndex, double brightness, double* xyz, std::uint16_t* mono) const {
    const std::size_t n = pixelCount();
    const std::size_t shift = static_cast<std::size_t>((frameIndex * 7919u) % n);
    const float* noise = noise_.data();
    const double fullScale = brightness * 65535.0;
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t k = i + shift;
        if (k >= n) k -= n;
        const double light = reflectance_[i] * fullScale * (1.0 + kIntensityNoise * noise[k]);
        mono[i] = static_cast<std::uint16_t>(std::clamp(light, 0.0, 65535.0));
        // Structured light needs contrast: too little light or a saturated pixel decodes no depth.
        const bool measured = state_[i] == PixelMeasured && light >= 650.0 && light < 65535.0;
        // Depth noise moves the point along its viewing ray; the table holds noise / z for each pixel.
        const double scale = measured ? 1.0 + depthNoise_[i] * noise[n - 1 - k] : 0.0;
        xyz[3 * i] = points_[3 * i] * scale;
        xyz[3 * i + 1] = points_[3 * i + 1] * scale;
        xyz[3 * i + 2] = points_[3 * i + 2] * scale;
    }
}

void Scene::renderCameraImage(std::uint64_t imageIndex, double brightness, std::uint8_t* image) const {
    const std::size_t n = pixelCount();
    const std::size_t shift = static_cast<std::size_t>((imageIndex * 104729u) % n);
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t k = i + shift;
        if (k >= n) k -= n;
        double light = state_[i] == PixelNothing ? 0.02 : reflectance_[i];
        if (state_[i] == PixelShadowed) light *= 0.3;
        // The 2D image is taken with ambient light added, about twice as bright as the pattern alone.
        const double value = light * brightness * 2.0 * 255.0 + 1.5 * noise_[k];
        image[i] = static_cast<std::uint8_t>(std::clamp(value, 0.0, 255.0));
    }
}

}  // namespace emulator
