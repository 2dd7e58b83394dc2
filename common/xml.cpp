#include "common/xml.h"

#include <algorithm>
#include <new>
#include <numeric>

#include "common/text.h"

namespace sv {

namespace {

constexpr size_t kNpos = std::string_view::npos;
// The ';' of a reference may lie at most this many bytes behind its '&'; further away, the '&'
// is plain text. Keeps the search for ';' short on text full of bare ampersands.
constexpr size_t kMaxReferenceDistance = 12;
constexpr uint32_t kMaxCodePoint = 0x10FFFF;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsNameStart(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || u == ':' || u >= 0x80;
}

bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

int DigitValue(char c, uint32_t base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16) {
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  }
  return -1;
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// `name` lies between '&' and ';'. Appends what the reference stands for and returns true, or
// returns false when the reference is unknown or malformed and must stay as written.
bool DecodeReference(std::string_view name, std::string& out) {
  static constexpr struct {
    std::string_view name;
    char value;
  } kEntities[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  for (const auto& entity : kEntities) {
    if (name == entity.name) {
      out += entity.value;
      return true;
    }
  }
  if (name.size() < 2 || name[0] != '#') return false;
  uint32_t base = 10;
  size_t i = 1;
  if (name[1] == 'x' || name[1] == 'X') {
    base = 16;
    i = 2;
  }
  if (i == name.size()) return false;
  uint32_t value = 0;
  for (; i < name.size(); ++i) {
    const int digit = DigitValue(name[i], base);
    // Stopping once past the last code point keeps the value far from overflowing.
    if (digit < 0 || value > kMaxCodePoint) return false;
    value = value * base + static_cast<uint32_t>(digit);
  }
  // A well-formed reference beyond the last code point produces nothing.
  if (value <= kMaxCodePoint) AppendUtf8(value, out);
  return true;
}

// Appends `raw` with entity and character references decoded.
void AppendDecoded(std::string_view raw, std::string& out) {
  size_t i = 0;
  while (i < raw.size()) {
    const size_t amp = raw.find('&', i);
    if (amp == kNpos) {
      out.append(raw.data() + i, raw.size() - i);
      return;
    }
    out.append(raw.data() + i, amp - i);
    const std::string_view window =
        raw.substr(amp + 1, std::min(raw.size() - amp - 1, kMaxReferenceDistance));
    const size_t semi = window.find(';');
    if (semi != kNpos && DecodeReference(window.substr(0, semi), out)) {
      i = amp + 1 + semi + 1;
    } else {
      out += '&';
      i = amp + 1;
    }
  }
}

class Parser {
public:
  explicit Parser(std::string_view text) : text_(text) {}

  void ParseDocument(XmlNode& root) {
    bool rootSeen = false;
    for (;;) {
      SkipSpace();
      if (AtEnd()) {
        if (!rootSeen) Fail("Kok eleman yok");
        return;
      }
      if (StartsWith("<?")) {
        SkipPast("?>", pos_);
      } else if (StartsWith("<!--")) {
        SkipPast("-->", pos_);
      } else if (StartsWith("<!")) {
        SkipPast(">", pos_ + 2);
      } else if (text_[pos_] != '<') {
        Fail("Beklenmeyen metin");
      } else if (rootSeen) {
        Fail("Birden fazla kok eleman");
      } else {
        ParseElement(root, 0);
        rootSeen = true;
      }
    }
  }

private:
  [[noreturn]] void Fail(const char* message) const {
    throw ParseError{message, static_cast<uint32_t>(pos_)};
  }

  bool AtEnd() const { return pos_ >= text_.size(); }

  bool StartsWith(std::string_view s) const {
    return s.size() <= text_.size() - pos_ && text_.compare(pos_, s.size(), s) == 0;
  }

  void SkipSpace() {
    while (!AtEnd() && IsSpace(text_[pos_])) ++pos_;
  }

  // Comments, processing instructions and declarations: the closer is searched from `from`,
  // and the parse goes on behind it.
  void SkipPast(std::string_view closer, size_t from) {
    const size_t found = text_.find(closer, from);
    if (found == kNpos) Fail("Kapanmamis yapi");
    pos_ = found + closer.size();
  }

  std::string_view ReadName() {
    if (AtEnd() || !IsNameStart(text_[pos_])) Fail("Gecersiz ad");
    const size_t begin = pos_++;
    while (!AtEnd() && IsNameChar(text_[pos_])) ++pos_;
    return text_.substr(begin, pos_ - begin);
  }

  void ParseAttribute(XmlNode& node) {
    const std::string_view name = ReadName();
    SkipSpace();
    if (AtEnd() || text_[pos_] != '=') Fail("Ozellikte '=' yok");
    ++pos_;
    SkipSpace();
    if (AtEnd() || (text_[pos_] != '"' && text_[pos_] != '\'')) Fail("Ozellik degeri tirnaksiz");
    const char quote = text_[pos_++];
    const size_t close = text_.find(quote, pos_);
    if (close == kNpos) Fail("Ozellik degeri kapanmadi");
    XmlAttribute& attr = node.attributes.emplace_back();
    attr.name.assign(name);
    attr.valueStart = static_cast<uint32_t>(pos_);
    attr.valueEnd = static_cast<uint32_t>(close);
    AppendDecoded(text_.substr(pos_, close - pos_), attr.value);
    pos_ = close + 1;
  }

  // Reads the start tag; returns false for an empty-element tag, which ends the element.
  bool ParseStartTag(XmlNode& node) {
    node.name.assign(ReadName());
    for (;;) {
      SkipSpace();
      if (AtEnd()) Fail("Etiket kapanmadi");
      if (StartsWith("/>")) {
        pos_ += 2;
        node.selfClosing = true;
        node.end = static_cast<uint32_t>(pos_);
        return false;
      }
      if (text_[pos_] == '>') {
        ++pos_;
        node.contentStart = static_cast<uint32_t>(pos_);
        return true;
      }
      ParseAttribute(node);
    }
  }

  // Reads content up to (not including) the element's "</".
  void ParseContent(XmlNode& node, int depth) {
    for (;;) {
      if (AtEnd()) Fail("Eleman kapanmadi");
      if (text_[pos_] != '<') {
        size_t runEnd = text_.find('<', pos_);
        if (runEnd == kNpos) runEnd = text_.size();
        AppendDecoded(text_.substr(pos_, runEnd - pos_), node.text);
        pos_ = runEnd;
      } else if (StartsWith("</")) {
        return;
      } else if (StartsWith("<!--")) {
        SkipPast("-->", pos_);
      } else if (StartsWith("<![CDATA[")) {
        const size_t from = pos_ + 9;
        const size_t close = text_.find("]]>", from);
        if (close == kNpos) Fail("CDATA kapanmadi");
        node.text.append(text_.data() + from, close - from);
        pos_ = close + 3;
      } else if (StartsWith("<?")) {
        SkipPast("?>", pos_);
      } else {
        ParseElement(node.children.emplace_back(), depth + 1);
      }
    }
  }

  void ParseEndTag(XmlNode& node) {
    node.contentEnd = static_cast<uint32_t>(pos_);
    pos_ += 2;
    // Start and end tag must match byte for byte, although lookups ignore case.
    if (ReadName() != node.name) Fail("Kapanis etiketi uyusmuyor");
    SkipSpace();
    if (AtEnd() || text_[pos_] != '>') Fail("Kapanis etiketi bozuk");
    ++pos_;
    node.end = static_cast<uint32_t>(pos_);
  }

  void ParseElement(XmlNode& node, int depth) {
    // Bounds the recursion: hostile input cannot exhaust the stack.
    if (depth > kXmlMaxDepth) Fail("Cok derin yapi");
    node.start = static_cast<uint32_t>(pos_);
    ++pos_;
    if (!ParseStartTag(node)) return;
    ParseContent(node, depth);
    ParseEndTag(node);
  }

  std::string_view text_;
  size_t pos_ = 0;
};

std::string ErrorText(const ParseError& error, std::string_view source) {
  const size_t stop = std::min<size_t>(error.position, source.size());
  const size_t line = 1 + static_cast<size_t>(std::count(source.begin(), source.begin() + stop, '\n'));
  return error.message + " (satir " + std::to_string(line) + ")";
}

// Entity references for the bytes that would end text or, with `quotes`, a quoted value.
std::string Escape(std::string_view text, bool quotes) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (quotes && c == '"') out += "&quot;";
    else if (quotes && c == '\'') out += "&apos;";
    else out += c;
  }
  return out;
}

// Names in files are matched without regard to ASCII case; the first match wins.
template <typename Item>
Item* FindByName(std::vector<Item>& items, std::string_view name) {
  for (Item& item : items) {
    if (equalsNoCase(item.name, name)) return &item;
  }
  return nullptr;
}

}  // namespace

