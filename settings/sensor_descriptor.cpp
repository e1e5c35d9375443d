// The settings record from the sensor's descriptor: 82 keys read in a fixed order, stopping at the first
// key that yields no value; then the sensor temperature and the time stamp of the update.
#include <tinyxml2.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "descriptor_reader.h"
#include "main_class.h"

namespace {

// Reads keys into members in order; every call returns false once a key yielded nothing.
class KeyReader {
public:
    explicit KeyReader(const tinyxml2::XMLDocument& document) : document_(document) {}

    bool text(const std::string& key, std::string& member) { return readDescriptorValue(document_, key, member); }

    bool integer(const std::string& key, std::int32_t& member) {
        std::string value;
        return readDescriptorValue(document_, key, value) && convertInteger(value, member);
    }

    bool integer16(const std::string& key, std::uint16_t& member) {
        std::int32_t number = 0;
        if (!integer(key, number)) return false;
        member = static_cast<std::uint16_t>(number);
        return true;
    }

    bool real(const std::string& key, double& member) {
        std::string value;
        return readDescriptorValue(document_, key, value) && convertDouble(value, member);
    }

    bool single(const std::string& key, float& member) {
        std::string value;
        return readDescriptorValue(document_, key, value) && convertFloat(value, member);
    }

    // A command text; the part from its seventh character on names the filter or property for clients.
    bool command(const std::string& key, std::string& command, std::string& name) {
        if (!text(key, command)) return false;
        name = command.size() > 6 ? command.substr(6) : std::string();
        return true;
    }

private:
    const tinyxml2::XMLDocument& document_;
};

// Properties per filter: stack filters 1-3 have one; point-cloud filters 1 and 3 have three, 2 has one.
constexpr int kPropertyCount[kFilterCount] = {1, 1, 1, 3, 1, 3};

bool readFilter(KeyReader& reader, const std::string& prefix, FilterEntry& filter, int propertyCount) {
    std::int32_t current = 0;
    if (!reader.command(prefix + ":command", filter.command, filter.name)) return false;
    if (!reader.integer(prefix + ":current", current)) return false;
    filter.enabled = current != 0;
    for (int p = 0; p < propertyCount; ++p) {
        const std::string propertyPrefix = prefix + ":filterproperty" + std::to_string(p + 1);
        FilterProperty& property = filter.properties[p];
        if (!reader.command(propertyPrefix + ":command", property.command, property.name) ||
            !reader.single(propertyPrefix + ":current", property.current) ||
            !reader.single(propertyPrefix + ":min", property.min) ||
            !reader.single(propertyPrefix + ":max", property.max)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool CMainClass::parseSensorDescriptor(const char* descriptor) {
    tinyxml2::XMLDocument document;
    // The descriptor must end inside the reply buffer; a text that fills it without its NUL was cut off.
    const std::size_t length =
        descriptor == nullptr ? kDescriptorBufferSize : strnlen(descriptor, kDescriptorBufferSize);
    if (length == kDescriptorBufferSize || document.Parse(descriptor, length) != tinyxml2::XML_SUCCESS) {
        trace("Failed to read the XML data\n");
        return false;
    }

    KeyReader reader(document);
    const std::string general = "device:general:";
    const std::string settings = "device:settings:";
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        const bool complete =
            reader.single(settings + "exposuretime:min", exposureTimeMin) &&
            reader.single(settings + "exposuretime:max", exposureTimeMax) &&
            reader.single(settings + "exposuretime:current", exposureTimeCurrent) &&
            reader.integer(settings + "gain:min", gainMin) && reader.integer(settings + "gain:max", gainMax) &&
            reader.integer(settings + "gain:current", gainCurrent) &&
            reader.text(general + "ordernumber", orderNumber) &&
            reader.text(general + "productversion", productVersion) && reader.text(general + "producer", producer) &&
            reader.text(general + "description", description) && reader.text(general + "serialnumber", serialNumber) &&
            reader.text(general + "mac", macAddress) &&
            reader.text(general + "hardwareversion:general", hardwareVersion) &&
            reader.text(general + "firmwareversion:general", firmwareVersion) &&
            reader.real(general + "workingrange_z_start", workingRangeZStart) &&
            reader.real(general + "measuringrange_x", measuringRangeX) &&
            reader.real(general + "measuringrange_y", measuringRangeY) &&
            reader.real(general + "measuringrange_z", measuringRangeZ) &&
            reader.integer16(general + "pixel_x_max", pixelXMax) &&
            reader.integer16(general + "pixel_y_max", pixelYMax) &&
            reader.integer(settings + "ledpower:current", ledPowerCurrent) &&
            reader.integer(settings + "ledpower:min", ledPowerMin) &&
            reader.integer(settings + "ledpower:max", ledPowerMax) &&
            reader.integer16(settings + "roi:roi1:offsetx:current", roiOffsetX) &&
            reader.integer16(settings + "roi:roi1:offsety:current", roiOffsetY) &&
            reader.integer16(settings + "roi:roi1:width:current", roiWidth) &&
            reader.integer16(settings + "roi:roi1:height:current", roiHeight);
        if (!complete) return false;
        for (std::size_t f = 0; f < kFilterCount; ++f) {
            const std::string family = f < 3 ? "stackfilter" : "pointcloudfilter";
            const std::string prefix = settings + family + ":filters:filter" + std::to_string(f % 3 + 1);
            if (!readFilter(reader, prefix, filters[f], kPropertyCount[f])) return false;
        }
        if (!reader.integer16(settings + "stackacquisitionmode:current", stackAcquisitionModeCurrent) ||
            !reader.integer16(settings + "stackacquisitionmode:min", stackAcquisitionModeMin) ||
            !reader.integer16(settings + "stackacquisitionmode:max", stackAcquisitionModeMax)) {
            return false;
        }
    }

    readSensorTemperature();
    lastSettingsUpdateTick = tickSource();
    return true;
}
