#pragma once
#include "rtl/DescriptionReader.h"
#include "rtl/DescriptionText.h"
#include "rtl/DescriptionWriter.h"
#include "tests/support/DescriptionTestComponents.h"
#include <stdexcept>
#include <string>
#include <string_view>

namespace harvolin
{

// One input of the description fuzzer, also replayed by the unit tests. A text the parser or the reader
// refuses must raise EReadError, which is caught here; anything else that leaves is a fault, and so is a
// round trip that changes the text (std::logic_error).
inline void ExerciseDescriptionReader(std::string_view text)
{
    RegisterDescriptionTestClasses();
    try
    {
        const std::string printed = PrintDescription(ParseDescription(text));
        if (PrintDescription(ParseDescription(printed)) != printed)
            throw std::logic_error("printing a parsed description again changed it");
    }
    catch (const EReadError&)
    {
        return;
    }
    TComponentPtr<TComponent> component;
    try
    {
        component = ReadComponent(text);
    }
    catch (const EReadError&)
    {
        return;
    }
    const std::string written = WriteDescription(*component);
    try
    {
        const TComponentPtr<TComponent> again = ReadComponent(written);
        if (WriteDescription(*again) != written)
            throw std::logic_error("writing a read description again changed it");
    }
    catch (const EReadError& error)
    {
        throw std::logic_error(std::string("a written description does not read back: ") + error.what());
    }
}

}   // namespace harvolin
