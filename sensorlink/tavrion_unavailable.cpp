// Placeholder until the network client exists: every call fails as a sensor that cannot be reached.
#include "tavrion.h"

extern "C" {
void* Tavrion_Connect(const char*, const char*, std::int32_t) { return nullptr; }
std::int32_t Tavrion_Disconnect(void*) { return TAVRION_ERR_LINK_DOWN; }
std::int32_t Tavrion_GetSensorStatus(void*, std::int32_t*) { return TAVRION_ERR_LINK_DOWN; }
std::int32_t Tavrion_WriteData(void*, const char*, std::int32_t) { return TAVRION_ERR_LINK_DOWN; }
std::int32_t Tavrion_ReadData(void*, const char*, char*, std::int32_t, std::int32_t) { return TAVRION_ERR_LINK_DOWN; }
std::int32_t Tavrion_GetPointCloud(void*, void*, std::int32_t, std::int32_t, std::int32_t) { return TAVRION_ERR_LINK_DOWN; }
std::int32_t Tavrion_GetCameraImage(void*, std::uint8_t*, std::int32_t, std::int32_t, std::int32_t) { return TAVRION_ERR_LINK_DOWN; }
}
