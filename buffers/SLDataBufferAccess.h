#pragma once
#include "buffers/SLSimpleDataBuffer.h"
#include "rtl/Exceptions.h"

#include <cstdint>

namespace harvolin
{

// Raised by every operation but GetBuffer on an access object whose buffer has gone.
class ESLAccessDetached : public Exception
{
public:
    using Exception::Exception;
};

// A client's way into one buffer without holding the buffer's own interface. It holds a plain link: it
// keeps the buffer alive no more than a pointer would, so its holder must keep the buffer (or a handle
// sharing it) for as long as it uses it. When the buffer goes first the link is cleared, GetBuffer returns
// null and every other call raises ESLAccessDetached. Access objects of one buffer are made and released on
// the thread that uses the buffer; nothing here locks. Calls forward to the buffer and its copy-on-write
// rules apply unchanged.
class ISLDataBufferAccess
{
public:
    static constexpr TGUID kIID = MakeGuid("{D3241C44-18F8-4A3E-A9B9-21385EC64A55}");

    virtual ~ISLDataBufferAccess() = default;
    virtual void AddRef() const noexcept = 0;
    virtual void Release() const noexcept = 0;

    [[nodiscard]] virtual const std::uint8_t* GetReadBytes() const = 0;
    [[nodiscard]] virtual std::uint8_t* GetWriteBytes() = 0;
    [[nodiscard]] virtual std::uint8_t* GetModifyBytes() = 0;
    [[nodiscard]] virtual std::uint32_t GetByteSize() const = 0;
    [[nodiscard]] virtual std::uint32_t GetSize() const = 0;
    // Null once detached; valid while the buffer lives.
    [[nodiscard]] virtual ISLDataBuffer* GetBuffer() const noexcept = 0;
    [[nodiscard]] virtual TSLSequenceStamp& GetSequenceStamp() = 0;
    // Into the buffer of the destination access object, with the buffer's CopyTo.
    virtual void CopyTo(std::uint32_t sourceOffset, ISLDataBufferAccess& destination, std::uint32_t count,
                        std::uint32_t destinationOffset) = 0;
    // The current size changes nothing and does not reach the buffer.
    virtual void SetSize(std::uint32_t count, bool preserve) = 0;
    virtual void MakeUnique(bool preserve) = 0;
    [[nodiscard]] virtual TRefPtr<TSLGenericBuffer> Clone() = 0;
};

// The real buffer's operations; the other operand is read through its access object's buffer.
class ISLRealDataBufferAccess : public virtual ISLDataBufferAccess
{
public:
    static constexpr TGUID kIID = MakeGuid("{67B82C04-424E-4DD9-9BA1-EEDFC8046E74}");

    [[nodiscard]] virtual const double* GetRead() const = 0;
    [[nodiscard]] virtual double* GetWrite() = 0;
    [[nodiscard]] virtual double* GetModify() = 0;
    [[nodiscard]] virtual double GetItem(std::int32_t index) const = 0;
    virtual void SetItem(std::int32_t index, double value) = 0;
    virtual void FillJaehne(double magnitude) = 0;
    virtual void Add(ISLRealDataBufferAccess& other) = 0;
    virtual void Subtract(ISLRealDataBufferAccess& other) = 0;
    virtual void Multiply(ISLRealDataBufferAccess& other) = 0;
    virtual void Divide(ISLRealDataBufferAccess& other) = 0;
    virtual void Fill(double value) = 0;
    virtual void Clear() = 0;
    // Unlike the buffer's, these raise ERangeError for an empty buffer instead of answering 0.0.
    [[nodiscard]] virtual double Minimum() const = 0;
    [[nodiscard]] virtual double Maximum() const = 0;
    [[nodiscard]] virtual double MinimumInRange(std::int32_t from, std::int32_t to) const = 0;
    [[nodiscard]] virtual double MaximumInRange(std::int32_t from, std::int32_t to) const = 0;
};

class ISLIntegerDataBufferAccess : public virtual ISLDataBufferAccess
{
public:
    static constexpr TGUID kIID = MakeGuid("{2AB3F68A-39D1-4FED-A70F-6D959B6257BA}");

