#include "platform/core/PropList.h"

#include <cmath>

namespace zoc::core {

namespace {

Ref<PropList> CopyList(const Ref<PropList>& list)
{
    return list ? list->DeepCopy() : Ref<PropList>();
}

bool SameFloat(float a, float b)
{
    // A NaN stored in a list still equals the NaN in its copy.
    return a == b || (std::isnan(a) && std::isnan(b));
}

bool SameList(const Ref<PropList>& a, const Ref<PropList>& b)
{
    if (!a || !b)
        return !a && !b;
    return a == b || a->Equals(*b);
}

struct ValueEquals {
    bool operator()(float a, float b) const { return SameFloat(a, b); }
    bool operator()(const FloatPairList& a, const FloatPairList& b) const
    {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (!SameFloat(a[i].first, b[i].first) || !SameFloat(a[i].second, b[i].second))
                return false;
        }
        return true;
    }
    bool operator()(const Ref<PropList>& a, const Ref<PropList>& b) const { return SameList(a, b); }
    bool operator()(const PropListArray& a, const PropListArray& b) const
    {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (!SameList(a[i], b[i]))
                return false;
        }
        return true;
    }
    template <class T>
    bool operator()(const T& a, const T& b) const
    {
        return a == b;
    }
    template <class T, class U>
    bool operator()(const T&, const U&) const
    {
        return false;
    }
};

} // namespace

bool PropList::Remove(std::string_view key)
{
    const auto found = entries_.find(key);
    if (found == entries_.end())
        return false;
    entries_.erase(found);
    return true;
}

const PropValue* PropList::Find(std::string_view key) const
{
    const auto found = entries_.find(key);
    return found != entries_.end() ? &found->second : nullptr;
}

Ref<PropList> PropList::DeepCopy() const
{
    Ref<PropList> copy = MakeRef<PropList>();
    for (const auto& [key, value] : entries_) {
        if (const auto* list = std::get_if<Ref<PropList>>(&value)) {
            copy->Set(key, CopyList(*list));
        } else if (const auto* array = std::get_if<PropListArray>(&value)) {
            PropListArray copied;
            copied.reserve(array->size());
            for (const Ref<PropList>& element : *array)
                copied.push_back(CopyList(element));
            copy->Set(key, std::move(copied));
        } else {
            copy->Set(key, value);
        }
    }
    return copy;
}

bool PropList::Equals(const PropList& other) const
{
    if (this == &other)
        return true;
    if (entries_.size() != other.entries_.size())
        return false;
    auto mine = entries_.begin();
    auto theirs = other.entries_.begin();
    for (; mine != entries_.end(); ++mine, ++theirs) {
        if (mine->first != theirs->first || !std::visit(ValueEquals{}, mine->second, theirs->second))
            return false;
    }
    return true;
}

} // namespace zoc::core
