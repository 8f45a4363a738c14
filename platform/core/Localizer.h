#pragma once
// Turns localizable keys ("$$$/Group/Name=Default text") into display text.

#include <string>
#include <string_view>
#include <unordered_map>
#include <mutex>

#include "platform/core/String.h"

namespace zoc::core {

class Localizer {
public:
    /// The process-wide localizer.
    static Localizer& Instance();

    /// The translation for the key's group path when one is installed, else
    /// the default text after the first '='. A string without '=' is returned
    /// as it is.
    UString Localize(std::string_view key) const;

    /// Installs a translation for a group path ("$$$/Group/Name").
    void SetTranslation(std::string_view groupPath, UString text);
    void ClearTranslations();

    /// The group path of a key: everything before the first '='.
    static std::string_view GroupPath(std::string_view key);
    /// The default text of a key: everything after the first '='.
    static std::string_view DefaultText(std::string_view key);

private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, UString> translations_;
};

/// Shorthand for Localizer::Instance().Localize(key).
UString Localize(std::string_view key);

} // namespace zoc::core