    [[nodiscard]] virtual const std::int32_t* GetRead() const = 0;
    [[nodiscard]] virtual std::int32_t* GetWrite() = 0;
    [[nodiscard]] virtual std::int32_t* GetModify() = 0;
    [[nodiscard]] virtual std::int32_t GetItem(std::int32_t index) const = 0;
    virtual void SetItem(std::int32_t index, std::int32_t value) = 0;
    virtual void Add(ISLIntegerDataBufferAccess& other) = 0;
    virtual void Subtract(ISLIntegerDataBufferAccess& other) = 0;
    virtual void Multiply(ISLIntegerDataBufferAccess& other) = 0;
    virtual void Divide(ISLIntegerDataBufferAccess& other) = 0;
    virtual void Fill(std::int32_t value) = 0;
    virtual void Clear() = 0;
};

class ISLComplexDataBufferAccess : public virtual ISLDataBufferAccess
{
public:
    static constexpr TGUID kIID = MakeGuid("{64D1842C-8755-4E9B-95EE-CA34242DE9BF}");

    [[nodiscard]] virtual const TSLComplex* GetRead() const = 0;
    [[nodiscard]] virtual TSLComplex* GetWrite() = 0;
    [[nodiscard]] virtual TSLComplex* GetModify() = 0;
    [[nodiscard]] virtual TSLComplex GetItem(std::int32_t index) const = 0;
    virtual void SetItem(std::int32_t index, TSLComplex value) = 0;
    virtual void Add(ISLComplexDataBufferAccess& other) = 0;
    virtual void Subtract(ISLComplexDataBufferAccess& other) = 0;
    virtual void Multiply(ISLComplexDataBufferAccess& other) = 0;
    virtual void Divide(ISLComplexDataBufferAccess& other) = 0;
    virtual void Fill(double re, double im) = 0;
    virtual void Clear() = 0;
};

class ISLBlockDataBufferAccess : public virtual ISLDataBufferAccess
{
public:
    static constexpr TGUID kIID = MakeGuid("{5E0F3B7A-91C4-4D2E-8B6F-0A7C3D9E1F24}");

    [[nodiscard]] virtual const std::uint8_t* GetRead() const = 0;
    [[nodiscard]] virtual std::uint8_t* GetWrite() = 0;
    [[nodiscard]] virtual std::uint8_t* GetModify() = 0;
    virtual void Add(ISLBlockDataBufferAccess& other) = 0;
    virtual void Subtract(ISLBlockDataBufferAccess& other) = 0;
    virtual void Multiply(ISLBlockDataBufferAccess& other) = 0;
    virtual void Divide(ISLBlockDataBufferAccess& other) = 0;
    virtual void Fill(std::uint8_t value) = 0;
    virtual void Clear() = 0;
};

// Made by a buffer's GetAccess, bound to it and on its access list until either side goes.
class TSLDataBufferAccess : public TRefCounted, public virtual ISLDataBufferAccess
{
public:
    explicit TSLDataBufferAccess(TSLGenericBuffer& buffer);
    ~TSLDataBufferAccess() override;

    void AddRef() const noexcept override { TRefCounted::AddRef(); }
    void Release() const noexcept override { TRefCounted::Release(); }

    [[nodiscard]] const std::uint8_t* GetReadBytes() const override;
    [[nodiscard]] std::uint8_t* GetWriteBytes() override;
    [[nodiscard]] std::uint8_t* GetModifyBytes() override;
    [[nodiscard]] std::uint32_t GetByteSize() const override;
    [[nodiscard]] std::uint32_t GetSize() const override;
    [[nodiscard]] ISLDataBuffer* GetBuffer() const noexcept override { return FBuffer; }
    [[nodiscard]] TSLSequenceStamp& GetSequenceStamp() override;
    void CopyTo(std::uint32_t sourceOffset, ISLDataBufferAccess& destination, std::uint32_t count,
                std::uint32_t destinationOffset) override;
    void SetSize(std::uint32_t count, bool preserve) override;
    void MakeUnique(bool preserve) override;
    [[nodiscard]] TRefPtr<TSLGenericBuffer> Clone() override;

