#pragma once
#include "buffers/SLSmartBuffers.h"
#include "kernels/SLVecKernels.h"
#include "rtl/Guid.h"
#include "rtl/RefCount.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace harvolin
{

class TSLGenericBuffer;
class TSLDataBufferAccess;
class ISLDataBufferAccess;
class ISLRealDataBufferAccess;
class ISLIntegerDataBufferAccess;
class ISLComplexDataBufferAccess;
class ISLBlockDataBufferAccess;

// Handed out by GetSequenceStamp; it only knows its buffer and lives exactly as long as the buffer.
class TSLSequenceStamp
{
public:
    explicit TSLSequenceStamp(TSLGenericBuffer& buffer) noexcept : FBuffer(&buffer) {}
    TSLSequenceStamp(const TSLSequenceStamp&) = delete;
    TSLSequenceStamp& operator=(const TSLSequenceStamp&) = delete;

    [[nodiscard]] TSLGenericBuffer& Buffer() const noexcept { return *FBuffer; }
private:
    TSLGenericBuffer* const FBuffer;
};

// The operations every data buffer answers, reached by query as the other buffer interfaces are.
//
// Queries: QueryInterface(iid) returns the interface with that identifier, already of that interface's
// type, or null; it adds no reference, so the pointer is valid while the caller holds a reference to the
// buffer. QueryBuffer<I>() below is the typed form.
//
// A handle is used by one thread at a time; handles on different threads may share one storage block, and
// copy-on-write decides under the storage's lock whether a write needs a private copy. Pointers from the
// Get... calls stay valid until the next call on this handle that may change its storage (writes, SetSize,
// MakeUnique, Assign).
class ISLBufferCore
{
public:
    static constexpr TGUID kIID = MakeGuid("{7AF98192-A3FE-4673-86DA-71108B862542}");

    virtual ~ISLBufferCore() = default;
    virtual void AddRef() const noexcept = 0;
    virtual void Release() const noexcept = 0;
    [[nodiscard]] virtual void* QueryInterface(const TGUID& iid) noexcept = 0;

    // Shares the source's storage and takes its byte size. Raises ERangeError, changing nothing, when the
    // source's storage or size cannot be this buffer's (see the classes).
    virtual void Assign(ISLBufferCore& source) = 0;
    // The object behind the interface, for class tests and to reach another buffer's storage.
    [[nodiscard]] virtual TSLGenericBuffer* GetObject() noexcept = 0;
    // Never copies. Null only for a buffer without memory.
    [[nodiscard]] virtual const std::uint8_t* GetReadBytes() const noexcept = 0;
    // Private storage first when it is shared with another owner, without the old contents.
    [[nodiscard]] virtual std::uint8_t* GetWriteBytes() = 0;
    // Private storage first when it is shared with another owner, with the old contents.
    [[nodiscard]] virtual std::uint8_t* GetModifyBytes() = 0;
    [[nodiscard]] virtual std::uint32_t GetByteSize() const noexcept = 0;
    // In elements.
    [[nodiscard]] virtual std::uint32_t GetSize() const noexcept = 0;
    [[nodiscard]] virtual TSLSequenceStamp& GetSequenceStamp() noexcept = 0;
    // Copies count bytes (elements, for the typed buffers between buffers of one class) into the
    // destination, which is written through its GetModify. Raises ERangeError, copying nothing, when either
    // side would be passed.
    virtual void CopyTo(std::uint32_t sourceOffset, ISLBufferCore& destination, std::uint32_t count,
                        std::uint32_t destinationOffset) = 0;
    // Count in elements; 0 and the current size change nothing. Raises ERangeError when the size would pass
    // the largest storage block, leaving the buffer as it was.
    virtual void SetSize(std::uint32_t count, bool preserve) = 0;
    // Gives this handle storage of its own when another owner shares it; preserve keeps the contents.
    virtual void MakeUnique(bool preserve) = 0;
    // A new handle of the same class on the same storage, counting as a further owner.
    [[nodiscard]] virtual TRefPtr<TSLGenericBuffer> Clone() = 0;
};

class ISLDataBuffer : public virtual ISLBufferCore
{
public:
    static constexpr TGUID kIID = MakeGuid("{7B3B2DDE-F56A-46B2-97B2-DCB0EE04CA07}");

    // A new access object of the class matching the buffer's type (see SLDataBufferAccess.h).
    [[nodiscard]] virtual TRefPtr<ISLDataBufferAccess> GetAccess() = 0;
};

// The interface with I's identifier, or null; valid while the caller holds the buffer.
template <class I>
[[nodiscard]] I* QueryBuffer(ISLBufferCore* buffer) noexcept
{
    return buffer == nullptr ? nullptr : static_cast<I*>(buffer->QueryInterface(I::kIID));
}

// Elements are doubles. Two-operand operations run over this buffer's size and raise ERangeError,
// changing nothing, when the other buffer is shorter.
class ISLRealDataBuffer : public virtual ISLDataBuffer
{
public:
    static constexpr TGUID kIID = MakeGuid("{C0954447-38CA-489E-AEB0-7B398CD5FE22}");

    [[nodiscard]] virtual const double* GetRead() const noexcept = 0;
    [[nodiscard]] virtual double* GetWrite() = 0;
    [[nodiscard]] virtual double* GetModify() = 0;
    // Both raise ERangeError "Index out of rabge = %u" outside 0 to GetSize() - 1.
    [[nodiscard]] virtual double GetItem(std::int32_t index) const = 0;
    virtual void SetItem(std::int32_t index, double value) = 0;
    virtual void FillJaehne(double magnitude) = 0;
    virtual void Add(ISLRealDataBuffer& other) = 0;
    virtual void Subtract(ISLRealDataBuffer& other) = 0;
    virtual void Multiply(ISLRealDataBuffer& other) = 0;
    // A zero or not-a-number divisor gives 1.0e15 where the quotient would be positive, else -1.0e14.
    virtual void Divide(ISLRealDataBuffer& other) = 0;
    virtual void Fill(double value) = 0;
    virtual void Clear() = 0;
    // 0.0 for an empty buffer.
    [[nodiscard]] virtual double Minimum() const = 0;
    [[nodiscard]] virtual double Maximum() const = 0;
    // Over the elements from (inclusive) to to (exclusive) after clamping: from < 0 and to < 0 become 0,
    // to > size becomes size, from >= size becomes size - 1. Raises ERangeError when that leaves no element.
    [[nodiscard]] virtual double MinimumInRange(std::int32_t from, std::int32_t to) const = 0;
    [[nodiscard]] virtual double MaximumInRange(std::int32_t from, std::int32_t to) const = 0;
    [[nodiscard]] virtual TRefPtr<ISLRealDataBufferAccess> GetRealAccess() = 0;
};

// Elements are 32-bit signed integers; arithmetic saturates. Same size rule as the real type.
class ISLIntegerDataBuffer : public virtual ISLDataBuffer
{
public:
    static constexpr TGUID kIID = MakeGuid("{E55A538D-1002-46FC-9640-7C63ED876EA7}");

    [[nodiscard]] virtual const std::int32_t* GetRead() const noexcept = 0;
    [[nodiscard]] virtual std::int32_t* GetWrite() = 0;
    [[nodiscard]] virtual std::int32_t* GetModify() = 0;
    // Same range error as the real type.
    [[nodiscard]] virtual std::int32_t GetItem(std::int32_t index) const = 0;
    virtual void SetItem(std::int32_t index, std::int32_t value) = 0;
    virtual void Add(ISLIntegerDataBuffer& other) = 0;
    virtual void Subtract(ISLIntegerDataBuffer& other) = 0;
    virtual void Multiply(ISLIntegerDataBuffer& other) = 0;
    // Rounded to nearest, a half toward zero; a zero divisor gives 0 for 0, else the limit of the sign.
    virtual void Divide(ISLIntegerDataBuffer& other) = 0;
    virtual void Fill(std::int32_t value) = 0;
    virtual void Clear() = 0;
    // 0 for an empty buffer.
    [[nodiscard]] virtual std::int32_t Minimum() const = 0;
    [[nodiscard]] virtual std::int32_t Maximum() const = 0;
    [[nodiscard]] virtual TRefPtr<ISLIntegerDataBufferAccess> GetIntegerAccess() = 0;
};

// Elements are complex values (real part first). Same size rule as the real type.
class ISLComplexDataBuffer : public virtual ISLDataBuffer
{
public:
    static constexpr TGUID kIID = MakeGuid("{262BCC9F-6A88-44C7-93F5-DF9A3F9ACCCE}");

    [[nodiscard]] virtual const TSLComplex* GetRead() const noexcept = 0;
    [[nodiscard]] virtual TSLComplex* GetWrite() = 0;
    [[nodiscard]] virtual TSLComplex* GetModify() = 0;
    // Same range error as the real type.
    [[nodiscard]] virtual TSLComplex GetItem(std::int32_t index) const = 0;
    virtual void SetItem(std::int32_t index, TSLComplex value) = 0;
    virtual void Add(ISLComplexDataBuffer& other) = 0;
    virtual void Subtract(ISLComplexDataBuffer& other) = 0;
    virtual void Multiply(ISLComplexDataBuffer& other) = 0;
    // A zero divisor leaves +-infinity or not-a-number, as the kernel gives them.
    virtual void Divide(ISLComplexDataBuffer& other) = 0;
    virtual void Fill(double re, double im) = 0;
    virtual void Clear() = 0;
    [[nodiscard]] virtual TRefPtr<ISLComplexDataBufferAccess> GetComplexAccess() = 0;
};

// Elements are unsigned bytes; addition, subtraction and multiplication saturate to 0..255.
class ISLBlockDataBuffer : public virtual ISLDataBuffer
{
public:
    static constexpr TGUID kIID = MakeGuid("{A9C35189-47F6-42CC-A72E-A311E98DA31A}");

    [[nodiscard]] virtual const std::uint8_t* GetRead() const noexcept = 0;
    [[nodiscard]] virtual std::uint8_t* GetWrite() = 0;
    [[nodiscard]] virtual std::uint8_t* GetModify() = 0;
    virtual void Add(ISLBlockDataBuffer& other) = 0;
    virtual void Subtract(ISLBlockDataBuffer& other) = 0;
    virtual void Multiply(ISLBlockDataBuffer& other) = 0;
    // Unsigned quotient; a zero divisor gives 0 for a zero dividend and 255 otherwise.
    virtual void Divide(ISLBlockDataBuffer& other) = 0;
    virtual void Fill(std::uint8_t value) = 0;
    virtual void Clear() = 0;
    [[nodiscard]] virtual TRefPtr<ISLBlockDataBufferAccess> GetBlockAccess() = 0;
};

// A reference-counted handle on a shared storage block (copy-on-write). The handle's own memory comes
// from the storage pool, so a steady stream of equal buffers allocates nothing once the pool is warm.
// Destroying it detaches every access object still bound to it.
class TSLGenericBuffer : public TRefCounted, public virtual ISLDataBuffer
{
public:
    static void* operator new(std::size_t size);
    static void operator delete(void* block, std::size_t size) noexcept;

    void AddRef() const noexcept override { TRefCounted::AddRef(); }
    void Release() const noexcept override { TRefCounted::Release(); }
    [[nodiscard]] void* QueryInterface(const TGUID& iid) noexcept override;

    void Assign(ISLBufferCore& source) override;
    [[nodiscard]] TSLGenericBuffer* GetObject() noexcept override { return this; }
    [[nodiscard]] const std::uint8_t* GetReadBytes() const noexcept override { return FData; }
    [[nodiscard]] std::uint8_t* GetWriteBytes() override;
    [[nodiscard]] std::uint8_t* GetModifyBytes() override;
    [[nodiscard]] std::uint32_t GetByteSize() const noexcept override { return FByteSize; }
    [[nodiscard]] std::uint32_t GetSize() const noexcept override { return FByteSize; }
    [[nodiscard]] TSLSequenceStamp& GetSequenceStamp() noexcept override { return FSequenceStamp; }
    void CopyTo(std::uint32_t sourceOffset, ISLBufferCore& destination, std::uint32_t count,
                std::uint32_t destinationOffset) override;
    void SetSize(std::uint32_t, bool) override {}
    void MakeUnique(bool preserve) override { (void)MakeUniqueCopy(preserve); }
    [[nodiscard]] TRefPtr<ISLDataBufferAccess> GetAccess() override;

    // From now on this handle no longer counts as an owner: writers that share the storage only with
    // non-owning handles write in place, and those handles see the change. Idempotent.
    void DropOwnership();
    [[nodiscard]] bool IsOwner() const noexcept { return FOwner; }
    // The storage block, to tell whether two handles share one.
    [[nodiscard]] TSLSmartBuffer* Storage() const noexcept { return FStorage; }

    // Called by the access objects as they bind and detach; same thread as every other use of the buffer.
    void BindAccess(TSLDataBufferAccess& access);
    void UnbindAccess(TSLDataBufferAccess& access) noexcept;
protected:
    // Takes storage, as owner and holder.
    TSLGenericBuffer(TSLSmartBuffer* storage, std::uint32_t byteSize);
    // Shares the source's storage as a further owner.
    TSLGenericBuffer(const TSLGenericBuffer& source);
    TSLGenericBuffer& operator=(const TSLGenericBuffer&) = delete;
    ~TSLGenericBuffer() override;

    // Here rather than in the base, so that the delete is seen to go through this class's pooled
    // operator delete.
    void LastReleased() noexcept override { delete this; }
    // Returns whether a copy was made.
    virtual bool MakeUniqueCopy(bool preserve);
    // Refreshes what the handle caches from its storage.
    virtual void StorageChanged() {}
    virtual void SetStorage(TSLSmartBuffer* storage) { FStorage = storage; }
    // Raises ERangeError when source's storage and size cannot be taken over by this handle.
    virtual void CheckAssignable(TSLGenericBuffer& source) const;

    std::uint8_t* FData = nullptr;   // the storage's memory; refreshed by StorageChanged()
    std::uint32_t FByteSize = 0;
    TSLSmartBuffer* FStorage = nullptr;
    bool FOwner = true;
private:
    std::vector<TSLDataBufferAccess*> FAccessList;   // not owned; same thread as the buffer
    TSLSequenceStamp FSequenceStamp{*this};
};

// A buffer whose storage is always a memory block; the element size is the class's.
class TSLMemoryBuffer : public TSLGenericBuffer
{
public:
    void SetSize(std::uint32_t count, bool preserve) override;
    [[nodiscard]] std::uint32_t GetSize() const noexcept override { return FByteSize / GetElementSize(); }
    [[nodiscard]] virtual std::uint32_t GetElementSize() const noexcept = 0;
    // Bytes of the storage block, at least GetByteSize().
    [[nodiscard]] std::uint32_t AllocatedSize() const noexcept;
protected:
    TSLMemoryBuffer(std::uint32_t count, std::uint32_t elementSize);
    TSLMemoryBuffer(const TSLMemoryBuffer& source) = default;

    void StorageChanged() override;
    void CheckAssignable(TSLGenericBuffer& source) const override;
    // A new memory block for count elements. Raises ERangeError above the largest block.
    [[nodiscard]] virtual TSLSmartMemoryBuffer* CreateStorage(std::uint32_t count);
    // The object behind source as a memory buffer whose byte size is a whole number of elementSize
    // elements, else ERangeError naming kind.
    [[nodiscard]] static const TSLMemoryBuffer& CheckedSource(ISLBufferCore& source,
                                                              std::uint32_t elementSize, const char* kind);

    // Raises ERangeError when a two-operand operation would read past the other buffer.
    void CheckOperand(const ISLBufferCore& other, const char* operation) const;
    // Raises the range error of element access outside 0 to GetSize() - 1.
    void CheckIndex(std::int32_t index) const;
    [[nodiscard]] std::int32_t Count() const noexcept { return static_cast<std::int32_t>(GetSize()); }
    // The class's name for messages ("real buffer").
    [[nodiscard]] virtual const char* KindName() const noexcept = 0;
};

// What the four sample buffers share, written once for the element type TElement and the typed interface
// IInterface that hands elements out as TElement. The arithmetic runs through the element type's kernels
// (SLSimpleDataBuffer.cpp); each class adds what only its type has. Instantiated for the four classes
// below and no others: the members defined out of line are compiled for them in SLSimpleDataBuffer.cpp. No
// extern template declaration on purpose: with one, callers no longer inline or devirtualise the members
// defined in the class.
template <class TElement, class IInterface>
class TSLTypedBuffer : public TSLMemoryBuffer, public virtual IInterface
{
public:
    using TItem = TElement;
    using ITyped = IInterface;

    [[nodiscard]] void* QueryInterface(const TGUID& iid) noexcept override;
    // Between buffers of this class offsets and count are elements (a byte count could split a value);
    // into any other class, bytes.
    void CopyTo(std::uint32_t sourceOffset, ISLBufferCore& destination, std::uint32_t count,
                std::uint32_t destinationOffset) override;
    [[nodiscard]] std::uint32_t GetElementSize() const noexcept override { return sizeof(TElement); }

    [[nodiscard]] const TElement* GetRead() const noexcept override
    {
        return reinterpret_cast<const TElement*>(FData);
    }
    [[nodiscard]] TElement* GetWrite() override { return reinterpret_cast<TElement*>(GetWriteBytes()); }
    [[nodiscard]] TElement* GetModify() override { return reinterpret_cast<TElement*>(GetModifyBytes()); }
    void Add(IInterface& other) override;
    void Subtract(IInterface& other) override;
    void Multiply(IInterface& other) override;
    void Divide(IInterface& other) override;
    void Clear() override;
protected:
    explicit TSLTypedBuffer(std::uint32_t count) : TSLMemoryBuffer(count, sizeof(TElement)) {}
    TSLTypedBuffer(const TSLTypedBuffer& source) = default;
    // Shares the storage of source, already checked to hold whole elements of this type.
    explicit TSLTypedBuffer(const TSLMemoryBuffer& source) : TSLMemoryBuffer(source) {}

    // GetItem and SetItem of the classes whose interface has them.
    [[nodiscard]] TElement ItemAt(std::int32_t index) const
    {
        CheckIndex(index);
        return GetRead()[index];
    }
    void StoreItem(std::int32_t index, TElement value)
    {
        CheckIndex(index);
        GetModify()[index] = value;
    }
private:
    using TKernel = void (*)(const TElement* source, TElement* target, std::int32_t count);
    // this := this op other over this buffer's size.
    template <TKernel Kernel>
    void Combine(IInterface& other, const char* operation);
};

class TSLRealBuffer : public TSLTypedBuffer<double, ISLRealDataBuffer>
{
public:
    explicit TSLRealBuffer(std::uint32_t count = 0) : TSLTypedBuffer(count) {}
    TSLRealBuffer(const TSLRealBuffer& source) = default;
    // Shares the storage of the memory buffer behind source (of any class whose byte size is a whole
    // number of doubles); raises ERangeError otherwise.
    explicit TSLRealBuffer(ISLBufferCore& source);

    [[nodiscard]] TRefPtr<TSLGenericBuffer> Clone() override;
    [[nodiscard]] TRefPtr<ISLDataBufferAccess> GetAccess() override;

    [[nodiscard]] double GetItem(std::int32_t index) const override { return ItemAt(index); }
    void SetItem(std::int32_t index, double value) override { StoreItem(index, value); }
    void FillJaehne(double magnitude) override;
    void Fill(double value) override;
    [[nodiscard]] double Minimum() const override;
    [[nodiscard]] double Maximum() const override;
    [[nodiscard]] double MinimumInRange(std::int32_t from, std::int32_t to) const override;
    [[nodiscard]] double MaximumInRange(std::int32_t from, std::int32_t to) const override;
    [[nodiscard]] TRefPtr<ISLRealDataBufferAccess> GetRealAccess() override;
protected:
    [[nodiscard]] const char* KindName() const noexcept override { return "real buffer"; }
private:
    // The kernel's start and length after clamping; ERangeError when no element is left.
    void ClampRange(std::int32_t from, std::int32_t to, const char* operation, std::int32_t& start,
                    std::int32_t& length) const;
};

class TSLIntegerBuffer : public TSLTypedBuffer<std::int32_t, ISLIntegerDataBuffer>
{
public:
    explicit TSLIntegerBuffer(std::uint32_t count = 0) : TSLTypedBuffer(count) {}
    TSLIntegerBuffer(const TSLIntegerBuffer& source) = default;

    [[nodiscard]] TRefPtr<TSLGenericBuffer> Clone() override;
    [[nodiscard]] TRefPtr<ISLDataBufferAccess> GetAccess() override;

    [[nodiscard]] std::int32_t GetItem(std::int32_t index) const override { return ItemAt(index); }
    void SetItem(std::int32_t index, std::int32_t value) override { StoreItem(index, value); }
    void Fill(std::int32_t value) override;
    [[nodiscard]] std::int32_t Minimum() const override;
    [[nodiscard]] std::int32_t Maximum() const override;
    [[nodiscard]] TRefPtr<ISLIntegerDataBufferAccess> GetIntegerAccess() override;
protected:
    [[nodiscard]] const char* KindName() const noexcept override { return "integer buffer"; }
};

class TSLComplexBuffer : public TSLTypedBuffer<TSLComplex, ISLComplexDataBuffer>
{
public:
    explicit TSLComplexBuffer(std::uint32_t count = 0) : TSLTypedBuffer(count) {}
    TSLComplexBuffer(const TSLComplexBuffer& source) = default;

    [[nodiscard]] TRefPtr<TSLGenericBuffer> Clone() override;
    [[nodiscard]] TRefPtr<ISLDataBufferAccess> GetAccess() override;

    [[nodiscard]] TSLComplex GetItem(std::int32_t index) const override { return ItemAt(index); }
    void SetItem(std::int32_t index, TSLComplex value) override { StoreItem(index, value); }
    void Fill(double re, double im) override;
    [[nodiscard]] TRefPtr<ISLComplexDataBufferAccess> GetComplexAccess() override;
protected:
    [[nodiscard]] const char* KindName() const noexcept override { return "complex buffer"; }
};

class TSLBlockBuffer : public TSLTypedBuffer<std::uint8_t, ISLBlockDataBuffer>
{
public:
    explicit TSLBlockBuffer(std::uint32_t count = 0) : TSLTypedBuffer(count) {}
    TSLBlockBuffer(const TSLBlockBuffer& source) = default;

    [[nodiscard]] TRefPtr<TSLGenericBuffer> Clone() override;
    // Bytes are its elements, so every copy is the plain byte copy, also between block buffers.
    void CopyTo(std::uint32_t sourceOffset, ISLBufferCore& destination, std::uint32_t count,
                std::uint32_t destinationOffset) override
    {
        TSLMemoryBuffer::CopyTo(sourceOffset, destination, count, destinationOffset);
    }
    [[nodiscard]] TRefPtr<ISLDataBufferAccess> GetAccess() override;

    void Fill(std::uint8_t value) override;
    [[nodiscard]] TRefPtr<ISLBlockDataBufferAccess> GetBlockAccess() override;
protected:
    [[nodiscard]] const char* KindName() const noexcept override { return "block buffer"; }
};

// A new handle on the same storage, as T.
template <class T>
[[nodiscard]] TRefPtr<T> CloneBuffer(T& buffer)
{
    return RefCast<T>(buffer.Clone());
}

}   // namespace harvolin
