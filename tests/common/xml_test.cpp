#include "common/xml.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

namespace {

using sv::XmlDocument;
using sv::XmlNode;

std::string ErrorOf(std::string_view text) {
  XmlDocument doc;
  std::string error;
  if (doc.parse(text, error)) return "(parsed)";
  EXPECT_TRUE(doc.name.empty() && doc.children.empty() && doc.attributes.empty());
  return error;
}

uint32_t Offset(std::string_view text, std::string_view what, size_t from = 0) {
  const size_t at = text.find(what, from);
  EXPECT_NE(at, std::string_view::npos) << what;
  return static_cast<uint32_t>(at);
}

std::string Nested(int levels) {
  std::string text;
  for (int i = 0; i < levels; ++i) text += "<e>";
  for (int i = 0; i < levels; ++i) text += "</e>";
  return text;
}

// A language-file-like document with the constructs real files carry: declaration, comments,
// CRLF line ends, both quote styles, references, CDATA, empty and nested elements.
constexpr std::string_view kSample =
    "\xEF\xBB\xBF"
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<!DOCTYPE locale>\r\n"
    "<!-- language file -->\r\n"
    "<Locale version='2' note=\"a &amp; b &#x131;\">\r\n"
    "  <string key=\"TORRENT_MAIN\" value='Haz&#305;rlan&#x131;yor...'/>\r\n"
    "  <string key=\"LAUNCHER_NEW_URL\" value=\"http://127.0.0.1/?a=1&amp;b=2\"></string>\r\n"
    "  <group name=\"x\"><item id='1'>one &lt;1&gt;</item><item id=\"2\"><![CDATA[<b>two</b>]]></item>"
    "<?pi data?><!-- c --></group>\r\n"
    "</Locale>\r\n"
    "<!-- trailer -->\r\n";

}  // namespace

TEST(XmlParse, EveryErrorMessageWithItsLine) {
  EXPECT_EQ(ErrorOf(""), "Kok eleman yok (satir 1)");
  EXPECT_EQ(ErrorOf(" \t\r\n<?xml version='1.0'?>\n<!-- c -->\n<!DOCTYPE x>\n"), "Kok eleman yok (satir 5)");
  EXPECT_EQ(ErrorOf("<a/>\n x"), "Beklenmeyen metin (satir 2)");
  EXPECT_EQ(ErrorOf("<a/>\n\n<b/>"), "Birden fazla kok eleman (satir 3)");
  EXPECT_EQ(ErrorOf("\n<!-- open -"), "Kapanmamis yapi (satir 2)");
  EXPECT_EQ(ErrorOf("<?xml version='1.0'"), "Kapanmamis yapi (satir 1)");
  EXPECT_EQ(ErrorOf("<!DOCTYPE x"), "Kapanmamis yapi (satir 1)");
  EXPECT_EQ(ErrorOf("<a>\n<!-- </a>"), "Kapanmamis yapi (satir 2)");
  EXPECT_EQ(ErrorOf("<a><? </a>"), "Kapanmamis yapi (satir 1)");
  EXPECT_EQ(ErrorOf("<"), "Gecersiz ad (satir 1)");
  EXPECT_EQ(ErrorOf("<a\n -x='1'/>"), "Gecersiz ad (satir 2)");
  EXPECT_EQ(ErrorOf("<a></>"), "Gecersiz ad (satir 1)");
  EXPECT_EQ(ErrorOf("<a></"), "Gecersiz ad (satir 1)");
  EXPECT_EQ(ErrorOf(Nested(66)), "Cok derin yapi (satir 1)");
  EXPECT_EQ(ErrorOf("<a x='1'\n"), "Etiket kapanmadi (satir 2)");
  EXPECT_EQ(ErrorOf("<a x/>"), "Ozellikte '=' yok (satir 1)");
  EXPECT_EQ(ErrorOf("<a x "), "Ozellikte '=' yok (satir 1)");
  EXPECT_EQ(ErrorOf("<a x=1/>"), "Ozellik degeri tirnaksiz (satir 1)");
  EXPECT_EQ(ErrorOf("<a x='1\"/>"), "Ozellik degeri kapanmadi (satir 1)");
  EXPECT_EQ(ErrorOf("<a x=\""), "Ozellik degeri kapanmadi (satir 1)");
  EXPECT_EQ(ErrorOf("<a>\ntext &amp;\n"), "Eleman kapanmadi (satir 3)");
  EXPECT_EQ(ErrorOf("<a><b/></A>"), "Kapanis etiketi uyusmuyor (satir 1)");
  EXPECT_EQ(ErrorOf("<ab></a>"), "Kapanis etiketi uyusmuyor (satir 1)");
  EXPECT_EQ(ErrorOf("<a></a x>"), "Kapanis etiketi bozuk (satir 1)");
  EXPECT_EQ(ErrorOf("<a></a \n"), "Kapanis etiketi bozuk (satir 2)");
  EXPECT_EQ(ErrorOf("<a>\n<![CDATA[x]]</a>"), "CDATA kapanmadi (satir 2)");
  // Only LF counts as a line end.
  EXPECT_EQ(ErrorOf("<a>\r\r\r</b>"), "Kapanis etiketi uyusmuyor (satir 1)");
  EXPECT_EQ(ErrorOf("<a>\r\n\r\n</b>"), "Kapanis etiketi uyusmuyor (satir 3)");
  // A declaration is skipped before the root only; inside an element it is a bad name.
  EXPECT_EQ(ErrorOf("<a><!DOCTYPE x></a>"), "Gecersiz ad (satir 1)");
}

