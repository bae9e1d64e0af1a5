#include "tests/support/generated_model.h"

std::string generatedModel(const std::string& prefix, int packages, int classes) {
  std::string xmi =
      "<?xml version=\"1.0\"?>\n<XMI xmi.version=\"1.2\" xmlns:UML=\"org.omg.xmi.namespace.UML\">"
      "<XMI.header><XMI.metamodel xmi.name=\"UML\" xmi.version=\"1.4\"/></XMI.header>"
      "<XMI.content>";
  for (int p = 0; p < packages; ++p) {
    const std::string pkg = prefix + std::to_string(p);
    xmi += "<UML:Package xmi.id=\"" + pkg + "\" name=\"" + (packages == 1 ? prefix : pkg) +
           "\"><UML:Namespace.ownedElement>";
    for (int c = 0; c < classes; ++c) {
      const std::string id = pkg + "c" + std::to_string(c);
      xmi += "<UML:Class xmi.id=\"" + id + "\" name=\"C" + std::to_string(c) + "\" isAbstract=\"" +
             (c == 0 ? "true" : "false") + "\"><UML:Classifier.feature>" +
             "<UML:Attribute xmi.id=\"" + id + "a\" name=\"size\" visibility=\"private\"/>" +
             "<UML:Attribute xmi.id=\"" + id + "b\" name=\"label\"/>" + "<UML:Operation xmi.id=\"" +
             id + "o\" name=\"resize\"><UML:BehavioralFeature.parameter><UML:Parameter xmi.id=\"" +
             id + "p\" name=\"by\" kind=\"in\"/></UML:BehavioralFeature.parameter>" +
             "</UML:Operation></UML:Classifier.feature>";
      if (c > 0) {
        xmi += "<UML:GeneralizableElement.generalization><UML:Generalization xmi.idref=\"" + id +
               "g\"/></UML:GeneralizableElement.generalization>";
      }
      xmi += "</UML:Class>";
      if (c > 0) {
        xmi += "<UML:Generalization xmi.id=\"" + id + "g\"><UML:Generalization.child>" +
               "<UML:Class xmi.idref=\"" + id + "\"/></UML:Generalization.child>" +
               "<UML:Generalization.parent><UML:Class xmi.idref=\"" + pkg +
               "c0\"/></UML:Generalization.parent></UML:Generalization>";
      }
    }
    xmi += "</UML:Namespace.ownedElement></UML:Package>";
  }
  return xmi + "</XMI.content></XMI>\n";
}