XmlAttribute* XmlNode::findAttribute(std::string_view attrName) {
  return FindByName(attributes, attrName);
}

const XmlAttribute* XmlNode::findAttribute(std::string_view attrName) const {
  return const_cast<XmlNode*>(this)->findAttribute(attrName);
}

std::string XmlNode::attribute(std::string_view attrName, std::string_view defaultValue) const {
  const XmlAttribute* attr = findAttribute(attrName);
  return attr ? attr->value : std::string(defaultValue);
}

int32_t XmlNode::attributeInt(std::string_view attrName, int32_t defaultValue) const {
  const XmlAttribute* attr = findAttribute(attrName);
  return attr ? parseInt32(attr->value, defaultValue) : defaultValue;
}

XmlNode* XmlNode::child(std::string_view childName) {
  return FindByName(children, childName);
}

const XmlNode* XmlNode::child(std::string_view childName) const {
  return const_cast<XmlNode*>(this)->child(childName);
}

bool XmlDocument::parse(std::string_view input, std::string& errorOut) {
  XmlNode& root = *this;
  root = XmlNode{};
  errorOut.clear();
  // Positions are 32-bit and 0xFFFFFFFF means "none": longer texts cannot be described.
  if (input.size() >= kXmlNoPosition) {
    source.clear();
    errorOut = "Metin cok uzun";
    return false;
  }
  try {
    // Parsed from the caller's bytes rather than the copy, so that a read past the end of the
    // text hits the caller's buffer boundary (and the sanitizers) instead of the copy's spare
    // capacity. The copy is made afterwards because `input` may view `source` itself.
    Parser(input).ParseDocument(root);
    source.assign(input.data(), input.size());
    return true;
  } catch (const ParseError& error) {
    root = XmlNode{};
    errorOut = ErrorText(error, input);
    source.assign(input.data(), input.size());
  } catch (const std::bad_alloc&) {
    root = XmlNode{};
    errorOut = "Bellek yetersiz";
  }
  return false;
}