TEST(XmlParse, WideErrorTextAndOptionalOut) {
  XmlDocument doc;
  std::wstring error;
  EXPECT_FALSE(doc.parse("<a>", &error));
  EXPECT_EQ(error, L"Eleman kapanmadi (satir 1)");
  EXPECT_FALSE(doc.parse("<a>"));
  EXPECT_TRUE(doc.parse("<a/>", &error));
  EXPECT_EQ(doc.name, "a");
  // A failed parse leaves nothing of the earlier tree behind.
  EXPECT_FALSE(doc.parse("<b x='1'><c/>", &error));
  EXPECT_TRUE(doc.name.empty());
  EXPECT_TRUE(doc.children.empty());
  EXPECT_EQ(doc.source, "<b x='1'><c/>");
}

TEST(XmlParse, DepthLimit) {
  XmlDocument doc;
  ASSERT_TRUE(doc.parse(Nested(65)));
  const XmlNode* node = &doc;
  int levels = 1;
  while (!node->children.empty()) {
    node = &node->children[0];
    ++levels;
  }
  EXPECT_EQ(levels, 65);
  EXPECT_FALSE(doc.parse(Nested(66)));
}

TEST(XmlParse, ExactPositions) {
  const std::string_view text = "<?x?>\n<root a=\"1\" b='xy' >te<k/>xt<c  x = 'v'>in</c ></root>";
  XmlDocument doc;
  ASSERT_TRUE(doc.parse(text));
  EXPECT_EQ(doc.source, text);
  EXPECT_EQ(doc.start, Offset(text, "<root"));
  EXPECT_EQ(doc.contentStart, Offset(text, "te"));
  EXPECT_EQ(doc.contentEnd, Offset(text, "</root>"));
  EXPECT_EQ(doc.end, text.size());
  EXPECT_FALSE(doc.selfClosing);
  EXPECT_EQ(doc.text, "text");
  ASSERT_EQ(doc.attributes.size(), 2u);
  EXPECT_EQ(doc.attributes[0].valueStart, Offset(text, "1\""));
  EXPECT_EQ(doc.attributes[0].valueEnd, doc.attributes[0].valueStart + 1);
  EXPECT_EQ(doc.attributes[1].valueStart, Offset(text, "xy"));
  EXPECT_EQ(doc.attributes[1].valueEnd, Offset(text, "' >"));

  ASSERT_EQ(doc.children.size(), 2u);
  const XmlNode& k = doc.children[0];
  EXPECT_TRUE(k.selfClosing);
  EXPECT_EQ(k.start, Offset(text, "<k/>"));
  EXPECT_EQ(k.end, k.start + 4);
  EXPECT_EQ(k.contentStart, sv::kXmlNoPosition);
  EXPECT_EQ(k.contentEnd, sv::kXmlNoPosition);

  const XmlNode& c = doc.children[1];
  EXPECT_EQ(c.start, Offset(text, "<c "));
  EXPECT_EQ(c.contentStart, Offset(text, "in<"));
  EXPECT_EQ(c.contentEnd, Offset(text, "</c"));
  EXPECT_EQ(c.end, Offset(text, "</root>"));
  EXPECT_EQ(c.attributes.at(0).valueStart, Offset(text, "v'"));
  EXPECT_EQ(c.attribute("x"), "v");
  EXPECT_EQ(text.substr(c.contentStart, c.contentEnd - c.contentStart), "in");

  // An empty element written with an end tag has an empty, present content range.
  ASSERT_TRUE(doc.parse("<a></a>"));
  EXPECT_EQ(doc.contentStart, 3u);
  EXPECT_EQ(doc.contentEnd, 3u);
  EXPECT_FALSE(doc.selfClosing);
}

