// The features every device has before the program declares its own: image format, acquisition, chunk
// controls and the transport-layer features that clients look for by their standard names.
#pragma once

#include "genicam/feature_store.h"

namespace genicam {

void declareLibraryFeatures(FeatureStore& store);

// Default image geometry until the program sets its own.
constexpr std::int64_t kDefaultWidth = 640;
constexpr std::int64_t kDefaultHeight = 480;

}  // namespace genicam
