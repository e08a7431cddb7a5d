#pragma once
#include <atomic>
#include <cassert>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace harvolin
{

// Base of the reference-counted objects: operations, buffers, storage blocks, lock objects, lock sections.
// A new object has no reference; the first TRefPtr takes one, so make objects with MakeRef() and never hand
// `this` to a TRefPtr from a constructor (the temporary's release would delete the half-built object).
// Any thread may add and release references; the last release calls LastReleased() on that thread.
class TRefCounted
{
public:
    TRefCounted(const TRefCounted&) = delete;
    TRefCounted& operator=(const TRefCounted&) = delete;

    // relaxed: whoever adds a reference already holds one, so nothing can be freed meanwhile.
    void AddRef() const noexcept { FRefCount.fetch_add(1, std::memory_order_relaxed); }

    // acq_rel: whoever deletes or recycles the object must see every earlier write of every other owner.
    void Release() const noexcept
    {
        if (FRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
            const_cast<TRefCounted*>(this)->LastReleased();
    }

    // Exact at the moment of reading. Copy-on-write may trust a 1 it reads itself (no other owner can add a
    // reference); any other value is only a snapshot. acquire: pairs with the releases of former owners.
    [[nodiscard]] std::int32_t RefCount() const noexcept { return FRefCount.load(std::memory_order_acquire); }
protected:
    TRefCounted() noexcept = default;
    virtual ~TRefCounted() { assert(FRefCount.load(std::memory_order_relaxed) == 0); }

    // Called once the count has dropped to zero. Pooled storage overrides this to return itself to its pool;
    // an override must neither throw nor touch the object through a TRefPtr.
    virtual void LastReleased() noexcept { delete this; }
private:
    mutable std::atomic<std::int32_t> FRefCount{0};
};

// Owning pointer to an object with AddRef()/Release() (TRefCounted or an interface of the object model).
// Copying adds a reference, moving steals it, destruction releases it, also while an exception unwinds.
// One TRefPtr must not be written by two threads at once; distinct TRefPtrs to one object may.
template <class T>
class TRefPtr
{
public:
    using element_type = T;

    constexpr TRefPtr() noexcept = default;
    constexpr TRefPtr(std::nullptr_t) noexcept {}
    // explicit: an accidental conversion of a raw pointer would release, and so delete, an object nobody
    // held.
    explicit TRefPtr(T* object) noexcept : FObject(object) { AddRefObject(); }
    TRefPtr(const TRefPtr& other) noexcept : FObject(other.FObject) { AddRefObject(); }
    TRefPtr(TRefPtr&& other) noexcept : FObject(std::exchange(other.FObject, nullptr)) {}
    template <class U>
    requires std::is_convertible_v<U*, T*> TRefPtr(const TRefPtr<U>& other)
    noexcept : FObject(other.Get()) { AddRefObject(); }
    template <class U>
    requires std::is_convertible_v<U*, T*> TRefPtr(TRefPtr<U>&& other)
    noexcept : FObject(other.Detach()) {}
    ~TRefPtr() { ReleaseObject(); }

    // By value: covers copy and move, and self-assignment keeps the object alive.
    TRefPtr& operator=(TRefPtr other) noexcept
    {
        Swap(other);
        return *this;
    }

    [[nodiscard]] T* Get() const noexcept { return FObject; }
    T* operator->() const noexcept { return FObject; }
    T& operator*() const noexcept { return *FObject; }
    explicit operator bool() const noexcept { return FObject != nullptr; }

    void Reset() noexcept { TRefPtr().Swap(*this); }
    void Reset(T* object) noexcept { TRefPtr(object).Swap(*this); }
    void Swap(TRefPtr& other) noexcept { std::swap(FObject, other.FObject); }

    // Gives up ownership without releasing: the caller now owns the reference. Used by the converting move.
    [[nodiscard]] T* Detach() noexcept { return std::exchange(FObject, nullptr); }
private:
    void AddRefObject() const noexcept
    {
        if (FObject != nullptr)
            FObject->AddRef();
    }
    void ReleaseObject() const noexcept
    {
        if (FObject != nullptr)
            FObject->Release();
    }

    T* FObject = nullptr;
};

template <class T, class U>
bool operator==(const TRefPtr<T>& a, const TRefPtr<U>& b) noexcept
{
    return a.Get() == b.Get();
}

template <class T>
bool operator==(const TRefPtr<T>& a, std::nullptr_t) noexcept
{
    return a.Get() == nullptr;
}

// Orders by address, so that pointers can key ordered containers.
template <class T, class U>
std::strong_ordering operator<=>(const TRefPtr<T>& a, const TRefPtr<U>& b) noexcept
{
    return std::compare_three_way{}(a.Get(), b.Get());
}

// The factory for reference-counted objects: the result holds the first reference.
template <class T, class... A>
[[nodiscard]] TRefPtr<T> MakeRef(A&&... args)
{
    return TRefPtr<T>(new T(std::forward<A>(args)...));
}

// Class test with inheritance: the object as T, or null when it is not a T (or when p is null).
template <class T, class U>
[[nodiscard]] TRefPtr<T> RefCast(const TRefPtr<U>& p) noexcept
{
    return TRefPtr<T>(dynamic_cast<T*>(p.Get()));
}

}   // namespace harvolin
