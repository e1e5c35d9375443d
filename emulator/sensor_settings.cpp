// The settings of the emulated sensor; see sensor_settings.h.
#include "sensor_settings.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tavrion.h"

namespace emulator {
namespace {

// Numbers in the descriptor: integers without a point, others with as many digits as they need.
std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string integer(double value) { return std::to_string(static_cast<long long>(std::trunc(value))); }

std::int32_t setInRange(Range& range, std::optional<double> value) {
    if (!value) return TAVRION_ERR_VALUE_REFUSED;
    if (*value < range.min || *value > range.max) return TAVRION_ERR_VALUE_REFUSED;
    range.current = *value;
    return TAVRION_OK;
}

std::optional<double> asDouble(std::optional<long long> value) {
    if (!value) return std::nullopt;
    return static_cast<double>(*value);
}

void writeRange(std::ostringstream& xml, const char* indent, const Range& range, bool asInteger) {
    const auto show = [&](double v) { return asInteger ? integer(v) : number(v); };
    xml << indent << "<min>" << show(range.min) << "</min>\n"
        << indent << "<max>" << show(range.max) << "</max>\n"
        << indent << "<current>" << show(range.current) << "</current>\n";
}

void writeFilters(std::ostringstream& xml, const char* family, const std::vector<FilterSetting>& filters) {
    xml << "    <" << family << ">\n      <filters>\n";
    for (std::size_t f = 0; f < filters.size(); ++f) {
        xml << "        <filter" << f + 1 << ">\n"
            << "          <command>" << filters[f].command << "</command>\n"
            << "          <current>" << (filters[f].enabled ? 1 : 0) << "</current>\n";
        for (std::size_t p = 0; p < filters[f].properties.size(); ++p) {
            const FilterPropertySetting& property = filters[f].properties[p];
            xml << "          <filterproperty" << p + 1 << ">\n"
                << "            <command>" << property.command << "</command>\n";
            writeRange(xml, "            ", property.value, false);
            xml << "          </filterproperty" << p + 1 << ">\n";
        }
        xml << "        </filter" << f + 1 << ">\n";
    }
    xml << "      </filters>\n    </" << family << ">\n";
}

}  // namespace

std::optional<double> parseDecimal(const std::string& text) {
    if (text.empty() || text.size() > 64 || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno != 0 || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<long long> parseInteger(const std::string& text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::size_t start = text[0] == '-' || text[0] == '+' ? 1 : 0;
    if (start == text.size()) return std::nullopt;
    long long value = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return text[0] == '-' ? -value : value;
}

SensorSettings::SensorSettings(std::string serialNumber, std::uint32_t width, std::uint32_t height)
    : serialNumber_(std::move(serialNumber)), width_(width), height_(height) {
    // The field of view keeps the pixels square: the Y range follows the aspect ratio.
    measuringRangeY_ = std::round(measuringRangeX_ * height / width * 10.0) / 10.0;
    // Command texts carry a six-character prefix ("SetStk", "SetPcf"); what follows names the filter.
    stackFilters_ = {
        {"SetStkContrastFilter", true, {{"SetStkContrastThreshold", {12, 0, 255}}}},
        {"SetStkSaturationFilter", true, {{"SetStkSaturationLimit", {95, 50, 100}}}},
        {"SetStkPhaseNoiseFilter", false, {{"SetStkPhaseNoiseLimit", {0.2, 0.01, 1}}}},
    };
    cloudFilters_ = {
        {"SetPcfMedianFilter",
         false,
         {{"SetPcfMedianKernelSize", {3, 3, 9}},
          {"SetPcfMedianPasses", {1, 1, 5}},
          {"SetPcfMedianMaxDelta", {2, 0.1, 10}}}},
        {"SetPcfOutlierFilter", true, {{"SetPcfOutlierDistance", {5, 0.5, 50}}}},
        {"SetPcfSmoothingFilter",
         false,
         {{"SetPcfSmoothingSigma", {1, 0.1, 5}},
          {"SetPcfSmoothingRadius", {2, 1, 10}},
          {"SetPcfSmoothingEdgeLimit", {4, 0.5, 20}}}},
    };
}

bool SensorSettings::knows(const std::string& name) const {
    if (name == "SetExposureTime" || name == "SetGain" || name == "SetLEDPower" || name == "SetStackAcquisitionMode" ||
        name == "SetCameraMode")
        return true;
    for (const auto* family : {&stackFilters_, &cloudFilters_})
        for (const FilterSetting& filter : *family) {
            if (filter.command == name) return true;
            for (const FilterPropertySetting& property : filter.properties)
                if (property.command == name) return true;
        }
    return false;
}

std::int32_t SensorSettings::apply(const std::string& name, const std::optional<std::string>& value) {
    if (!knows(name)) return TAVRION_ERR_UNKNOWN_COMMAND;
    if (!value) return TAVRION_ERR_VALUE_REFUSED;
    if (name == "SetExposureTime") return setInRange(exposure_, parseDecimal(*value));
    // Gain arrives as a decimal ("SetGain=2.500000") and is kept so; the descriptor declares gain an integer and
    // shows the integer part.
    if (name == "SetGain") return setInRange(gain_, parseDecimal(*value));
    if (name == "SetLEDPower") return setInRange(ledPower_, asDouble(parseInteger(*value)));
    if (name == "SetStackAcquisitionMode") return setInRange(stackMode_, asDouble(parseInteger(*value)));
    if (name == "SetCameraMode") {
        if (*value != "0" && *value != "1") return TAVRION_ERR_VALUE_REFUSED;
        cameraMode_ = *value == "1" ? 1 : 0;
        return TAVRION_OK;
    }
    return applyFilter(name, value);
}

std::int32_t SensorSettings::applyFilter(const std::string& name, const std::optional<std::string>& value) {
    for (auto* family : {&stackFilters_, &cloudFilters_})
        for (FilterSetting& filter : *family) {
            if (filter.command == name) {
                if (*value != "0" && *value != "1") return TAVRION_ERR_VALUE_REFUSED;
                filter.enabled = *value == "1";
                return TAVRION_OK;
            }
            for (FilterPropertySetting& property : filter.properties)
                if (property.command == name) return setInRange(property.value, parseDecimal(*value));
        }
    return TAVRION_ERR_UNKNOWN_COMMAND;
}

std::string SensorSettings::descriptorXml() const {
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<device>\n  <general>\n"
        << "    <ordernumber>CVS-3D-" << width_ << "x" << height_ << "-B</ordernumber>\n"
        << "    <productversion>2.1</productversion>\n"
        << "    <producer>Corvastrum</producer>\n"
        << "    <description>Corvastrum 3D structured-light sensor</description>\n"
        << "    <serialnumber>" << serialNumber_ << "</serialnumber>\n";
    // A locally administered MAC address that follows from the serial number.
    std::uint32_t hash = 2166136261u;
    for (const char c : serialNumber_) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    char mac[32];
    std::snprintf(mac, sizeof mac, "02:43:56:%02X:%02X:%02X", (hash >> 16) & 0xFF, (hash >> 8) & 0xFF, hash & 0xFF);
    xml << "    <mac>" << mac << "</mac>\n"
        << "    <hardwareversion>\n      <general>HW-1.3</general>\n    </hardwareversion>\n"
        << "    <firmwareversion>\n      <general>4.2.7</general>\n    </firmwareversion>\n"
        << "    <workingrange_z_start>" << number(workingRangeZStart_) << "</workingrange_z_start>\n"
        << "    <measuringrange_x>" << number(measuringRangeX_) << "</measuringrange_x>\n"
        << "    <measuringrange_y>" << number(measuringRangeY_) << "</measuringrange_y>\n"
        << "    <measuringrange_z>" << number(measuringRangeZ_) << "</measuringrange_z>\n"
        << "    <pixel_x_max>" << width_ << "</pixel_x_max>\n"
        << "    <pixel_y_max>" << height_ << "</pixel_y_max>\n"
        << "  </general>\n  <settings>\n    <exposuretime unit=\"us\">\n";
    writeRange(xml, "      ", exposure_, false);
    xml << "    </exposuretime>\n    <gain>\n";
    writeRange(xml, "      ", gain_, true);
    xml << "    </gain>\n    <ledpower unit=\"percent\">\n";
    writeRange(xml, "      ", ledPower_, true);
    xml << "    </ledpower>\n    <roi>\n      <roi1>\n"
        << "        <offsetx>\n          <current>0</current>\n        </offsetx>\n"
        << "        <offsety>\n          <current>0</current>\n        </offsety>\n"
        << "        <width>\n          <current>" << width_ << "</current>\n        </width>\n"
        << "        <height>\n          <current>" << height_ << "</current>\n        </height>\n"
        << "      </roi1>\n    </roi>\n";
    writeFilters(xml, "stackfilter", stackFilters_);
    writeFilters(xml, "pointcloudfilter", cloudFilters_);
    xml << "    <stackacquisitionmode>\n";
    writeRange(xml, "      ", stackMode_, true);
    xml << "    </stackacquisitionmode>\n"
        << "    <cameramode>\n      <current>" << cameraMode_ << "</current>\n    </cameramode>\n"
        << "  </settings>\n</device>\n";
    return xml.str();
}

}  // namespace emulator
