#include "platform/absent_host.h"

#include <cstring>

namespace morivane {

std::string MemoryRegistry::PathOf(RegistryKey root, const std::string& subKey) {
    return std::to_string(root) + "\\" + subKey;
}

void MemoryRegistry::PutString(const std::string& subKey, const std::string& valueName,
                               const std::string& text) {
    Value value{kRegSz, std::vector<std::uint8_t>(text.begin(), text.end())};
    value.data.push_back(0);
    keys_[PathOf(kLocalMachine, subKey)][valueName] = std::move(value);
}

std::optional<std::string> MemoryRegistry::GetString(const std::string& subKey,
                                                     const std::string& valueName) const {
    const auto key = keys_.find(PathOf(kLocalMachine, subKey));
    if (key == keys_.end()) return std::nullopt;
    const auto value = key->second.find(valueName);
    if (value == key->second.end() || value->second.type != kRegSz) return std::nullopt;
    const std::vector<std::uint8_t>& data = value->second.data;
    std::size_t length = 0;
    while (length < data.size() && data[length] != 0) ++length;
    return std::string(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
}

std::optional<RegistryKey> MemoryRegistry::OpenKey(RegistryKey root, const std::string& subKey,
                                                   std::uint32_t) {
    const std::string path = PathOf(root, subKey);
    if (keys_.count(path) == 0) return std::nullopt;
    open_[nextHandle_] = path;
    return nextHandle_++;
}

bool MemoryRegistry::QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t* type,
                                std::uint8_t* data, std::uint32_t* size) {
    const auto open = open_.find(key);
    if (open == open_.end()) return false;
    const Key& values = keys_[open->second];
    const auto value = values.find(valueName);
    if (value == values.end() || value->second.data.size() > *size) return false;
    *type = value->second.type;
    *size = static_cast<std::uint32_t>(value->second.data.size());
    if (*size > 0) std::memcpy(data, value->second.data.data(), *size);
    return true;
}

std::optional<RegistryKey> MemoryRegistry::CreateKey(RegistryKey root, const std::string& subKey,
                                                     const std::string&, std::uint32_t,
                                                     std::uint32_t access) {
    keys_[PathOf(root, subKey)];
    return OpenKey(root, subKey, access);
}

bool MemoryRegistry::SetValue(RegistryKey key, const std::string& valueName, std::uint32_t type,
                              const std::uint8_t* data, std::uint32_t size) {
    const auto open = open_.find(key);
    if (open == open_.end()) return false;
    keys_[open->second][valueName] = Value{type, std::vector<std::uint8_t>(data, data + size)};
    return true;
}

void MemoryRegistry::CloseKey(RegistryKey key) {
    open_.erase(key);
}

}  // namespace morivane
