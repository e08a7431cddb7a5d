#pragma once
#include "rtl/Component.h"
#include <string_view>

namespace harvolin
{

// Reading a stored description (DescriptionText) into components. Runs on the thread that owns the
// component tree (the window thread).
//
// Order of work: the objects are visited in stored order. Each child object is created through the class
// registry, owned by the component it is nested in, and named; every component read (the root included)
// gets Loading() before its first property is set. An assignment resolves the leading elements of its path
// with ResolvePropertyPath and sets the last as a published property, or else offers it to the object's
// DefineProperties. A collection value goes to a class-typed property that holds a TCollection: the
// collection is cleared, gets one item per stored item from its AddItem(), and each item's assignments are
// set on the item as an object's are (paths relative to the item). Once every object is read and every
// component exists, Loaded() runs on each component read in creation order, the top object last, so that the
// top object's Loaded() sees every component it owns loaded already.
//
// Failure: EReadError "line L, column C: ..." for malformed text, an unknown class or property, a read-only
// property and for whatever a setter, a reader of an extra value, a constructor, SetName or Loaded() raises
// (wrapped with the position of the assignment or object). Every component the read created is destroyed
// before the error leaves; the caller's own components stay, with the properties set so far, and a root
// read by ReadDescription leaves csLoading without becoming loaded. A collection of the caller's own that
// was being read keeps the items made so far, the failing one with the values set before the error. A
// collection value for a property holding no collection, and any other value for one holding a collection,
// are errors too.

// Reads a description whose top object describes root itself: its class must be root's class, and its name
// becomes root's name.
void ReadDescription(TComponent& root, std::string_view text);

// Creates the top object from the class registry, owned by owner, and reads it.
TComponent& ReadComponent(std::string_view text, TComponent& owner);
// Creates the top object from the class registry, owned by nobody, and reads it.
[[nodiscard]] TComponentPtr<TComponent> ReadComponent(std::string_view text);

}   // namespace harvolin
