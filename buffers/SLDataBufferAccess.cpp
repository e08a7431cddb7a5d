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

// ---- TSLRealDataBufferAccess

// Bound only to real buffers (their GetRealAccess makes it), so the cast cannot miss.
TSLRealBuffer& TSLRealDataBufferAccess::Real(const char* operation) const
{
    return static_cast<TSLRealBuffer&>(Bound(operation));
}

const double* TSLRealDataBufferAccess::GetRead() const
{
    return Real("GetRead").GetRead();
}

double* TSLRealDataBufferAccess::GetWrite()
{
    return Real("GetWrite").GetWrite();
}

double* TSLRealDataBufferAccess::GetModify()
{
    return Real("GetModify").GetModify();
}

double TSLRealDataBufferAccess::GetItem(std::int32_t index) const
{
    return Real("GetItem").GetItem(index);
}

void TSLRealDataBufferAccess::SetItem(std::int32_t index, double value)
{
    Real("SetItem").SetItem(index, value);
}

void TSLRealDataBufferAccess::FillJaehne(double magnitude)
{
    Real("FillJaehne").FillJaehne(magnitude);
}

void TSLRealDataBufferAccess::Add(ISLRealDataBufferAccess& other)
{
    Real("Add").Add(OtherBuffer<ISLRealDataBuffer>(other, "Add"));
}

void TSLRealDataBufferAccess::Subtract(ISLRealDataBufferAccess& other)
{
    Real("Subtract").Subtract(OtherBuffer<ISLRealDataBuffer>(other, "Subtract"));
}

void TSLRealDataBufferAccess::Multiply(ISLRealDataBufferAccess& other)
{
    Real("Multiply").Multiply(OtherBuffer<ISLRealDataBuffer>(other, "Multiply"));
}

void TSLRealDataBufferAccess::Divide(ISLRealDataBufferAccess& other)
{
    Real("Divide").Divide(OtherBuffer<ISLRealDataBuffer>(other, "Divide"));
}

void TSLRealDataBufferAccess::Fill(double value)
{
    Real("Fill").Fill(value);
}

void TSLRealDataBufferAccess::Clear()
{
    Real("Clear").Clear();
}

double TSLRealDataBufferAccess::Minimum() const
{
    const TSLRealBuffer& buffer = Real("Minimum");
    if (buffer.GetSize() == 0)
        throw ERangeError("real buffer access object: Minimum of an empty buffer");
    return buffer.Minimum();
}

double TSLRealDataBufferAccess::Maximum() const
{
    const TSLRealBuffer& buffer = Real("Maximum");
    if (buffer.GetSize() == 0)
        throw ERangeError("real buffer access object: Maximum of an empty buffer");
    return buffer.Maximum();
}

double TSLRealDataBufferAccess::MinimumInRange(std::int32_t from, std::int32_t to) const
{
    return Real("MinimumInRange").MinimumInRange(from, to);
}

double TSLRealDataBufferAccess::MaximumInRange(std::int32_t from, std::int32_t to) const
{
    return Real("MaximumInRange").MaximumInRange(from, to);
}

// ---- TSLIntegerDataBufferAccess

TSLIntegerBuffer& TSLIntegerDataBufferAccess::Integer(const char* operation) const
{
    return static_cast<TSLIntegerBuffer&>(Bound(operation));
}

const std::int32_t* TSLIntegerDataBufferAccess::GetRead() const
{
    return Integer("GetRead").GetRead();
}

std::int32_t* TSLIntegerDataBufferAccess::GetWrite()
{
    return Integer("GetWrite").GetWrite();
}

std::int32_t* TSLIntegerDataBufferAccess::GetModify()
{
    return Integer("GetModify").GetModify();
}

std::int32_t TSLIntegerDataBufferAccess::GetItem(std::int32_t index) const
{
    return Integer("GetItem").GetItem(index);
}

void TSLIntegerDataBufferAccess::SetItem(std::int32_t index, std::int32_t value)
{
    Integer("SetItem").SetItem(index, value);
}

void TSLIntegerDataBufferAccess::Add(ISLIntegerDataBufferAccess& other)
{
    Integer("Add").Add(OtherBuffer<ISLIntegerDataBuffer>(other, "Add"));
}

void TSLIntegerDataBufferAccess::Subtract(ISLIntegerDataBufferAccess& other)
{
    Integer("Subtract").Subtract(OtherBuffer<ISLIntegerDataBuffer>(other, "Subtract"));
}