TEST(XmlParse, TextCdataAndDroppedMarkup) {
  XmlDocument doc;
  ASSERT_TRUE(doc.parse("<a>x<![CDATA[<&amp;>]]>y</a>"));
  EXPECT_EQ(doc.text, "x<&amp;>y");
  ASSERT_TRUE(doc.parse("<a> 1 <!-- no --><b>2</b>\t3<?p x?>\r\n4</a>"));
  EXPECT_EQ(doc.text, " 1 \t3\r\n4");
  EXPECT_EQ(doc.children.at(0).text, "2");
  ASSERT_TRUE(doc.parse("<a/>"));
  EXPECT_TRUE(doc.selfClosing);
  EXPECT_TRUE(doc.children.empty());
  EXPECT_TRUE(doc.text.empty());
  // No whitespace needed between attributes; values keep markup, newlines and the other quote.
  ASSERT_TRUE(doc.parse("<a x='1\"2'y=\"<b>\n'\"/>"));
  EXPECT_EQ(doc.attribute("x"), "1\"2");
  EXPECT_EQ(doc.attribute("y"), "<b>\n'");
  // Names may be UTF-8 and carry digits, '-', '.', ':' and '_' after the first byte.
  ASSERT_TRUE(doc.parse("<\xC3\xA7ok:_a-1.b \xC4\xB1" "d='1'></\xC3\xA7ok:_a-1.b>"));
  EXPECT_EQ(doc.name, "\xC3\xA7ok:_a-1.b");
  EXPECT_EQ(doc.attribute("\xC4\xB1" "d"), "1");
}

