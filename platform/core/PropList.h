#pragma once
// Property lists: string keys mapped to typed values, nested as deep as
// needed. Saved settings carry them as their custom section.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/core/RefCounted.h"
#include "platform/core/String.h"

namespace zoc::core {

class PropList;
using FloatPairList = std::vector<std::pair<float, float>>;
using PropListArray = std::vector<Ref<PropList>>;
using PropValue = std::variant<float, std::int64_t, bool, UString, FloatPairList, Ref<PropList>, PropListArray>;

class PropList : public RefCountedObject {
public:
    using Entries = std::map<std::string, PropValue, std::less<>>;

    void Set(std::string key, PropValue value) { entries_[std::move(key)] = std::move(value); }
    bool Remove(std::string_view key);
    void Clear() { entries_.clear(); }
    bool Empty() const { return entries_.empty(); }
    std::size_t Size() const { return entries_.size(); }
    bool Has(std::string_view key) const { return Find(key) != nullptr; }
    const PropValue* Find(std::string_view key) const;
    const Entries& GetEntries() const { return entries_; }

    /// The value under `key` when it holds a T; nullopt when missing or of
    /// another type. An int64 read as float (and back) converts.
    template <class T>
    std::optional<T> Get(std::string_view key) const
    {
        const PropValue* value = Find(key);
        if (!value)
            return std::nullopt;
        if (const T* typed = std::get_if<T>(value))
            return *typed;
        if constexpr (std::is_same_v<T, float>) {
            if (const auto* integer = std::get_if<std::int64_t>(value))
                return static_cast<float>(*integer);
        }
        return std::nullopt;
    }

    /// A copy that shares nothing with this list.
    Ref<PropList> DeepCopy() const;
    /// Structural equality, nested lists compared by content.
    bool Equals(const PropList& other) const;

private:
    Entries entries_;
};

} // namespace zoc::core
