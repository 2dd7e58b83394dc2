// Parse throughput of the XML reader on a generated document shaped like the skin, language and
// feed files (attributes with references, text runs, comments, CDATA, nesting), about 3 MB.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common/xml.h"

namespace {

std::string MakeDocument() {
  std::string doc = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<!-- generated -->\r\n<skin feed_url=\"http://127.0.0.1/feed.xml\">\r\n";
  for (int i = 0; doc.size() < 3'000'000; ++i) {
    const std::string n = std::to_string(i);
    doc += "  <control type=\"button\" id=\"btn" + n + "\" x=\"" + n + "\" y=\"20\" width=\"120\" "
           "image=\"images/button_" + n + ".png\" text='Ba&#351;lat &amp; devam' color=\"#FFEEDDCC\"/>\r\n";
    doc += "  <group name=\"g" + n + "\">\r\n    <string key=\"TORRENT_STATE_" + n + "\" "
           "value=\"Dosyalar kontrol ediliyor... (%d/%d)\"/>\r\n"
           "    <item date=\"2024-01-01\" link=\"http://127.0.0.1/?a=" + n + "&amp;b=2\">Haber metni "
           "&lt;b&gt;kal&#x131;n&lt;/b&gt; ve uzun bir a&#231;&#305;klama sat&#305;r&#305;.</item>\r\n"
           "    <!-- note " + n + " -->\r\n    <raw><![CDATA[<p>ham & metin</p>]]></raw>\r\n  </group>\r\n";
  }
  doc += "</skin>\r\n";
  return doc;
}

}  // namespace

int main() {
  const std::string text = MakeDocument();
  constexpr int kRuns = 21;
  std::vector<double> rates;
  size_t elements = 0;
  for (int run = 0; run < kRuns; ++run) {
    sv::XmlDocument doc;
    const auto begin = std::chrono::steady_clock::now();
    const bool ok = doc.parse(text);
    const auto end = std::chrono::steady_clock::now();
    if (!ok) {
      std::fprintf(stderr, "xml_bench: the generated document did not parse\n");
      return 1;
    }
    elements = doc.children.size();
    const double seconds = std::chrono::duration<double>(end - begin).count();
    rates.push_back(double(text.size()) / 1e6 / seconds);
  }
  std::sort(rates.begin(), rates.end());
  std::fprintf(stderr, "xml_bench: %zu bytes, %zu top-level elements, %d runs\n", text.size(), elements, kRuns);
  std::printf("BENCH xml_parse_mb_per_s %.1f MB/s\n", rates[rates.size() / 2]);
  return 0;
}