void TSLIntegerDataBufferAccess::Multiply(ISLIntegerDataBufferAccess& other)
{
    Integer("Multiply").Multiply(OtherBuffer<ISLIntegerDataBuffer>(other, "Multiply"));
}

void TSLIntegerDataBufferAccess::Divide(ISLIntegerDataBufferAccess& other)
{
    Integer("Divide").Divide(OtherBuffer<ISLIntegerDataBuffer>(other, "Divide"));
}

void TSLIntegerDataBufferAccess::Fill(std::int32_t value)
{
    Integer("Fill").Fill(value);
}

void TSLIntegerDataBufferAccess::Clear()
{
    Integer("Clear").Clear();
}

// ---- TSLComplexDataBufferAccess

TSLComplexBuffer& TSLComplexDataBufferAccess::Complex(const char* operation) const
{
    return static_cast<TSLComplexBuffer&>(Bound(operation));
}

const TSLComplex* TSLComplexDataBufferAccess::GetRead() const
{
    return Complex("GetRead").GetRead();
}

TSLComplex* TSLComplexDataBufferAccess::GetWrite()
{
    return Complex("GetWrite").GetWrite();
}

TSLComplex* TSLComplexDataBufferAccess::GetModify()
{
    return Complex("GetModify").GetModify();
}

TSLComplex TSLComplexDataBufferAccess::GetItem(std::int32_t index) const
{
    return Complex("GetItem").GetItem(index);
}

void TSLComplexDataBufferAccess::SetItem(std::int32_t index, TSLComplex value)
{
    Complex("SetItem").SetItem(index, value);
}

void TSLComplexDataBufferAccess::Add(ISLComplexDataBufferAccess& other)
{
    Complex("Add").Add(OtherBuffer<ISLComplexDataBuffer>(other, "Add"));
}

void TSLComplexDataBufferAccess::Subtract(ISLComplexDataBufferAccess& other)
{
    Complex("Subtract").Subtract(OtherBuffer<ISLComplexDataBuffer>(other, "Subtract"));
}

void TSLComplexDataBufferAccess::Multiply(ISLComplexDataBufferAccess& other)
{
    Complex("Multiply").Multiply(OtherBuffer<ISLComplexDataBuffer>(other, "Multiply"));
}

void TSLComplexDataBufferAccess::Divide(ISLComplexDataBufferAccess& other)
{
    Complex("Divide").Divide(OtherBuffer<ISLComplexDataBuffer>(other, "Divide"));
}

void TSLComplexDataBufferAccess::Fill(double re, double im)
{
    Complex("Fill").Fill(re, im);
}

void TSLComplexDataBufferAccess::Clear()
{
    Complex("Clear").Clear();
}

// ---- TSLBlockDataBufferAccess

TSLBlockBuffer& TSLBlockDataBufferAccess::Block(const char* operation) const
{
    return static_cast<TSLBlockBuffer&>(Bound(operation));
}

const std::uint8_t* TSLBlockDataBufferAccess::GetRead() const
{
    return Block("GetRead").GetRead();
}

std::uint8_t* TSLBlockDataBufferAccess::GetWrite()
{
    return Block("GetWrite").GetWrite();
}

std::uint8_t* TSLBlockDataBufferAccess::GetModify()
{
    return Block("GetModify").GetModify();
}

void TSLBlockDataBufferAccess::Add(ISLBlockDataBufferAccess& other)
{
    Block("Add").Add(OtherBuffer<ISLBlockDataBuffer>(other, "Add"));
}

void TSLBlockDataBufferAccess::Subtract(ISLBlockDataBufferAccess& other)
{
    Block("Subtract").Subtract(OtherBuffer<ISLBlockDataBuffer>(other, "Subtract"));
}

void TSLBlockDataBufferAccess::Multiply(ISLBlockDataBufferAccess& other)
{
    Block("Multiply").Multiply(OtherBuffer<ISLBlockDataBuffer>(other, "Multiply"));
}

void TSLBlockDataBufferAccess::Divide(ISLBlockDataBufferAccess& other)
{
    Block("Divide").Divide(OtherBuffer<ISLBlockDataBuffer>(other, "Divide"));
}

void TSLBlockDataBufferAccess::Fill(std::uint8_t value)
{
    Block("Fill").Fill(value);
}

void TSLBlockDataBufferAccess::Clear()
{
    Block("Clear").Clear();
}

}   // namespace harvolin
