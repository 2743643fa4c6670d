// What the picture and the report share: text made safe for XML and HTML,
// and numbers in the short form the drawing uses. Over the public API alone.
#pragma once

#include <cstdio>
#include <string>

namespace tarvel::markup {

inline bool isUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i++]);
    const int more = c < 0x80 ? 0 : c >= 0xc2 && c <= 0xdf ? 1 : c >= 0xe0 && c <= 0xef ? 2 : c >= 0xf0 && c <= 0xf4 ? 3 : -1;
    if (more < 0 || s.size() - i < static_cast<std::size_t>(more)) return false;
    for (int k = 0; k < more; ++k)
      if ((static_cast<unsigned char>(s[i++]) & 0xc0) != 0x80) return false;
  }
  return true;
}

// Text for XML or HTML, in UTF-8, every markup character escaped: a text that
// is not UTF-8 (a heading written in Latin-1, say) is read as Latin-1;
// control characters are left out.
//   escaped("<b> & \"Q\"") -> "&lt;b&gt; &amp; &quot;Q&quot;"
inline std::string escaped(const std::string& s) {
  const bool utf8 = isUtf8(s);
  std::string r;
  for (char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '&') r += "&amp;";
    else if (c == '<') r += "&lt;";
    else if (c == '>') r += "&gt;";
    else if (c == '"') r += "&quot;";
    else if (c == '\'') r += "&#39;";
    else if (u >= 0x80 && !utf8) r += {static_cast<char>(0xc0 | u >> 6), static_cast<char>(0x80 | (u & 0x3f))};
    else if (u >= 0x20 && u != 0x7f) r += c;
  }
  return r;
}

// Six significant digits, for coordinates.
inline std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

}  // namespace tarvel::markup
