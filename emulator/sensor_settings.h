// The sensor's settings as the descriptor shows them: identity, ranges, exposure, gain, LED power, region of
// interest, the six filters with their properties, stack acquisition and camera mode. Applies the settings
// commands and writes the descriptor XML. Not thread-safe; the sensor model guards it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace emulator {

struct Range {
    double current;
    double min;
    double max;
};

struct FilterPropertySetting {
    std::string command;
    Range value;
};

struct FilterSetting {
    std::string command;
    bool enabled;
    std::vector<FilterPropertySetting> properties;
};

class SensorSettings {
public:
    SensorSettings(std::string serialNumber, std::uint32_t width, std::uint32_t height);

    // Applies a settings command, split at its first '=' into name and value (no value when there is no '=').
    // Returns 0, TAVRION_ERR_UNKNOWN_COMMAND when the name is no setting, or TAVRION_ERR_VALUE_REFUSED when the
    // value is missing, malformed or out of range; a refused command changes nothing.
    std::int32_t apply(const std::string& name, const std::optional<std::string>& value);
    // True when `name` is one of the settings commands.
    bool knows(const std::string& name) const;

    std::string descriptorXml() const;

    double exposureUs() const { return exposure_.current; }
    double gain() const { return gain_.current; }
    double ledPower() const { return ledPower_.current; }
    int cameraMode() const { return cameraMode_; }
    const std::vector<FilterSetting>& stackFilters() const { return stackFilters_; }
    const std::vector<FilterSetting>& cloudFilters() const { return cloudFilters_; }
    double workingRangeZStart() const { return workingRangeZStart_; }
    double measuringRangeX() const { return measuringRangeX_; }
    double measuringRangeY() const { return measuringRangeY_; }
    double measuringRangeZ() const { return measuringRangeZ_; }
    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }

private:
    std::int32_t applyFilter(const std::string& name, const std::optional<std::string>& value);

    std::string serialNumber_;
    std::uint32_t width_;
    std::uint32_t height_;
    double workingRangeZStart_ = 300.0;
    double measuringRangeX_ = 320.0;
    double measuringRangeY_;
    double measuringRangeZ_ = 400.0;
    Range exposure_{10000.0, 100.0, 100000.0};  // microseconds
    Range gain_{1.0, 1.0, 16.0};
    Range ledPower_{80.0, 0.0, 100.0};  // percent
    Range stackMode_{1.0, 0.0, 3.0};
    int cameraMode_ = 0;  // 0: 2D camera images, 1: 3D point clouds
    std::vector<FilterSetting> stackFilters_;
    std::vector<FilterSetting> cloudFilters_;
};

// Strict value parsers for command values: the whole text must be the number, no blanks, finite.
std::optional<double> parseDecimal(const std::string& text);
std::optional<long long> parseInteger(const std::string& text);

}  // namespace emulator
