// Points a driver component at a scale listening on loopback.
#pragma once
#include <cstdint>
#include <string>

#include "host.h"

namespace qd::bench {

inline void PointAtScale(host::TComponent& AComponent, uint16_t APort) {
  using host::THostValue;
  AComponent.Call("SetParameter", {THostValue::Text("IPAddress"), THostValue::Text("127.0.0.1")});
  AComponent.Call("SetParameter", {THostValue::Text("IPPort"), THostValue::Text(std::to_string(APort))});
}

}  // namespace qd::bench
