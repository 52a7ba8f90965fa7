// Stored forms in text form: a component, its published properties, its stored extra values
// and the components it owns, nested.
//
//   object Module1: TDataModule
//     object Generator1: TGenerator
//       Mask = 'INV-##'
//       GeneratorType = 3
//       GetUserPrefixes = Module1GetPrefixes
//       DataBaseName = 'tGenAlias'
//       TableName = 'GENTBL.DB'
//     end
//   end
//
// Values are integers, identifiers (event handlers, by the name under which the form's root
// publishes them) and strings: quoted runs with the quote doubled, and #nnn byte codes for
// control and non-ASCII bytes, so that any byte string survives. A string may continue on the
// next line after a "+".
//
// Reading applies the properties in stream order through their setters, creates the nested
// components through the class registry, owned by the component they are nested in, and
// calls Loaded() on every component read, in creation order, once the whole form is read. A
// form that cannot be read throws EReadError naming the line and what was wrong, and every
// component the reading created is freed again.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

#include "platform/base/exception.h"
#include "platform/model/classes.h"
#include "platform/model/component.h"

namespace tgen {

// Reads a whole form, creating its root by the class name it gives. With `designing`, the root
// (and with it everything it owns) is in the designing state before any value is read, as a
// form designer needs it.
std::unique_ptr<TComponent> ReadComponent(std::string_view text,
                                          const TClassRegistry& classes = TClassRegistry::Global(),
                                          bool designing = false);
// Reads a form into an existing root, whose class must be the one the form names.
void ReadComponentInto(std::string_view text, TComponent& root,
                       const TClassRegistry& classes = TClassRegistry::Global());

// Writes `root` and everything it owns: the stored published properties in declared order,
// then the defined values in definition order, then the owned components.
std::string WriteComponent(const TComponent& root);

// The same on files; a file that cannot be opened or written throws Exception.
std::unique_ptr<TComponent> ReadComponentFile(
    const std::string& path, const TClassRegistry& classes = TClassRegistry::Global());
void WriteComponentFile(const std::string& path, const TComponent& root);

// The quoted form of a byte string, as written in a stored form.
std::string QuoteString(std::string_view bytes);

}  // namespace tgen
