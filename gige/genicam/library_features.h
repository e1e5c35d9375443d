// The features every device has before the program declares its own: image format, acquisition, chunk
// controls and the transport-layer features that clients look for by their standard names.
#pragma once

#include "genicam/feature_store.h"

namespace genicam {

void declareLibraryFeatures(FeatureStore& store);

// Default image geometry until the program sets its own.
constexpr std::int64_t kDefaultWidth = 640;
constexpr std::int64_t kDefaultHeight = 480;

// DeviceLinkThroughputLimit, bytes per second: from 1 MB/s to 10 GB/s, a gigabit link until a client sets it.
constexpr std::int64_t kMinThroughputLimit = 1000000;
constexpr std::int64_t kMaxThroughputLimit = 10000000000;
constexpr std::int64_t kDefaultThroughputLimit = 125000000;

}  // namespace genicam
