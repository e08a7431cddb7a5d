#pragma once
#include "rtl/Component.h"
#include "rtl/DescriptionText.h"
#include <string>

namespace harvolin
{

// The stored description of a component and, at any depth, the components it owns (in ComponentCount
// order), as DescriptionReader reads it back. Runs on the thread that owns the component tree.
//
// For each object: every published property, in the order of Properties(), that has both Get and Set and
// whose value differs from its Default (floats compare by bits, so -0.0 is stored against a default of 0.0);
// a class-typed property contributes the stored values of the object it holds under a "Property." prefix
// (none when it holds a component or nothing, or an object already being written further up the path), or
// one collection value when it holds a TCollection with items, each item stored as an object is;
// then the extra values of the object's DefineProperties whose hasData is true. So a sub-object's extra
// values follow its published ones ("OutputPin.SinkPins").
//
// Raises EConvertError when a value cannot be written (an identifier that is no dotted name, nesting beyond
// kMaxDescriptionNesting), and whatever a getter raises; nothing is changed either way.
[[nodiscard]] std::string WriteDescription(const TComponent& root);

// The same as a tree, before printing.
[[nodiscard]] TDescObject DescribeComponent(const TComponent& root);

}   // namespace harvolin
