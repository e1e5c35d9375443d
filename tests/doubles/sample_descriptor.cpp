// The sample sensor's descriptor, assembled as XML with the values the tests expect.
#include "sample_descriptor.h"

namespace {

std::string filterXml(const std::string& family, int number, int properties, bool enabled) {
    std::string xml = "<filter" + std::to_string(number) + "><command>Set" + family + std::to_string(number) +
                      "</command><current>" + (enabled ? "1" : "0") + "</current>";
    for (int p = 1; p <= properties; ++p) {
        const std::string tag = "filterproperty" + std::to_string(p);
        xml += "<" + tag + "><command>Set" + family + std::to_string(number) + "Prop" + std::to_string(p) +
               "</command><current>1.5</current><min>0</min><max>10</max></" + tag + ">";
    }
    return xml + "</filter" + std::to_string(number) + ">";
}

}  // namespace

std::string sampleDescriptor() {
    return "<?xml version=\"1.0\"?>\n<device>"
           "<general><ordernumber>C3D-2040</ordernumber><productversion>2.1</productversion>"
           "<producer>Corvastrum</producer><description>Corvastrum 3D sensor</description>"
           "<serialnumber>SN4711</serialnumber><mac>00:11:22:33:44:55</mac>"
           "<hardwareversion><general>HW3</general></hardwareversion>"
           "<firmwareversion><general>FW1.2.3</general></firmwareversion>"
           "<workingrange_z_start>400</workingrange_z_start><measuringrange_x>300</measuringrange_x>"
           "<measuringrange_y>200</measuringrange_y><measuringrange_z>500</measuringrange_z>"
           "<pixel_x_max>64</pixel_x_max><pixel_y_max>48</pixel_y_max></general>"
           "<settings><exposuretime><min>100</min><max>100000</max><current>10000</current></exposuretime>"
           "<gain><min>1</min><max>16</max><current>2</current></gain>"
           "<ledpower><current>80</current><min>0</min><max>100</max></ledpower>"
           "<roi><roi1><offsetx><current>0</current></offsetx><offsety><current>0</current></offsety>"
           "<width><current>64</current></width><height><current>48</current></height></roi1></roi>"
           "<stackfilter><filters>" +
           filterXml("SFilter", 1, 1, false) + filterXml("SFilter", 2, 1, true) + filterXml("SFilter", 3, 1, false) +
           "</filters></stackfilter><pointcloudfilter><filters>" + filterXml("PFilter", 1, 3, false) +
           filterXml("PFilter", 2, 1, false) + filterXml("PFilter", 3, 3, false) +
           "</filters></pointcloudfilter>"
           "<stackacquisitionmode><current>1</current><min>0</min><max>3</max></stackacquisitionmode>"
           "</settings></device>";
}

std::string replaceFirst(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}
