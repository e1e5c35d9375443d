// The 82 descriptor keys the bridge reads, in its order, for tests that check a descriptor is complete.
#pragma once

#include <string>
#include <vector>

inline std::vector<std::string> descriptorKeys() {
    std::vector<std::string> keys;
    const std::string s = "device:settings:", g = "device:general:";
    for (const char* k :
         {"exposuretime:min", "exposuretime:max", "exposuretime:current", "gain:min", "gain:max", "gain:current"})
        keys.push_back(s + k);
    for (const char* k : {"ordernumber", "productversion", "producer", "description", "serialnumber", "mac",
                          "hardwareversion:general", "firmwareversion:general", "workingrange_z_start",
                          "measuringrange_x", "measuringrange_y", "measuringrange_z", "pixel_x_max", "pixel_y_max"})
        keys.push_back(g + k);
    for (const char* k : {"ledpower:current", "ledpower:min", "ledpower:max", "roi:roi1:offsetx:current",
                          "roi:roi1:offsety:current", "roi:roi1:width:current", "roi:roi1:height:current"})
        keys.push_back(s + k);
    const int propertyCounts[6] = {1, 1, 1, 3, 1, 3};
    for (int f = 0; f < 6; ++f) {
        const std::string prefix =
            s + (f < 3 ? "stackfilter" : "pointcloudfilter") + ":filters:filter" + std::to_string(f % 3 + 1);
        keys.push_back(prefix + ":command");
        keys.push_back(prefix + ":current");
        for (int p = 1; p <= propertyCounts[f]; ++p)
            for (const char* k : {":command", ":current", ":min", ":max"})
                keys.push_back(prefix + ":filterproperty" + std::to_string(p) + k);
    }
    for (const char* k : {"stackacquisitionmode:current", "stackacquisitionmode:min", "stackacquisitionmode:max"})
        keys.push_back(s + k);
    return keys;
}