    // Leaves the buffer's list and clears the link; the buffer calls it as it goes. Idempotent.
    void Detach() noexcept;
protected:
    // The bound buffer; raises ESLAccessDetached naming the operation once detached.
    [[nodiscard]] TSLGenericBuffer& Bound(const char* operation) const;
    // The buffer behind another access object, as I; raises ESLAccessDetached when it has none.
    template <class I>
    [[nodiscard]] static I& OtherBuffer(const ISLDataBufferAccess& other, const char* operation);
private:
    TSLGenericBuffer* FBuffer;   // not counted; null once detached
};

// What the four typed access objects share, written once for the buffer class TBuffer (bound only to one of
// those, as its typed GetAccess makes it) and the access interface IAccess. Each class adds what only its
// type has. Instantiated for the four classes below and no others: the members defined out of line are
// compiled for them in SLDataBufferAccess.cpp. No extern template declaration on purpose: with one,
// callers no longer inline or devirtualise the members defined in the class.
template <class TBuffer, class IAccess>
class TSLTypedDataBufferAccess : public TSLDataBufferAccess, public virtual IAccess
{
public:
    using TElement = typename TBuffer::TItem;

    [[nodiscard]] const TElement* GetRead() const override;
    [[nodiscard]] TElement* GetWrite() override;
    [[nodiscard]] TElement* GetModify() override;
    void Add(IAccess& other) override;
    void Subtract(IAccess& other) override;
    void Multiply(IAccess& other) override;
    void Divide(IAccess& other) override;
    void Clear() override;
protected:
    explicit TSLTypedDataBufferAccess(TBuffer& buffer) : TSLDataBufferAccess(buffer) {}

    // The bound buffer as its class; raises ESLAccessDetached naming the operation once detached.
    [[nodiscard]] TBuffer& TypedBuffer(const char* operation) const
    {
        return static_cast<TBuffer&>(Bound(operation));
    }
    // The buffer behind another access object of this type, for the two-buffer operations.
    [[nodiscard]] static typename TBuffer::ITyped& Operand(const IAccess& other, const char* operation);
};

class TSLRealDataBufferAccess : public TSLTypedDataBufferAccess<TSLRealBuffer, ISLRealDataBufferAccess>
{
public:
    explicit TSLRealDataBufferAccess(TSLRealBuffer& buffer) : TSLTypedDataBufferAccess(buffer) {}

    [[nodiscard]] double GetItem(std::int32_t index) const override;
    void SetItem(std::int32_t index, double value) override;
    void FillJaehne(double magnitude) override;
    void Fill(double value) override;
    [[nodiscard]] double Minimum() const override;
    [[nodiscard]] double Maximum() const override;
    [[nodiscard]] double MinimumInRange(std::int32_t from, std::int32_t to) const override;
    [[nodiscard]] double MaximumInRange(std::int32_t from, std::int32_t to) const override;
};

class TSLIntegerDataBufferAccess
    : public TSLTypedDataBufferAccess<TSLIntegerBuffer, ISLIntegerDataBufferAccess>
{
public:
    explicit TSLIntegerDataBufferAccess(TSLIntegerBuffer& buffer) : TSLTypedDataBufferAccess(buffer) {}

    [[nodiscard]] std::int32_t GetItem(std::int32_t index) const override;
    void SetItem(std::int32_t index, std::int32_t value) override;
    void Fill(std::int32_t value) override;
};

class TSLComplexDataBufferAccess
    : public TSLTypedDataBufferAccess<TSLComplexBuffer, ISLComplexDataBufferAccess>
{
public:
    explicit TSLComplexDataBufferAccess(TSLComplexBuffer& buffer) : TSLTypedDataBufferAccess(buffer) {}

    [[nodiscard]] TSLComplex GetItem(std::int32_t index) const override;
    void SetItem(std::int32_t index, TSLComplex value) override;
    void Fill(double re, double im) override;
};

class TSLBlockDataBufferAccess : public TSLTypedDataBufferAccess<TSLBlockBuffer, ISLBlockDataBufferAccess>
{
public:
    explicit TSLBlockDataBufferAccess(TSLBlockBuffer& buffer) : TSLTypedDataBufferAccess(buffer) {}

    void Fill(std::uint8_t value) override;
};

}   // namespace harvolin
