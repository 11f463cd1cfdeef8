#include "registry_store.h"

#include <algorithm>
#include <cwchar>
#include <utility>

#include "scoped_win.h"
#include "text.h"

namespace quillomir::win32 {

namespace {

// A part of a key path or a value name: not empty, no NUL that would cut it
// short, and no backslash that would reach into another key.
std::wstring NamePart(std::string_view utf8) {
    if (utf8.find('\0') != std::string_view::npos || utf8.find('\\') != std::string_view::npos) {
        return {};
    }
    return Widen(utf8);
}

}  // namespace

std::wstring RegistryStore::KeyPath(std::string_view application, std::string_view section) const {
    const std::wstring app = NamePart(application);
    const std::wstring sect = NamePart(section);
    if (app.empty() || sect.empty()) {
        return {};
    }
    std::wstring path = root_;
    if (!path.empty()) {
        path += L'\\';
    }
    return path + app + L'\\' + sect;
}

StoredText RegistryStore::Find(std::string_view application, std::string_view section,
                               std::string_view key) {
    const std::wstring path = KeyPath(application, section);
    const std::wstring name = NamePart(key);
    if (path.empty() || name.empty()) {
        return {StoredText::Kind::kOther, {}};
    }
    // A fixed buffer bounds the read: a longer value answers ERROR_MORE_DATA,
    // and a value of any type other than REG_SZ ERROR_UNSUPPORTED_TYPE.
    wchar_t buffer[kMaxTextLength + 1] = {};
    DWORD size = sizeof buffer;
    const LSTATUS status = RegGetValueW(hive_, path.c_str(), name.c_str(),
                                        RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, buffer, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        return {};  // neither the key nor the value is there
    }
    if (status != ERROR_SUCCESS) {
        return {StoredText::Kind::kOther, {}};
    }
    // The size counts bytes and the terminator; stop at the first NUL in any case.
    const std::size_t units = std::min<std::size_t>(size / sizeof(wchar_t), kMaxTextLength + 1);
    const std::size_t length = wcsnlen(buffer, units);
    return {StoredText::Kind::kText, Narrow(std::wstring_view(buffer, length))};
}

std::string RegistryStore::Read(std::string_view application, std::string_view section,
                                std::string_view key, std::string_view fallback) {
    StoredText stored = Find(application, section, key);
    if (stored.kind != StoredText::Kind::kText) {
        return std::string(fallback);
    }
    return std::move(stored.text);
}

bool RegistryStore::Remove(std::string_view application, std::string_view section,
                           std::string_view key) {
    const std::wstring path = KeyPath(application, section);
    const std::wstring name = NamePart(key);
    if (path.empty() || name.empty()) {
        return false;
    }
    ScopedKey handle;
    const LSTATUS opened = RegOpenKeyExW(hive_, path.c_str(), 0, KEY_SET_VALUE, handle.receive());
    if (opened == ERROR_FILE_NOT_FOUND) {
        return true;  // no key, so no value either
    }
    if (opened != ERROR_SUCCESS) {
        return false;
    }
    const LSTATUS deleted = RegDeleteValueW(handle.get(), name.c_str());
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

bool RegistryStore::Save(std::string_view application, std::string_view section,
                         std::string_view key, std::string_view text) {
    const std::wstring path = KeyPath(application, section);
    const std::wstring name = NamePart(key);
    if (path.empty() || name.empty()) {
        return false;
    }
    // Text the reader would not return as written is not stored: an embedded
    // NUL would truncate it, and a long one would read as missing.
    if (text.find('\0') != std::string_view::npos) {
        return false;
    }
    const std::wstring wide = Widen(text);
    if (wide.empty() != text.empty() || wide.size() > kMaxTextLength) {
        return false;
    }
    ScopedKey handle;
    if (RegCreateKeyExW(hive_, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, handle.receive(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD bytes = static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(handle.get(), name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(wide.c_str()), bytes) == ERROR_SUCCESS;
}

}  // namespace quillomir::win32
