#include "buffers/SLDataBufferAccess.h"

namespace harvolin
{

// ---- TSLDataBufferAccess

TSLDataBufferAccess::TSLDataBufferAccess(TSLGenericBuffer& buffer) : FBuffer(&buffer)
{
    buffer.BindAccess(*this);
}

TSLDataBufferAccess::~TSLDataBufferAccess()
{
    Detach();
}

void TSLDataBufferAccess::Detach() noexcept
{
    if (FBuffer == nullptr)
        return;
    TSLGenericBuffer* buffer = FBuffer;
    FBuffer = nullptr;
    buffer->UnbindAccess(*this);
}

TSLGenericBuffer& TSLDataBufferAccess::Bound(const char* operation) const
{
    if (FBuffer == nullptr)
        throw ESLAccessDetached(
            Format("buffer access object: %s: the buffer it was bound to is gone", {operation}));
    return *FBuffer;
}

template <class I>
I& TSLDataBufferAccess::OtherBuffer(const ISLDataBufferAccess& other, const char* operation)
{
    I* buffer = QueryBuffer<I>(other.GetBuffer());
    if (buffer == nullptr)
        throw ESLAccessDetached(
            Format("buffer access object: %s: the other access object has no buffer of this type bound",
                   {operation}));
    return *buffer;
}

const std::uint8_t* TSLDataBufferAccess::GetReadBytes() const
{
    return Bound("GetRead").GetReadBytes();
}

std::uint8_t* TSLDataBufferAccess::GetWriteBytes()
{
    return Bound("GetWrite").GetWriteBytes();
}

std::uint8_t* TSLDataBufferAccess::GetModifyBytes()
{
    return Bound("GetModify").GetModifyBytes();
}

std::uint32_t TSLDataBufferAccess::GetByteSize() const
{
    return Bound("GetByteSize").GetByteSize();
}

std::uint32_t TSLDataBufferAccess::GetSize() const
{
    return Bound("GetSize").GetSize();
}

TSLSequenceStamp& TSLDataBufferAccess::GetSequenceStamp()
{
    return Bound("GetSequenceStamp").GetSequenceStamp();
}

void TSLDataBufferAccess::CopyTo(std::uint32_t sourceOffset, ISLDataBufferAccess& destination,
                                 std::uint32_t count, std::uint32_t destinationOffset)
{
    TSLGenericBuffer& buffer = Bound("CopyTo");
    ISLDataBuffer* target = destination.GetBuffer();
    if (target == nullptr)
        throw ESLAccessDetached("buffer access object: CopyTo: the destination access object is detached");
    buffer.CopyTo(sourceOffset, *target->GetObject(), count, destinationOffset);
}

void TSLDataBufferAccess::SetSize(std::uint32_t count, bool preserve)
{
    TSLGenericBuffer& buffer = Bound("SetSize");
    if (count != buffer.GetSize())
        buffer.SetSize(count, preserve);
}

void TSLDataBufferAccess::MakeUnique(bool preserve)
{
    Bound("MakeUnique").MakeUnique(preserve);
}

TRefPtr<TSLGenericBuffer> TSLDataBufferAccess::Clone()
{
    return Bound("Clone").Clone();
}

// ---- TSLTypedDataBufferAccess

template <class TBuffer, class IAccess>
typename TBuffer::ITyped& TSLTypedDataBufferAccess<TBuffer, IAccess>::Operand(const IAccess& other,
                                                                              const char* operation)
{
    return OtherBuffer<typename TBuffer::ITyped>(other, operation);
}

template <class TBuffer, class IAccess>
auto TSLTypedDataBufferAccess<TBuffer, IAccess>::GetRead() const -> const TElement*
{
    return TypedBuffer("GetRead").GetRead();
}

template <class TBuffer, class IAccess>
auto TSLTypedDataBufferAccess<TBuffer, IAccess>::GetWrite() -> TElement*
{
    return TypedBuffer("GetWrite").GetWrite();
}

template <class TBuffer, class IAccess>
auto TSLTypedDataBufferAccess<TBuffer, IAccess>::GetModify() -> TElement*
{
    return TypedBuffer("GetModify").GetModify();
}

template <class TBuffer, class IAccess>
void TSLTypedDataBufferAccess<TBuffer, IAccess>::Add(IAccess& other)
{
    TypedBuffer("Add").Add(Operand(other, "Add"));
}

template <class TBuffer, class IAccess>
void TSLTypedDataBufferAccess<TBuffer, IAccess>::Subtract(IAccess& other)
{
    TypedBuffer("Subtract").Subtract(Operand(other, "Subtract"));
}

template <class TBuffer, class IAccess>
void TSLTypedDataBufferAccess<TBuffer, IAccess>::Multiply(IAccess& other)
{
    TypedBuffer("Multiply").Multiply(Operand(other, "Multiply"));
}

template <class TBuffer, class IAccess>
void TSLTypedDataBufferAccess<TBuffer, IAccess>::Divide(IAccess& other)
{
    TypedBuffer("Divide").Divide(Operand(other, "Divide"));
}

template <class TBuffer, class IAccess>
void TSLTypedDataBufferAccess<TBuffer, IAccess>::Clear()
{
    TypedBuffer("Clear").Clear();
}

template class TSLTypedDataBufferAccess<TSLRealBuffer, ISLRealDataBufferAccess>;
template class TSLTypedDataBufferAccess<TSLIntegerBuffer, ISLIntegerDataBufferAccess>;
template class TSLTypedDataBufferAccess<TSLComplexBuffer, ISLComplexDataBufferAccess>;
template class TSLTypedDataBufferAccess<TSLBlockBuffer, ISLBlockDataBufferAccess>;

// ---- TSLRealDataBufferAccess

double TSLRealDataBufferAccess::GetItem(std::int32_t index) const
{
    return TypedBuffer("GetItem").GetItem(index);
}

void TSLRealDataBufferAccess::SetItem(std::int32_t index, double value)
{
    TypedBuffer("SetItem").SetItem(index, value);
}

void TSLRealDataBufferAccess::FillJaehne(double magnitude)
{
    TypedBuffer("FillJaehne").FillJaehne(magnitude);
}

void TSLRealDataBufferAccess::Fill(double value)
{
    TypedBuffer("Fill").Fill(value);
}

double TSLRealDataBufferAccess::Minimum() const
{
    const TSLRealBuffer& buffer = TypedBuffer("Minimum");
    if (buffer.GetSize() == 0)
        throw ERangeError("real buffer access object: Minimum of an empty buffer");
    return buffer.Minimum();
}

double TSLRealDataBufferAccess::Maximum() const
{
    const TSLRealBuffer& buffer = TypedBuffer("Maximum");
    if (buffer.GetSize() == 0)
        throw ERangeError("real buffer access object: Maximum of an empty buffer");
    return buffer.Maximum();
}

double TSLRealDataBufferAccess::MinimumInRange(std::int32_t from, std::int32_t to) const
{
    return TypedBuffer("MinimumInRange").MinimumInRange(from, to);
}

double TSLRealDataBufferAccess::MaximumInRange(std::int32_t from, std::int32_t to) const
{
    return TypedBuffer("MaximumInRange").MaximumInRange(from, to);
}

// ---- TSLIntegerDataBufferAccess

std::int32_t TSLIntegerDataBufferAccess::GetItem(std::int32_t index) const
{
    return TypedBuffer("GetItem").GetItem(index);
}

void TSLIntegerDataBufferAccess::SetItem(std::int32_t index, std::int32_t value)
{
    TypedBuffer("SetItem").SetItem(index, value);
}

void TSLIntegerDataBufferAccess::Fill(std::int32_t value)
{
    TypedBuffer("Fill").Fill(value);
}

// ---- TSLComplexDataBufferAccess

TSLComplex TSLComplexDataBufferAccess::GetItem(std::int32_t index) const
{
    return TypedBuffer("GetItem").GetItem(index);
}

void TSLComplexDataBufferAccess::SetItem(std::int32_t index, TSLComplex value)
{
    TypedBuffer("SetItem").SetItem(index, value);
}

void TSLComplexDataBufferAccess::Fill(double re, double im)
{
    TypedBuffer("Fill").Fill(re, im);
}

// ---- TSLBlockDataBufferAccess

void TSLBlockDataBufferAccess::Fill(std::uint8_t value)
{
    TypedBuffer("Fill").Fill(value);
}

}   // namespace harvolin