TEST(XmlParse, References) {
  auto decoded = [](std::string_view raw) {
    XmlDocument doc;
    const std::string text = "<a v=\"" + std::string(raw) + "\">" + std::string(raw) + "</a>";
    EXPECT_TRUE(doc.parse(text)) << raw;
    EXPECT_EQ(doc.text, doc.attribute("v")) << raw;  // same rules in text and attribute values
    return doc.text;
  };
  EXPECT_EQ(decoded("&amp;&lt;&gt;&apos;&quot;"), "&<>'\"");
  EXPECT_EQ(decoded("&amp;lt;"), "&lt;");
  EXPECT_EQ(decoded("&#x41;&#X41;&#65;&#x0041;"), "AAAA");
  EXPECT_EQ(decoded("&#x7F;&#x80;&#x7FF;&#x800;&#xFFFF;&#x10000;&#x10FFFF;"),
            "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
  EXPECT_EQ(decoded("[&#x110000;][&#1114112;]"), "[][]");
  EXPECT_EQ(decoded("&foo;&#x;&#12a;&#;&;&AMP;"), "&foo;&#x;&#12a;&#;&;&AMP;");
  // The value is checked before each further digit: past the last code point, more digits
  // make the reference malformed rather than wrapping around.
  EXPECT_EQ(decoded("&#x10FFFF0;"), "");
  EXPECT_EQ(decoded("&#x11000000;"), "&#x11000000;");
  // The ';' may lie at most 12 bytes behind the '&'.
  EXPECT_EQ(decoded("&#0000000065;"), "A");
  EXPECT_EQ(decoded("&#00000000065;"), "&#00000000065;");
  EXPECT_EQ(decoded("a & b;"), "a & b;");
  EXPECT_EQ(decoded("x&amp"), "x&amp");
  // The search for ';' stays inside the value.
  XmlDocument doc;
  ASSERT_TRUE(doc.parse("<a v='&amp' w=';'/>"));
  EXPECT_EQ(doc.attribute("v"), "&amp");
  // CDATA is not decoded.
  ASSERT_TRUE(doc.parse("<a><![CDATA[&amp;]]></a>"));
  EXPECT_EQ(doc.text, "&amp;");
}

TEST(XmlNodeLookup, AttributesAndChildren) {
  XmlDocument doc;
  ASSERT_TRUE(doc.parse("<r Width=' 42 ' w='' n='-2147483647' big='2147483648' bad='4x' "
                        "plus='+7' width='9'><Item id='1'/><item id='2'/></r>"));
  ASSERT_NE(doc.findAttribute("WIDTH"), nullptr);
  EXPECT_EQ(doc.findAttribute("WIDTH")->value, " 42 ");  // the first of duplicates wins
  EXPECT_EQ(doc.findAttribute("missing"), nullptr);
  EXPECT_EQ(doc.attribute("w", "dflt"), "");
  EXPECT_EQ(doc.attribute("missing", "dflt"), "dflt");
  EXPECT_EQ(doc.attributeInt("width", -1), 42);
  EXPECT_EQ(doc.attributeInt("n", 5), -2147483647);
  EXPECT_EQ(doc.attributeInt("big", 5), 5);
  EXPECT_EQ(doc.attributeInt("bad", 5), 5);
  EXPECT_EQ(doc.attributeInt("w", 5), 5);
  EXPECT_EQ(doc.attributeInt("plus", 5), 7);
  EXPECT_EQ(doc.attributeInt("missing", 5), 5);
  ASSERT_NE(doc.child("ITEM"), nullptr);
  EXPECT_EQ(doc.child("ITEM")->attribute("id"), "1");
  EXPECT_EQ(doc.child("nothing"), nullptr);
  // Only ASCII letters fold: 'I' does not match the dotless i.
  EXPECT_EQ(doc.child("\xC4\xB1tem"), nullptr);
}

TEST(XmlParse, RealisticSample) {
  XmlDocument doc;
  std::string error;
  ASSERT_TRUE(doc.parse(kSample.substr(3), error)) << error;
  EXPECT_EQ(doc.name, "Locale");
  EXPECT_EQ(doc.attribute("note"), "a & b \xC4\xB1");
  ASSERT_EQ(doc.children.size(), 3u);
  EXPECT_EQ(doc.children[0].attribute("value"), "Haz\xC4\xB1rlan\xC4\xB1yor...");
  EXPECT_EQ(doc.children[1].attribute("value"), "http://127.0.0.1/?a=1&b=2");
  const XmlNode& group = doc.children[2];
  ASSERT_EQ(group.children.size(), 2u);
  EXPECT_EQ(group.children[0].text, "one <1>");
  EXPECT_EQ(group.children[1].text, "<b>two</b>");
  EXPECT_EQ(doc.text, "\r\n  \r\n  \r\n  \r\n");
  // The byte-order mark is the caller's to remove: here it is text before the root.
  EXPECT_EQ(ErrorOf(kSample), "Beklenmeyen metin (satir 1)");
}

// Every prefix of a document, each in a heap block of exactly its size, so that a read past the
// end of the text is caught by AddressSanitizer.
TEST(XmlParse, EveryPrefixStaysInBounds) {
  const std::string_view sample = kSample.substr(3);
  for (size_t n = 0; n <= sample.size(); ++n) {
    std::unique_ptr<char[]> block(new char[n == 0 ? 1 : n]);
    char* begin = block.get() + (n == 0 ? 1 : 0);
    std::copy(sample.begin(), sample.begin() + n, begin);
    XmlDocument doc;
    std::string error;
    const bool ok = doc.parse(std::string_view(begin, n), error);
    // The root closes at "</Locale>\r\n"; only prefixes holding it (plus any whole trailer) parse.
    const size_t rootEnd = sample.find("</Locale>") + 9;
    if (n < rootEnd) {
      EXPECT_FALSE(ok) << n;
      EXPECT_NE(error.find(" (satir "), std::string::npos) << n;
    }
    if (n == rootEnd || n == sample.size()) {
      EXPECT_TRUE(ok) << n << ": " << error;
    }
  }
}

TEST(XmlEditor, ReplacesRangesOfTheUneditedText) {
  sv::XmlEditor editor("0123456789abcdefghij");
  editor.replace(10, 12, "<AB>");
  editor.replace(2, 5, "");
  EXPECT_EQ(editor.apply(), "0156789<AB>cdefghij");
  // Out-of-range and reversed edits are skipped; an edit ending at the end is allowed. The
  // range check is against the unedited text: [19, 21) must not reach into the "$" inserted at 20.
  editor.replace(19, 21, "!");
  editor.replace(8, 7, "!");
  editor.replace(20, 20, "$");
  EXPECT_EQ(editor.apply(), "0156789<AB>cdefghij$");
  // Of two overlapping edits the one starting further back is applied, the other skipped.
  sv::XmlEditor overlap("0123456789");
  overlap.replace(2, 6, "a");
  overlap.replace(4, 8, "b");
  EXPECT_EQ(overlap.apply(), "0123b89");
  // Insertions at one point keep their order and land in front of a range starting there.
  sv::XmlEditor insert("abc");
  insert.replace(1, 2, "X");
  insert.replace(1, 1, "1");
  insert.replace(1, 1, "2");
  EXPECT_EQ(insert.apply(), "a12Xc");
  EXPECT_EQ(insert.source, "abc");
}

TEST(XmlEditor, RewritesValuesAndContentKeepingEveryOtherByte) {
  const std::string original(kSample.substr(3));
  XmlDocument doc;
  ASSERT_TRUE(doc.parse(original));
  const sv::XmlAttribute* value = doc.children[0].findAttribute("value");
  const XmlNode& item = doc.children[2].children[0];
  ASSERT_NE(value, nullptr);

  const std::string newValue = "say \"hi\" & 'bye' <now>";
  const std::string newText = "1 < 2 & \"q\" 'a' >";
  sv::XmlEditor editor(doc.source);
  editor.replace(item.contentStart, item.contentEnd, sv::escapeText(newText));
  editor.replace(value->valueStart, value->valueEnd, sv::escapeAttribute(newValue));
  const std::string edited = editor.apply();

  const std::string escapedValue = sv::escapeAttribute(newValue);
  EXPECT_EQ(escapedValue, "say &quot;hi&quot; &amp; &apos;bye&apos; &lt;now&gt;");
  EXPECT_EQ(sv::escapeText(newText), "1 &lt; 2 &amp; \"q\" 'a' &gt;");
  EXPECT_EQ(edited.substr(0, value->valueStart), original.substr(0, value->valueStart));
  const size_t shift = escapedValue.size() - (value->valueEnd - value->valueStart);
  EXPECT_EQ(edited.substr(value->valueEnd + shift, item.contentStart - value->valueEnd),
            original.substr(value->valueEnd, item.contentStart - value->valueEnd));
  const size_t tail = original.size() - item.contentEnd;
  EXPECT_EQ(edited.substr(edited.size() - tail), original.substr(item.contentEnd));

  XmlDocument again;
  ASSERT_TRUE(again.parse(edited));
  EXPECT_EQ(again.children[0].attribute("value"), newValue);
  EXPECT_EQ(again.children[2].children[0].text, newText);
}