bool XmlDocument::parse(std::string_view input, std::wstring* errorOut) {
  std::string message;
  const bool ok = parse(input, message);
  if (errorOut) errorOut->assign(message.begin(), message.end());  // the messages are ASCII
  return ok;
}

std::string escapeAttribute(std::string_view text) { return Escape(text, true); }

std::string escapeText(std::string_view text) { return Escape(text, false); }

void XmlEditor::replace(uint32_t start, uint32_t end, std::string replacement) {
  edits.push_back(XmlEdit{start, end, std::move(replacement)});
}

std::string XmlEditor::apply() const {
  // From the back, so the offsets of the edits still to come stay valid. At one start the wider
  // edit goes first (an insertion there then lands in front of it), and insertions at one point
  // keep the order in which they were added.
  std::vector<size_t> order(edits.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(), [this](size_t a, size_t b) {
    const XmlEdit& x = edits[a];
    const XmlEdit& y = edits[b];
    if (x.start != y.start) return x.start > y.start;
    if (x.end != y.end) return x.end > y.end;
    return a > b;
  });
  // Each edit must lie inside the unedited text and end at or before the start of the edit
  // applied just before it. Checking against the current, already edited length instead would
  // let an out-of-range or overlapping edit overwrite the replacement of another one.
  std::string out = source;
  size_t limit = source.size();
  for (size_t index : order) {
    const XmlEdit& edit = edits[index];
    if (edit.start <= edit.end && edit.end <= limit) {
      out.replace(edit.start, edit.end - edit.start, edit.replacement);
      limit = edit.start;
    }
  }
  return out;
}

}  // namespace sv
