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

void TSLMemoryBuffer::CopyElements(std::uint32_t sourceOffset, TSLMemoryBuffer& destination,
                                   std::uint32_t count, std::uint32_t destinationOffset)
{
    CheckCopy(KindName(), sourceOffset, GetSize(), count, destinationOffset, destination.GetSize());
    if (count == 0)
        return;
    const std::uint32_t elementSize = GetElementSize();
    std::uint8_t* target = destination.GetModifyBytes() + std::size_t{destinationOffset} * elementSize;
    (void)VecCopyBytes(GetReadBytes() + std::size_t{sourceOffset} * elementSize, target,
                       static_cast<std::int32_t>(count * elementSize));
}

// ---- TSLRealBuffer

TSLRealBuffer::TSLRealBuffer(ISLBufferCore& source)
    : TSLMemoryBuffer(CheckedSource(source, sizeof(double), "real buffer"))
{
}

void* TSLRealBuffer::QueryInterface(const TGUID& iid) noexcept
{
    if (iid == ISLRealDataBuffer::kIID)
        return static_cast<ISLRealDataBuffer*>(this);
    return TSLMemoryBuffer::QueryInterface(iid);
}

TRefPtr<TSLGenericBuffer> TSLRealBuffer::Clone()
{
    return MakeRef<TSLRealBuffer>(*this);
}

void TSLRealBuffer::CopyTo(std::uint32_t sourceOffset, ISLBufferCore& destination, std::uint32_t count,
                           std::uint32_t destinationOffset)
{
    if (auto* real = dynamic_cast<TSLRealBuffer*>(destination.GetObject()))
    {
        CheckCopy(KindName(), sourceOffset, GetSize(), count, destinationOffset, real->GetSize());
        if (count == 0)
            return;
        double* target = real->GetModify() + destinationOffset;
        (void)VecCopyReal(GetRead() + sourceOffset, target, static_cast<std::int32_t>(count));
        return;
    }
    TSLMemoryBuffer::CopyTo(sourceOffset, destination, count, destinationOffset);
}

TRefPtr<ISLDataBufferAccess> TSLRealBuffer::GetAccess()
{
    return GetRealAccess();
}

TRefPtr<ISLRealDataBufferAccess> TSLRealBuffer::GetRealAccess()
{
    return MakeRef<TSLRealDataBufferAccess>(*this);
}

const double* TSLRealBuffer::GetRead() const noexcept
{
    return reinterpret_cast<const double*>(FData);
}

double* TSLRealBuffer::GetWrite()
{
    return reinterpret_cast<double*>(GetWriteBytes());
}

double* TSLRealBuffer::GetModify()
{
    return reinterpret_cast<double*>(GetModifyBytes());
}

double TSLRealBuffer::GetItem(std::int32_t index) const
{
    CheckIndex(index);
    return GetRead()[index];
}

void TSLRealBuffer::SetItem(std::int32_t index, double value)
{
    CheckIndex(index);
    GetModify()[index] = value;
}

void TSLRealBuffer::FillJaehne(double magnitude)
{
    (void)VecJaehne(GetWrite(), Count(), magnitude);
}

void TSLRealBuffer::Add(ISLRealDataBuffer& other)
{
    CheckOperand(other, "Add");
    double* target = GetModify();
    (void)VecAddReal(other.GetRead(), target, Count());
}

void TSLRealBuffer::Subtract(ISLRealDataBuffer& other)
{
    CheckOperand(other, "Subtract");
    double* target = GetModify();
    (void)VecSubReal(other.GetRead(), target, Count());
}

void TSLRealBuffer::Multiply(ISLRealDataBuffer& other)
{
    CheckOperand(other, "Multiply");
    double* target = GetModify();
    (void)VecMulReal(other.GetRead(), target, Count());
}

void TSLRealBuffer::Divide(ISLRealDataBuffer& other)
{
    CheckOperand(other, "Divide");
    double* target = GetModify();
    const double* divisor = other.GetRead();
    if (VecDivReal(divisor, target, Count()) != kVecDivisionByZero)
        return;
    // Finite stand-ins, so that later arithmetic on the block stays finite. The asymmetry is deliberate:
    // everything but a positive quotient (negative infinity and the not-a-number of 0 / 0) gets -1.0e14.
    for (std::int32_t i = 0; i < Count(); ++i)
        if (divisor[i] == 0.0 || std::isnan(divisor[i]))
            target[i] = target[i] > 0.0 ? 1.0e15 : -1.0e14;
}

