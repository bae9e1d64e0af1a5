#pragma once

// Models of a size chosen, as documents: what the tests and benchmarks of
// large repositories import.

#include <string>

// A UML 1.4 document in XMI 1.2 of `packages` packages (one top-level one
// when there is a single, named `prefix`; else named prefix0, prefix1, ...),
// each of `classes` classes C0, C1, ... with two attributes and an
// operation with a parameter, each class but the first a subtype of the
// first: 6 objects a class.
std::string generatedModel(const std::string& prefix, int packages, int classes);
