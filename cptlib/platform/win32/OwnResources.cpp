#include "cptlib/platform/OwnResources.h"

#include "cptlib/platform/win32/Wide.h"
#include "cptlib/resources/ResourceUtils.h"

#include <windows.h>

#include <optional>
#include <string>

namespace cptlib::platform {

namespace {

// The system's form of a type or name: a number, or text (which it compares without case, and
// where "#12" stands for the number 12 as in our tree).
struct NativeId {
    explicit NativeId(const ResourceId& id)
        : text(id.name.empty() ? std::wstring() : Widen(id.name)) {
        number = id.id;
    }
    LPCWSTR get() const { return text.empty() ? MAKEINTRESOURCEW(number) : text.c_str(); }

    std::wstring text;
    std::uint16_t number = 0;
};

BOOL CALLBACK FirstLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
    *reinterpret_cast<std::optional<WORD>*>(found) = language;
    return FALSE; // the first is enough
}

} // namespace

HRESULT FindOwnResource(const ResourceId& type, const ResourceId& name,
                        std::span<const std::uint16_t> languages,
                        std::span<const std::uint8_t>& bytes) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const NativeId nativeType(type), nativeName(name);
    HRSRC found = nullptr;
    for (const std::uint16_t language : languages) {
        found = FindResourceExW(module, nativeType.get(), nativeName.get(), language);
        if (found != nullptr)
            break;
    }
    if (found == nullptr) {
        std::optional<WORD> first;
        // Tells, through its error, whether the type or the name is missing.
        if (!EnumResourceLanguagesW(module, nativeType.get(), nativeName.get(), FirstLanguage,
                                    reinterpret_cast<LONG_PTR>(&first)) &&
            !first) {
            const DWORD error = GetLastError();
            return HResultFromWin32(error == ERROR_RESOURCE_DATA_NOT_FOUND ||
                                            error == ERROR_RESOURCE_TYPE_NOT_FOUND ||
                                            error == ERROR_RESOURCE_NAME_NOT_FOUND
                                        ? error
                                        : kErrorResourceLangNotFound);
        }
        if (!first)
            return HResultFromWin32(kErrorResourceLangNotFound);
        found = FindResourceExW(module, nativeType.get(), nativeName.get(), *first);
        if (found == nullptr)
            return HResultFromWin32(GetLastError());
    }
    const HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr)
        return HResultFromWin32(GetLastError());
    // Resources stay mapped with the image for the whole run.
    bytes = {static_cast<const std::uint8_t*>(data), SizeofResource(module, found)};
    return kHrOk;
}

} // namespace cptlib::platform
