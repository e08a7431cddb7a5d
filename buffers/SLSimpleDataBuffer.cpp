#include "buffers/SLSimpleDataBuffer.h"

#include "buffers/SLDataBufferAccess.h"
#include "rtl/Exceptions.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace harvolin
{
namespace
{

// Refuses a copy that would pass either buffer, before anything is written. Units are the caller's
// (bytes or elements).
void CheckCopy(const char* kind, std::uint32_t sourceOffset, std::uint32_t sourceSize, std::uint32_t count,
               std::uint32_t destinationOffset, std::uint32_t destinationSize)
{
    const std::uint64_t sourceEnd = std::uint64_t{sourceOffset} + count;
    const std::uint64_t destinationEnd = std::uint64_t{destinationOffset} + count;
    if (sourceEnd > sourceSize || destinationEnd > destinationSize)
        throw ERangeError(
            Format("%s: CopyTo of %u from %u of %u to %u of %u is out of range",
                   {kind, count, sourceOffset, sourceSize, destinationOffset, destinationSize}));
}

// The kernels of each element type under one signature, so that TSLTypedBuffer writes every operation
// once. The integer and byte kernels run with scale factor 0: plain saturating results.
template <class TElement>
struct TElementKernels;

// Copy for the types whose own kernels have none: elements as bytes.
template <class TElement>
struct TByteCopy
{
    static void Copy(const TElement* source, TElement* target, std::int32_t count)
    {
        (void)VecCopyBytes(source, target, count * static_cast<std::int32_t>(sizeof(TElement)));
    }
};

template <>
struct TElementKernels<double>
{
    static void Add(const double* source, double* target, std::int32_t count)
    {
        (void)VecAddReal(source, target, count);
    }
    static void Subtract(const double* source, double* target, std::int32_t count)
    {
        (void)VecSubReal(source, target, count);
    }
    static void Multiply(const double* source, double* target, std::int32_t count)
    {
        (void)VecMulReal(source, target, count);
    }
    static void Divide(const double* divisor, double* target, std::int32_t count)
    {
        if (VecDivReal(divisor, target, count) != kVecDivisionByZero)
            return;
        // Finite stand-ins, so that later arithmetic on the block stays finite. The asymmetry is
        // deliberate: everything but a positive quotient (negative infinity and the not-a-number of 0 / 0)
        // gets -1.0e14.
        for (std::int32_t i = 0; i < count; ++i)
            if (divisor[i] == 0.0 || std::isnan(divisor[i]))
                target[i] = target[i] > 0.0 ? 1.0e15 : -1.0e14;
    }
    static void Zero(double* target, std::int32_t count) { (void)VecZeroReal(target, count); }
    static void Copy(const double* source, double* target, std::int32_t count)
    {
        (void)VecCopyReal(source, target, count);
    }
};

template <>
struct TElementKernels<std::int32_t> : TByteCopy<std::int32_t>
{
    static void Add(const std::int32_t* source, std::int32_t* target, std::int32_t count)
    {
        (void)VecAddInt(source, target, count, 0);
    }
    static void Subtract(const std::int32_t* source, std::int32_t* target, std::int32_t count)
    {
        (void)VecSubInt(source, target, count, 0);
    }
    static void Multiply(const std::int32_t* source, std::int32_t* target, std::int32_t count)
    {
        (void)VecMulInt(source, target, count, 0);
    }
    static void Divide(const std::int32_t* divisor, std::int32_t* target, std::int32_t count)
    {
        (void)VecDivInt(divisor, target, count, 0);
    }
    static void Zero(std::int32_t* target, std::int32_t count) { (void)VecSetInt(0, target, count); }
};

template <>
struct TElementKernels<TSLComplex> : TByteCopy<TSLComplex>
{
    static void Add(const TSLComplex* source, TSLComplex* target, std::int32_t count)
    {
        (void)VecAddComplex(source, target, count);
    }
    // Part by part, as addition is: the real kernel over both doubles of every element.
    static void Subtract(const TSLComplex* source, TSLComplex* target, std::int32_t count)
    {
        (void)VecSubReal(reinterpret_cast<const double*>(source), reinterpret_cast<double*>(target),
                         2 * count);
    }
    static void Multiply(const TSLComplex* source, TSLComplex* target, std::int32_t count)
    {
        (void)VecMulComplex(source, target, count);
    }
    static void Divide(const TSLComplex* divisor, TSLComplex* target, std::int32_t count)
    {
        (void)VecDivComplex(divisor, target, count);
    }
    static void Zero(TSLComplex* target, std::int32_t count) { (void)VecZeroComplex(target, count); }
};

template <>
struct TElementKernels<std::uint8_t> : TByteCopy<std::uint8_t>
{
    static void Add(const std::uint8_t* source, std::uint8_t* target, std::int32_t count)
    {
        (void)VecAddByte(source, target, count, 0);
    }
    static void Subtract(const std::uint8_t* source, std::uint8_t* target, std::int32_t count)
    {
        (void)VecSubByte(source, target, count, 0);
    }
    static void Multiply(const std::uint8_t* source, std::uint8_t* target, std::int32_t count)
    {
        (void)VecMulByte(source, target, count, 0);
    }
    // A zero divisor saturates as the integer kernel does: 0 / 0 is 0, anything else the top of the range.
    static void Divide(const std::uint8_t* divisor, std::uint8_t* target, std::int32_t count)
    {
        for (std::int32_t i = 0; i < count; ++i)
            target[i] = divisor[i] == 0 ? static_cast<std::uint8_t>(target[i] == 0 ? 0 : 255)
                                        : static_cast<std::uint8_t>(target[i] / divisor[i]);
    }
    static void Zero(std::uint8_t* target, std::int32_t count) { (void)VecZeroBytes(target, count); }
};

}   // namespace

// ---- TSLGenericBuffer

void* TSLGenericBuffer::operator new(std::size_t size)
{
    void* block = SmartBufferGet(static_cast<std::uint32_t>(size));
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

void TSLGenericBuffer::operator delete(void* block, std::size_t size) noexcept
{
    SmartBufferPut(block, static_cast<std::uint32_t>(size));
}

TSLGenericBuffer::TSLGenericBuffer(TSLSmartBuffer* storage, std::uint32_t byteSize)
    : FByteSize(byteSize), FStorage(storage)
{
    FStorage->AddHolder(FOwner);
}

TSLGenericBuffer::TSLGenericBuffer(const TSLGenericBuffer& source)
    : ISLBufferCore(), ISLDataBuffer(), TRefCounted(), FData(source.FData), FByteSize(source.FByteSize),
      FStorage(source.FStorage)
{
    FStorage->AddHolder(FOwner);
}

TSLGenericBuffer::~TSLGenericBuffer()
{
    // Detach() takes each object off the list.
    while (!FAccessList.empty())
        FAccessList.front()->Detach();
    if (FStorage != nullptr)
        FStorage->ReleaseHolder(FOwner);
    FStorage = nullptr;
}

void* TSLGenericBuffer::QueryInterface(const TGUID& iid) noexcept
{
    if (iid == ISLBufferCore::kIID)
        return static_cast<ISLBufferCore*>(this);
    if (iid == ISLDataBuffer::kIID)
        return static_cast<ISLDataBuffer*>(this);
    return nullptr;
}

void TSLGenericBuffer::CheckAssignable(TSLGenericBuffer&) const {}

void TSLGenericBuffer::Assign(ISLBufferCore& source)
{
    TSLGenericBuffer* object = source.GetObject();
    if (object == this)
        return;
    CheckAssignable(*object);
    if (object->FStorage != FStorage)
    {
        // Take the new one first: should the old one go with this release, nothing of the source is lost.
        object->FStorage->AddHolder(FOwner);
        TSLSmartBuffer* old = FStorage;
        SetStorage(object->FStorage);
        StorageChanged();
        if (old != nullptr)
            old->ReleaseHolder(FOwner);
    }
    FByteSize = object->FByteSize;
    FData = object->FData;
}

std::uint8_t* TSLGenericBuffer::GetWriteBytes()
{
    MakeUnique(false);
    return FData;
}

std::uint8_t* TSLGenericBuffer::GetModifyBytes()
{
    MakeUnique(true);
    return FData;
}

void TSLGenericBuffer::CopyTo(std::uint32_t sourceOffset, ISLBufferCore& destination, std::uint32_t count,
                              std::uint32_t destinationOffset)
{
    CheckCopy("buffer", sourceOffset, GetByteSize(), count, destinationOffset, destination.GetByteSize());
    if (count == 0)
        return;
    // Destination first: when it shares this storage it takes its own copy, and this side stays readable.
    std::uint8_t* target = destination.GetModifyBytes() + destinationOffset;
    (void)VecCopyBytes(GetReadBytes() + sourceOffset, target, static_cast<std::int32_t>(count));
}

TRefPtr<ISLDataBufferAccess> TSLGenericBuffer::GetAccess()
{
    return MakeRef<TSLDataBufferAccess>(*this);
}

bool TSLGenericBuffer::MakeUniqueCopy(bool preserve)
{
    if (FStorage->IsExclusive())
        return false;
    TSLSmartBuffer* old = FStorage;
    TSLSmartBuffer* copy = old->CloneStorage(preserve);
    copy->AddHolder(FOwner);
    SetStorage(copy);
    // Another owner still holds the old block, so this release never frees it while we read it; and if
    // that owner let go meanwhile, the block goes here, after the copy was made.
    old->ReleaseHolder(FOwner);
    StorageChanged();
    return true;
}

void TSLGenericBuffer::DropOwnership()
{
    if (!FOwner)
        return;
    FStorage->ReleaseOwner();
    FOwner = false;
}

void TSLGenericBuffer::BindAccess(TSLDataBufferAccess& access)
{
    FAccessList.push_back(&access);
}

void TSLGenericBuffer::UnbindAccess(TSLDataBufferAccess& access) noexcept
{
    const auto found = std::find(FAccessList.begin(), FAccessList.end(), &access);
    if (found != FAccessList.end())
        FAccessList.erase(found);
}

// ---- TSLMemoryBuffer

TSLMemoryBuffer::TSLMemoryBuffer(std::uint32_t count, std::uint32_t elementSize)
    : TSLGenericBuffer(new TSLSmartMemoryBuffer(std::uint64_t{count} * elementSize), count * elementSize)
{
    StorageChanged();
}

std::uint32_t TSLMemoryBuffer::AllocatedSize() const noexcept
{
    return static_cast<const TSLSmartMemoryBuffer*>(FStorage)->AllocatedSize();
}

void TSLMemoryBuffer::StorageChanged()
{
    FData = static_cast<TSLSmartMemoryBuffer*>(FStorage)->Data();
}

TSLSmartMemoryBuffer* TSLMemoryBuffer::CreateStorage(std::uint32_t count)
{
    return new TSLSmartMemoryBuffer(std::uint64_t{count} * GetElementSize());
}

const TSLMemoryBuffer& TSLMemoryBuffer::CheckedSource(ISLBufferCore& source, std::uint32_t elementSize,
                                                      const char* kind)
{
    const auto* memory = dynamic_cast<const TSLMemoryBuffer*>(source.GetObject());
    if (memory == nullptr)
        throw ERangeError(Format("%s: cannot take over a buffer without memory storage", {kind}));
    if (memory->GetByteSize() % elementSize != 0)
        throw ERangeError(Format("%s: cannot take over %u bytes, not a whole number of %u-byte elements",
                                 {kind, memory->GetByteSize(), elementSize}));
    return *memory;
}

void TSLMemoryBuffer::CheckAssignable(TSLGenericBuffer& source) const
{
    (void)CheckedSource(source, GetElementSize(), KindName());
}

void TSLMemoryBuffer::SetSize(std::uint32_t count, bool preserve)
{
    if (count == 0 || count == GetSize())
        return;
    const std::uint32_t elementSize = GetElementSize();
    if (count < GetSize())
    {
        FByteSize = count * elementSize;
        StorageChanged();
        return;
    }
    if (FStorage->IsExclusive() && AllocatedSize() / elementSize >= count)
    {
        FByteSize = count * elementSize;
        StorageChanged();
        return;
    }
    TSLSmartMemoryBuffer* grown = CreateStorage(count);   // raises above the largest block: nothing changed
    grown->AddHolder(FOwner);
    auto* old = static_cast<TSLSmartMemoryBuffer*>(FStorage);
    if (preserve)
        (void)VecCopyBytes(old->Data(), grown->Data(),
                           static_cast<std::int32_t>(std::min(old->AllocatedSize(), grown->AllocatedSize())));
    SetStorage(grown);
    old->ReleaseHolder(FOwner);
    FByteSize = count * elementSize;
    StorageChanged();
}

void TSLMemoryBuffer::CheckOperand(const ISLBufferCore& other, const char* operation) const
{
    if (other.GetSize() < GetSize())
        throw ERangeError(Format("%s: %s with a buffer of %u elements, fewer than the %u of this one",
                                 {KindName(), operation, other.GetSize(), GetSize()}));
}

void TSLMemoryBuffer::CheckIndex(std::int32_t index) const
{
    if (index < 0 || static_cast<std::uint32_t>(index) >= GetSize())
        throw ERangeError(Format("Index out of rabge = %u", {static_cast<std::uint32_t>(index)}));
}

// ---- TSLTypedBuffer

template <class TElement, class IInterface>
void* TSLTypedBuffer<TElement, IInterface>::QueryInterface(const TGUID& iid) noexcept
{
    if (iid == IInterface::kIID)
        return static_cast<IInterface*>(this);
    return TSLMemoryBuffer::QueryInterface(iid);
}

template <class TElement, class IInterface>
void TSLTypedBuffer<TElement, IInterface>::CopyTo(std::uint32_t sourceOffset, ISLBufferCore& destination,
                                                  std::uint32_t count, std::uint32_t destinationOffset)
{
    auto* same = dynamic_cast<TSLTypedBuffer*>(destination.GetObject());
    if (same == nullptr)
    {
        TSLMemoryBuffer::CopyTo(sourceOffset, destination, count, destinationOffset);
        return;
    }
    CheckCopy(KindName(), sourceOffset, GetSize(), count, destinationOffset, same->GetSize());
    if (count == 0)
        return;
    // Destination first: when it shares this storage it takes its own copy, and this side stays readable.
    TElement* target = same->GetModify() + destinationOffset;
    TElementKernels<TElement>::Copy(GetRead() + sourceOffset, target, static_cast<std::int32_t>(count));
}

template <class TElement, class IInterface>
template <typename TSLTypedBuffer<TElement, IInterface>::TKernel Kernel>
void TSLTypedBuffer<TElement, IInterface>::Combine(IInterface& other, const char* operation)
{
    CheckOperand(other, operation);
    // Own storage first: should the other buffer share it, it keeps reading the untouched elements.
    TElement* target = GetModify();
    Kernel(other.GetRead(), target, Count());
}

template <class TElement, class IInterface>
void TSLTypedBuffer<TElement, IInterface>::Add(IInterface& other)
{
    Combine<&TElementKernels<TElement>::Add>(other, "Add");
}

template <class TElement, class IInterface>
void TSLTypedBuffer<TElement, IInterface>::Subtract(IInterface& other)
{
    Combine<&TElementKernels<TElement>::Subtract>(other, "Subtract");
}

template <class TElement, class IInterface>
void TSLTypedBuffer<TElement, IInterface>::Multiply(IInterface& other)
{
    Combine<&TElementKernels<TElement>::Multiply>(other, "Multiply");
}

template <class TElement, class IInterface>
void TSLTypedBuffer<TElement, IInterface>::Divide(IInterface& other)
{
    Combine<&TElementKernels<TElement>::Divide>(other, "Divide");
}

template <class TElement, class IInterface>
void TSLTypedBuffer<TElement, IInterface>::Clear()
{
    TElementKernels<TElement>::Zero(GetWrite(), Count());
}

template class TSLTypedBuffer<double, ISLRealDataBuffer>;
template class TSLTypedBuffer<std::int32_t, ISLIntegerDataBuffer>;
template class TSLTypedBuffer<TSLComplex, ISLComplexDataBuffer>;
template class TSLTypedBuffer<std::uint8_t, ISLBlockDataBuffer>;

// ---- TSLRealBuffer

TSLRealBuffer::TSLRealBuffer(ISLBufferCore& source)
    : TSLTypedBuffer(CheckedSource(source, sizeof(double), "real buffer"))
{
}

TRefPtr<TSLGenericBuffer> TSLRealBuffer::Clone()
{
    return MakeRef<TSLRealBuffer>(*this);
}

TRefPtr<ISLDataBufferAccess> TSLRealBuffer::GetAccess()
{
    return GetRealAccess();
}

TRefPtr<ISLRealDataBufferAccess> TSLRealBuffer::GetRealAccess()
{
    return MakeRef<TSLRealDataBufferAccess>(*this);
}

void TSLRealBuffer::FillJaehne(double magnitude)
{
    (void)VecJaehne(GetWrite(), Count(), magnitude);
}

void TSLRealBuffer::Fill(double value)
{
    (void)VecSetReal(value, GetWrite(), Count());
}

double TSLRealBuffer::Minimum() const
{
    double result = 0.0;
    if (GetSize() > 0)
        (void)VecMinReal(GetRead(), Count(), &result);
    return result;
}

double TSLRealBuffer::Maximum() const
{
    double result = 0.0;
    if (GetSize() > 0)
        (void)VecMaxReal(GetRead(), Count(), &result);
    return result;
}

void TSLRealBuffer::ClampRange(std::int32_t from, std::int32_t to, const char* operation, std::int32_t& start,
                               std::int32_t& length) const
{
    const std::int32_t size = Count();
    start = from < 0 ? 0 : from;
    std::int32_t end = to < 0 ? 0 : to;
    end = end > size ? size : end;
    if (start >= size)
        start = size - 1;
    length = end - start;
    // An empty buffer clamps from to -1: that "range" would read before the block.
    if (size == 0 || length < 1)
        throw ERangeError(
            Format("%s: %s(%d, %d) covers no element of %d", {KindName(), operation, from, to, size}));
}

double TSLRealBuffer::MinimumInRange(std::int32_t from, std::int32_t to) const
{
    std::int32_t start = 0;
    std::int32_t length = 0;
    ClampRange(from, to, "MinimumInRange", start, length);
    double result = 0.0;
    (void)VecMinReal(GetRead() + start, length, &result);
    return result;
}

double TSLRealBuffer::MaximumInRange(std::int32_t from, std::int32_t to) const
{
    std::int32_t start = 0;
    std::int32_t length = 0;
    ClampRange(from, to, "MaximumInRange", start, length);
    double result = 0.0;
    (void)VecMaxReal(GetRead() + start, length, &result);
    return result;
}

// ---- TSLIntegerBuffer

TRefPtr<TSLGenericBuffer> TSLIntegerBuffer::Clone()
{
    return MakeRef<TSLIntegerBuffer>(*this);
}

TRefPtr<ISLDataBufferAccess> TSLIntegerBuffer::GetAccess()
{
    return GetIntegerAccess();
}

TRefPtr<ISLIntegerDataBufferAccess> TSLIntegerBuffer::GetIntegerAccess()
{
    return MakeRef<TSLIntegerDataBufferAccess>(*this);
}

void TSLIntegerBuffer::Fill(std::int32_t value)
{
    (void)VecSetInt(value, GetWrite(), Count());
}

std::int32_t TSLIntegerBuffer::Minimum() const
{
    if (GetSize() == 0)
        return 0;
    return *std::min_element(GetRead(), GetRead() + GetSize());
}

std::int32_t TSLIntegerBuffer::Maximum() const
{
    if (GetSize() == 0)
        return 0;
    return *std::max_element(GetRead(), GetRead() + GetSize());
}

// ---- TSLComplexBuffer

TRefPtr<TSLGenericBuffer> TSLComplexBuffer::Clone()
{
    return MakeRef<TSLComplexBuffer>(*this);
}

TRefPtr<ISLDataBufferAccess> TSLComplexBuffer::GetAccess()
{
    return GetComplexAccess();
}

TRefPtr<ISLComplexDataBufferAccess> TSLComplexBuffer::GetComplexAccess()
{
    return MakeRef<TSLComplexDataBufferAccess>(*this);
}

void TSLComplexBuffer::Fill(double re, double im)
{
    (void)VecSetComplex(re, im, GetWrite(), Count());
}

// ---- TSLBlockBuffer

TRefPtr<TSLGenericBuffer> TSLBlockBuffer::Clone()
{
    return MakeRef<TSLBlockBuffer>(*this);
}

TRefPtr<ISLDataBufferAccess> TSLBlockBuffer::GetAccess()
{
    return GetBlockAccess();
}

TRefPtr<ISLBlockDataBufferAccess> TSLBlockBuffer::GetBlockAccess()
{
    return MakeRef<TSLBlockDataBufferAccess>(*this);
}

void TSLBlockBuffer::Fill(std::uint8_t value)
{
    (void)VecSetByte(value, GetWrite(), Count());
}

}   // namespace harvolin
