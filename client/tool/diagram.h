#pragma once

// Class diagrams of a package in UML notation, drawn by Graphviz: classes
// as boxes of three compartments (name, attributes, operations; abstract
// names in italics), generalizations as lines to a hollow triangle,
// associations as plain lines with their ends' names and multiplicities,
// nested packages as frames.

#include <string>

#include "client/tool/model_view.h"

namespace qovix::tool {

// The package in Graphviz's DOT language. With `links`, each classifier and
// package links to `links` followed by its object number (an SVG's boxes
// are then links).
std::string diagramDot(const ElementView& package, const std::string& links = "");

// Renders DOT text with Graphviz's `dot` as `format` (svg, png) into
// `outputPath`, or to standard output for "-"; throws std::runtime_error
// saying why when it cannot.
void renderDot(const std::string& dot, const std::string& format, const std::string& outputPath);

}  // namespace qovix::tool
