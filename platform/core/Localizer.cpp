#include "platform/core/Localizer.h"

namespace zoc::core {

Localizer& Localizer::Instance()
{
    static Localizer instance;
    return instance;
}

UString Localizer::Localize(std::string_view key) const
{
    if (key.find('=') == std::string_view::npos)
        return FromUtf8(key);
    {
        std::lock_guard lock(mutex_);
        const auto found = translations_.find(std::string(GroupPath(key)));
        if (found != translations_.end())
            return found->second;
    }
    return FromUtf8(DefaultText(key));
}

void Localizer::SetTranslation(std::string_view groupPath, UString text)
{
    std::lock_guard lock(mutex_);
    translations_[std::string(groupPath)] = std::move(text);
}

void Localizer::ClearTranslations()
{
    std::lock_guard lock(mutex_);
    translations_.clear();
}

std::string_view Localizer::GroupPath(std::string_view key)
{
    return key.substr(0, key.find('='));
}

std::string_view Localizer::DefaultText(std::string_view key)
{
    const std::size_t equals = key.find('=');
    return equals == std::string_view::npos ? key : key.substr(equals + 1);
}

UString Localize(std::string_view key)
{
    return Localizer::Instance().Localize(key);
}

} // namespace zoc::core
