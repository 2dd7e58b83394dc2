// Parses arbitrary bytes; on success checks that every recorded position lies inside the text in
// the right order, and that rewriting values through the escaping functions and the edit list
// reads back to the same values.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/xml.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckNode(const sv::XmlNode& node, size_t size) {
  Check(node.start < node.end && node.end <= size);
  if (node.selfClosing) {
    Check(node.contentStart == sv::kXmlNoPosition && node.contentEnd == sv::kXmlNoPosition);
  } else {
    Check(node.start < node.contentStart && node.contentStart <= node.contentEnd &&
          node.contentEnd < node.end);
  }
  uint32_t previous = node.start;
  for (const sv::XmlAttribute& attr : node.attributes) {
    Check(previous < attr.valueStart && attr.valueStart <= attr.valueEnd && attr.valueEnd < node.end);
    previous = attr.valueEnd;
  }
  for (const sv::XmlNode& child : node.children) {
    Check(node.contentStart <= child.start && child.end <= node.contentEnd);
    Check(previous <= child.start);
    previous = child.end;
    CheckNode(child, size);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  sv::XmlDocument doc;
  std::string error;
  if (!doc.parse(text, error)) {
    Check(error.find(" (satir ") != std::string::npos && doc.children.empty());
    return 0;
  }
  CheckNode(doc, size);

  sv::XmlEditor editor(doc.source);
  for (const sv::XmlAttribute& attr : doc.attributes) {
    editor.replace(attr.valueStart, attr.valueEnd, sv::escapeAttribute(attr.value));
  }
  const sv::XmlNode* withContent = nullptr;
  for (const sv::XmlNode& child : doc.children) {
    if (!child.selfClosing) {
      withContent = &child;
      break;
    }
  }
  if (withContent) {
    editor.replace(withContent->contentStart, withContent->contentEnd, sv::escapeText(withContent->text));
  }
  sv::XmlDocument again;
  Check(again.parse(editor.apply()));
  Check(again.attributes.size() == doc.attributes.size());
  for (size_t i = 0; i < doc.attributes.size(); ++i) {
    Check(again.attributes[i].value == doc.attributes[i].value);
  }
  if (withContent) {
    const size_t index = static_cast<size_t>(withContent - doc.children.data());
    Check(again.children.size() >= index + 1 && again.children[index].text == withContent->text);
  }
  return 0;
}