void TSLRealBuffer::Fill(double value)
{
    (void)VecSetReal(value, GetWrite(), Count());
}

void TSLRealBuffer::Clear()
{
    (void)VecZeroReal(GetWrite(), Count());
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

void* TSLIntegerBuffer::QueryInterface(const TGUID& iid) noexcept
{
    if (iid == ISLIntegerDataBuffer::kIID)
        return static_cast<ISLIntegerDataBuffer*>(this);
    return TSLMemoryBuffer::QueryInterface(iid);
}

TRefPtr<TSLGenericBuffer> TSLIntegerBuffer::Clone()
{
    return MakeRef<TSLIntegerBuffer>(*this);
}

void TSLIntegerBuffer::CopyTo(std::uint32_t sourceOffset, ISLBufferCore& destination, std::uint32_t count,
                              std::uint32_t destinationOffset)
{
    if (auto* integer = dynamic_cast<TSLIntegerBuffer*>(destination.GetObject()))
        CopyElements(sourceOffset, *integer, count, destinationOffset);
    else
        TSLMemoryBuffer::CopyTo(sourceOffset, destination, count, destinationOffset);
}

TRefPtr<ISLDataBufferAccess> TSLIntegerBuffer::GetAccess()
{
    return GetIntegerAccess();
}

TRefPtr<ISLIntegerDataBufferAccess> TSLIntegerBuffer::GetIntegerAccess()
{
    return MakeRef<TSLIntegerDataBufferAccess>(*this);
}

const std::int32_t* TSLIntegerBuffer::GetRead() const noexcept
{
    return reinterpret_cast<const std::int32_t*>(FData);
}

std::int32_t* TSLIntegerBuffer::GetWrite()
{
    return reinterpret_cast<std::int32_t*>(GetWriteBytes());
}

std::int32_t* TSLIntegerBuffer::GetModify()
{
    return reinterpret_cast<std::int32_t*>(GetModifyBytes());
}

std::int32_t TSLIntegerBuffer::GetItem(std::int32_t index) const
{
    CheckIndex(index);
    return GetRead()[index];
}

void TSLIntegerBuffer::SetItem(std::int32_t index, std::int32_t value)
{
    CheckIndex(index);
    GetModify()[index] = value;
}

void TSLIntegerBuffer::Add(ISLIntegerDataBuffer& other)
{
    CheckOperand(other, "Add");
    std::int32_t* target = GetModify();
    (void)VecAddInt(other.GetRead(), target, Count(), 0);
}

void TSLIntegerBuffer::Subtract(ISLIntegerDataBuffer& other)
{
    CheckOperand(other, "Subtract");
    std::int32_t* target = GetModify();
    (void)VecSubInt(other.GetRead(), target, Count(), 0);
}

void TSLIntegerBuffer::Multiply(ISLIntegerDataBuffer& other)
{
    CheckOperand(other, "Multiply");
    std::int32_t* target = GetModify();
    (void)VecMulInt(other.GetRead(), target, Count(), 0);
}

void TSLIntegerBuffer::Divide(ISLIntegerDataBuffer& other)
{
    CheckOperand(other, "Divide");
    std::int32_t* target = GetModify();
    (void)VecDivInt(other.GetRead(), target, Count(), 0);
}

void TSLIntegerBuffer::Fill(std::int32_t value)
{
    (void)VecSetInt(value, GetWrite(), Count());
}

void TSLIntegerBuffer::Clear()
{
    (void)VecSetInt(0, GetWrite(), Count());
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

void* TSLComplexBuffer::QueryInterface(const TGUID& iid) noexcept
{
    if (iid == ISLComplexDataBuffer::kIID)
        return static_cast<ISLComplexDataBuffer*>(this);
    return TSLMemoryBuffer::QueryInterface(iid);
}

TRefPtr<TSLGenericBuffer> TSLComplexBuffer::Clone()
{
    return MakeRef<TSLComplexBuffer>(*this);
}

void TSLComplexBuffer::CopyTo(std::uint32_t sourceOffset, ISLBufferCore& destination, std::uint32_t count,
                              std::uint32_t destinationOffset)
{
    if (auto* complex = dynamic_cast<TSLComplexBuffer*>(destination.GetObject()))
        CopyElements(sourceOffset, *complex, count, destinationOffset);
    else
        TSLMemoryBuffer::CopyTo(sourceOffset, destination, count, destinationOffset);
}

TRefPtr<ISLDataBufferAccess> TSLComplexBuffer::GetAccess()
{
    return GetComplexAccess();
}

TRefPtr<ISLComplexDataBufferAccess> TSLComplexBuffer::GetComplexAccess()
{
    return MakeRef<TSLComplexDataBufferAccess>(*this);
}

const TSLComplex* TSLComplexBuffer::GetRead() const noexcept
{
    return reinterpret_cast<const TSLComplex*>(FData);
}

TSLComplex* TSLComplexBuffer::GetWrite()
{
    return reinterpret_cast<TSLComplex*>(GetWriteBytes());
}

TSLComplex* TSLComplexBuffer::GetModify()
{
    return reinterpret_cast<TSLComplex*>(GetModifyBytes());
}

TSLComplex TSLComplexBuffer::GetItem(std::int32_t index) const
{
    CheckIndex(index);
    return GetRead()[index];
}

void TSLComplexBuffer::SetItem(std::int32_t index, TSLComplex value)
{
    CheckIndex(index);
    GetModify()[index] = value;
}

void TSLComplexBuffer::Add(ISLComplexDataBuffer& other)
{
    CheckOperand(other, "Add");
    TSLComplex* target = GetModify();
    (void)VecAddComplex(other.GetRead(), target, Count());
}

void TSLComplexBuffer::Subtract(ISLComplexDataBuffer& other)
{
    CheckOperand(other, "Subtract");
    // Part by part, as addition is: the real kernel over both doubles of every element.
    auto* target = reinterpret_cast<double*>(GetModify());
    (void)VecSubReal(reinterpret_cast<const double*>(other.GetRead()), target, 2 * Count());
}

void TSLComplexBuffer::Multiply(ISLComplexDataBuffer& other)
{
    CheckOperand(other, "Multiply");
    TSLComplex* target = GetModify();
    (void)VecMulComplex(other.GetRead(), target, Count());
}

void TSLComplexBuffer::Divide(ISLComplexDataBuffer& other)
{
    CheckOperand(other, "Divide");
    TSLComplex* target = GetModify();
    (void)VecDivComplex(other.GetRead(), target, Count());
}

void TSLComplexBuffer::Fill(double re, double im)
{
    (void)VecSetComplex(re, im, GetWrite(), Count());
}

void TSLComplexBuffer::Clear()
{
    (void)VecZeroComplex(GetWrite(), Count());
}

// ---- TSLBlockBuffer

void* TSLBlockBuffer::QueryInterface(const TGUID& iid) noexcept
{
    if (iid == ISLBlockDataBuffer::kIID)
        return static_cast<ISLBlockDataBuffer*>(this);
    return TSLMemoryBuffer::QueryInterface(iid);
}

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

void TSLBlockBuffer::Add(ISLBlockDataBuffer& other)
{
    CheckOperand(other, "Add");
    std::uint8_t* target = GetModify();
    (void)VecAddByte(other.GetRead(), target, Count(), 0);
}

void TSLBlockBuffer::Subtract(ISLBlockDataBuffer& other)
{
    CheckOperand(other, "Subtract");
    std::uint8_t* target = GetModify();
    (void)VecSubByte(other.GetRead(), target, Count(), 0);
}

void TSLBlockBuffer::Multiply(ISLBlockDataBuffer& other)
{
    CheckOperand(other, "Multiply");
    std::uint8_t* target = GetModify();
    (void)VecMulByte(other.GetRead(), target, Count(), 0);
}

void TSLBlockBuffer::Divide(ISLBlockDataBuffer& other)
{
    CheckOperand(other, "Divide");
    std::uint8_t* target = GetModify();
    const std::uint8_t* divisor = other.GetRead();
    // A zero divisor saturates as the integer kernel does: 0 / 0 is 0, anything else the top of the range.
    for (std::int32_t i = 0; i < Count(); ++i)
        target[i] = divisor[i] == 0 ? static_cast<std::uint8_t>(target[i] == 0 ? 0 : 255)
                                    : static_cast<std::uint8_t>(target[i] / divisor[i]);
}

void TSLBlockBuffer::Fill(std::uint8_t value)
{
    (void)VecSetByte(value, GetWrite(), Count());
}

void TSLBlockBuffer::Clear()
{
    (void)VecZeroBytes(GetWrite(), Count());
}

}   // namespace harvolin
