#pragma once

namespace qd {
// Registers the component classes a module offers; each module defines it once.
void RegisterModuleClasses();
}  // namespace qd
