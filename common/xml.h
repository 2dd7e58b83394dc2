#pragma once
// A small, strict, non-validating XML reader over UTF-8 text, and a byte-range editor for
// rewriting such text without disturbing its layout.
//
// The reader keeps the byte position of every element and attribute value in the source, so that
// the editor can replace exactly a value or an element's content and leave comments and
// formatting alone. Comments, processing instructions and document type declarations are dropped.
// The reader never reads outside the given text, and a malformed input only ever yields an error
// text: no exception leaves XmlDocument::parse.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sv {

// Marks an absent position (contentStart/contentEnd of an empty-element tag).
constexpr uint32_t kXmlNoPosition = 0xFFFFFFFFu;
// Elements nested deeper than this (the root being depth 0) are refused.
constexpr int kXmlMaxDepth = 64;

struct XmlAttribute {
  std::string name;          // as written
  std::string value;         // references decoded
  uint32_t valueStart = 0;   // first byte of the raw value, just behind the opening quote
  uint32_t valueEnd = 0;     // the closing quote: [valueStart, valueEnd) is the raw value
};

struct XmlNode {
  std::string name;                      // as written
  std::vector<XmlAttribute> attributes;  // source order; duplicates kept, the first one wins
  std::vector<XmlNode> children;         // child elements in source order
  // All character data directly inside the element, in source order: decoded text runs and raw
  // CDATA contents, whitespace as written.
  std::string text;
  uint32_t start = 0;                        // the '<' of the start tag
  uint32_t end = 0;                          // just behind the final '>'
  uint32_t contentStart = kXmlNoPosition;    // just behind the start tag's '>'
  uint32_t contentEnd = kXmlNoPosition;      // the "</" of the end tag
  bool selfClosing = false;                  // written as <name .../>

  // First attribute whose name equals `name` ignoring ASCII case; null if none.
  XmlAttribute* findAttribute(std::string_view attrName);
  const XmlAttribute* findAttribute(std::string_view attrName) const;
  // Decoded value, or defaultValue when absent (a present empty value yields "").
  std::string attribute(std::string_view attrName, std::string_view defaultValue = {}) const;
  // The value as a 32-bit decimal integer; defaultValue when absent or not a valid number.
  int32_t attributeInt(std::string_view attrName, int32_t defaultValue) const;
  // First child element whose name equals `childName` ignoring ASCII case; null if none.
  XmlNode* child(std::string_view childName);
  const XmlNode* child(std::string_view childName) const;
};

// The root element (fields inline) plus the text it was parsed from.
struct XmlDocument : XmlNode {
  std::string source;

  // Copies `input` into `source` and parses it. On a syntax error returns false, leaves the root
  // empty and stores "<message> (satir <line>)" in errorOut when given; the line is 1 plus the
  // number of LF bytes before the error position. The input must already be UTF-8.
  bool parse(std::string_view input, std::wstring* errorOut = nullptr);
  bool parse(std::string_view input, std::string& errorOut);
};

// Thrown inside the reader only; XmlDocument::parse turns it into an error text.
struct ParseError {
  std::string message;    // ASCII
  uint32_t position = 0;  // parse position when the error was found
};

// For attribute values between double quotes: & < > " ' become entity references.
std::string escapeAttribute(std::string_view text);
// For element content: & < > become entity references; quotes stay.
std::string escapeText(std::string_view text);

struct XmlEdit {
  uint32_t start = 0;
  uint32_t end = 0;
  std::string replacement;
};

// An edit list over one source text. Offsets always refer to the unedited source. An edit
// outside the text, with start > end, or overlapping an edit that starts behind it is skipped.
class XmlEditor {
public:
  explicit XmlEditor(std::string sourceText) : source(std::move(sourceText)) {}

  // Replaces [start, end) of the source with `replacement` when apply() runs.
  void replace(uint32_t start, uint32_t end, std::string replacement);
  // The source with every edit applied, from the back so earlier offsets stay valid.
  std::string apply() const;

  std::string source;
  std::vector<XmlEdit> edits;
};

}  // namespace sv
