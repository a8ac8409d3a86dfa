// Raw data and string table carried inside the module (see cmake/EmbedResources.cmake), looked
// up the same way on every target.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qd {

struct TEmbeddedResource {
  const char* Name;
  const unsigned char* Data;
  std::size_t Size;
};

// Called by the generated sources while the module starts; the data must stay in place for
// the life of the module.
void RegisterEmbeddedResources(const TEmbeddedResource* AItems, std::size_t ACount);
void RegisterEmbeddedStrings(const unsigned char* AData, std::size_t ASize);

// The bytes of the raw-data resource AName (letter case ignored); nothing when the module
// carries no such resource.
std::optional<std::string_view> FindModuleResource(const std::string& AName);

// Entry AId of the string table (UTF-8); empty text when there is no such entry.
std::string LoadResourceString(int AId);

}  // namespace qd
