// Little- and big-endian reads of the fixed-width integers the file format is made of.
// Callers check bounds before reading; these helpers do not.
#pragma once

#include <cstdint>
#include <cstring>

namespace jet {

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get24(const uint8_t* p) { return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16); }
inline uint32_t Get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) {
  return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}
inline uint32_t Get24BigEndian(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (p[1] << 8) | p[2];
}
inline uint32_t Get32BigEndian(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
inline double GetDouble(const uint8_t* p) {
  uint64_t bits = Get64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline float GetFloat(const uint8_t* p) {
  uint32_t bits = Get32(p);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

inline void Put16(uint8_t* p, uint16_t v) { p[0] = v & 0xFF; p[1] = v >> 8; }
inline void Put24(uint8_t* p, uint32_t v) { p[0] = v & 0xFF; p[1] = (v >> 8) & 0xFF; p[2] = (v >> 16) & 0xFF; }
inline void Put32(uint8_t* p, uint32_t v) {
  p[0] = v & 0xFF; p[1] = (v >> 8) & 0xFF; p[2] = (v >> 16) & 0xFF; p[3] = v >> 24;
}
inline void Put64(uint8_t* p, uint64_t v) { Put32(p, static_cast<uint32_t>(v)); Put32(p + 4, static_cast<uint32_t>(v >> 32)); }
inline void Put24BigEndian(uint8_t* p, uint32_t v) { p[0] = (v >> 16) & 0xFF; p[1] = (v >> 8) & 0xFF; p[2] = v & 0xFF; }
inline void Put32BigEndian(uint8_t* p, uint32_t v) {
  p[0] = v >> 24; p[1] = (v >> 16) & 0xFF; p[2] = (v >> 8) & 0xFF; p[3] = v & 0xFF;
}

}  // namespace jet
