#include "install_key.h"

namespace mirelo::test {
namespace {

constexpr wchar_t kParentKey[] = L"Software\\Kestrow";
constexpr wchar_t kKey[] = L"Software\\Kestrow\\Mirelo";
constexpr wchar_t kValue[] = L"FilePath";

bool KeyExists(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

}  // namespace

InstallKey::InstallKey() : m_hadParent(KeyExists(kParentKey)), m_hadKey(KeyExists(kKey)) {
    if (!m_hadKey) return;
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kKey, kValue, RRF_RT_ANY | RRF_NOEXPAND, &m_type, nullptr,
                     &size) != ERROR_SUCCESS) {
        return;
    }
    m_data.resize(size);
    m_hadValue = RegGetValueW(HKEY_CURRENT_USER, kKey, kValue, RRF_RT_ANY | RRF_NOEXPAND, &m_type,
                              m_data.data(), &size) == ERROR_SUCCESS;
    m_data.resize(size);
}

InstallKey::InstallKey(const std::wstring& folder) : InstallKey() {
    SetPath(folder);
}

InstallKey::~InstallKey() {
    if (!m_hadKey) {
        DeleteKey();
        if (!m_hadParent) RegDeleteKeyW(HKEY_CURRENT_USER, kParentKey);
        return;
    }
    if (m_hadValue) {
        SetRaw(m_type, m_data.data(), static_cast<DWORD>(m_data.size()));
    } else {
        DeleteValue();
    }
}

bool InstallKey::SetPath(const std::wstring& folder) {
    return SetRaw(REG_SZ, folder.c_str(),
                  static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

bool InstallKey::SetRaw(DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const bool set = RegSetValueExW(key, kValue, 0, type, static_cast<const BYTE*>(data), bytes) ==
                     ERROR_SUCCESS;
    RegCloseKey(key);
    return set;
}

void InstallKey::DeleteValue() {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, kValue);
}

void InstallKey::DeleteKey() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
}

}  // namespace mirelo::test
