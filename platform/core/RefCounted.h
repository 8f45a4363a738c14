#pragma once
// Reference counting for objects shared with the host: components, parameter
// descriptions, descriptors, property lists. Always held through Ref<T>.

#include <atomic>
#include <boost/intrusive_ptr.hpp>

namespace zoc::core {

template <class T>
using Ref = boost::intrusive_ptr<T>;

class RefCountedObject {
public:
    RefCountedObject() = default;
    RefCountedObject(const RefCountedObject&) = delete;
    RefCountedObject& operator=(const RefCountedObject&) = delete;
    virtual ~RefCountedObject() = default;

    int UseCount() const noexcept { return refs_.load(std::memory_order_acquire); }

    friend void intrusive_ptr_add_ref(const RefCountedObject* object) noexcept
    {
        object->refs_.fetch_add(1, std::memory_order_relaxed);
    }
    friend void intrusive_ptr_release(const RefCountedObject* object) noexcept
    {
        if (object->refs_.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete object;
    }

private:
    mutable std::atomic<int> refs_{0};
};

template <class T, class... Args>
Ref<T> MakeRef(Args&&... args)
{
    return Ref<T>(new T(std::forward<Args>(args)...));
}

} // namespace zoc::core
