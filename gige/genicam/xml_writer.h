// Writes the GenICam description (GenApi schema 1.1) of a feature store: every category, feature,
// register node, computed node, chunk port and enumeration entry, with the elements given to them in the
// order the schema requires.
#pragma once

#include <string>

#include "genicam/feature_store.h"

namespace genicam {

struct DocumentInfo {
    std::string vendorName;
    std::string modelName;
    std::string toolTip;
};

// The store's registers must have their addresses (RegisterLayout::assign) before this is called.
std::string writeGenicamXml(const FeatureStore& store, const DocumentInfo& info);

}  // namespace genicam
